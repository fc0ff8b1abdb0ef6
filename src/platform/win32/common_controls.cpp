#include "platform/win32/common_controls.h"

#include "platform/win32/system_headers.h"

bool InitializeCommonControls() {
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_WIN95_CLASSES;
    return InitCommonControlsEx(&classes) != FALSE;
}
