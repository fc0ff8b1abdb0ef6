#pragma once

// windows.h and commctrl.h for the Win32 front end's sources (platform/win32/ and
// shell/win32/), included after or before the project's headers alike. The system's names that
// clash with the project's are set aside here:
// - HTREEITEM: the control wrappers have a handle type of that name (never reused, so a stale
//   one is harmless), so the system's pointer type is read as Win32TreeItem, and the TVI_*
//   macros that cast to it are dropped (controls.cpp names the two it needs);
// - GetWindowText/SetWindowText would rename the wrappers' methods to ...A;
// - IDOK, IDCANCEL, MB_OK and MB_ICONERROR are constants of the project (same values).

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#define HTREEITEM Win32TreeItem
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#undef HTREEITEM
#undef TVI_ROOT
#undef TVI_FIRST
#undef TVI_LAST
#undef TVI_SORT
#undef GetWindowText
#undef SetWindowText
#undef IDOK
#undef IDCANCEL
#undef MB_OK
#undef MB_ICONERROR
