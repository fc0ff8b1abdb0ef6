#include "platform/common_controls_win.h"

#include "platform/win32_headers.h"

bool InitializeCommonControls() {
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_WIN95_CLASSES;
    return InitCommonControlsEx(&classes) != FALSE;
}
