#pragma once

// MB_OK: one OK button, no icon. MB_ICONERROR adds the error icon.
inline constexpr unsigned MB_OK = 0;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr int IDOK_RESULT = 1;

// A message box with no owner window. Blocks only the calling thread (never call it from the
// window thread while that thread must stay responsive); the main window stays usable and
// several boxes may be open at once. Returns the button pressed.
int MessageBoxA(void* owner, const char* text, const char* caption, unsigned type);
