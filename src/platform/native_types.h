#pragma once

// The toolkit's own types behind the portable classes: Qt's in the Linux build, Win32's in the
// Windows build. This is the one place where the preprocessor tells the two front ends apart;
// their code stands in folders of its own (qt/ and win32/ of platform/, shell/ and app/).

#ifdef _WIN32
struct HWND__;
struct HICON__;
using NativeControl = HWND__*;  // a control's window
using NativeDialog = HWND__*;
using NativeIcon = HICON__*;
#else
class QWidget;
class QDialog;
class QIcon;
using NativeControl = QWidget*;
using NativeDialog = QDialog*;
using NativeIcon = QIcon;
#endif
