#include "shell/about_dlg.h"

#include "platform/win32/system_headers.h"
#include "shell/control_ids.h"

namespace {

constexpr int kAboutTemplate = 100;

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    if (message == WM_INITDIALOG) {
        return TRUE;  // focus on OK
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int CAboutDlg::DoModal(HWND__* parent) {
    return static_cast<int>(DialogBoxParamA(
        GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kAboutTemplate), parent, AboutProc, 0));
}
