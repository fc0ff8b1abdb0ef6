#pragma once

#include "platform/native_types.h"

// The text of the About item: the Qt dialog's background menu (the Win32 one has it as string
// 101 of res/win32/vx418.rc.in, for its window menu).
inline constexpr const char* kAboutMenuText = "&About VX418...";

// The About box (template 100). Made on the stack each time it is shown.
class CAboutDlg {
  public:
    // Shows the box over parent until OK, Escape or its close box ends it; it blocks the
    // parent, not the message boxes of running workers.
    int DoModal(NativeDialog parent);
};
