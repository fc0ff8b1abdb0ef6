// The Win32 half of the main dialog: a window made from dialog template 102
// (res/win32/vx418.rc.in), its dialog procedure turning notifications into commands, the window
// menu's About item, and the modal loop.

#include "shell/cvx418_dlg.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/win32/dialog_notifications.h"
#include "shell/about_dlg.h"

#include "platform/win32/system_headers.h"

namespace {

constexpr int kMainTemplate = 102;
constexpr int kAppIcon = 128;
constexpr int kRedBallIcon = 129;    // tree image 0
constexpr int kGreenBallIcon = 130;  // tree image 1
constexpr UINT kAboutString = 101;
constexpr UINT kAboutCommand = 0x0010;
constexpr WPARAM kSystemCommandMask = 0xFFF0;
constexpr UINT kDrainLogMessage = WM_APP + 1;
constexpr int kMenuTextSize = 128;
// DLGTEMPLATEEX starts with dlgVer, signature 0xFFFF, helpID and exStyle, then style.
constexpr WORD kExtendedTemplateSignature = 0xFFFF;
constexpr std::size_t kSignatureOffset = 2;
constexpr std::size_t kExtendedStyleOffset = 12;

constexpr std::array kComboBoxes{IDC_CONNECT_PICKER, IDC_BACKUP1_PICKER, IDC_BACKUP2_PICKER,
                                 IDC_TOPOLOGY_COMBO, IDC_ADAPTER_COMBO};

HINSTANCE Instance() {
    return GetModuleHandleA(nullptr);
}

// A copy of the dialog template with WS_VISIBLE cleared: the window shows only once it is
// initialised (DoModal), never empty.
std::vector<BYTE> HiddenTemplate(int id) {
    const HRSRC found = FindResourceA(Instance(), MAKEINTRESOURCEA(id), RT_DIALOG);
    const HGLOBAL loaded = found != nullptr ? LoadResource(Instance(), found) : nullptr;
    const auto* data = static_cast<const BYTE*>(loaded != nullptr ? LockResource(loaded) : nullptr);
    if (data == nullptr) {
        return {};
    }
    std::vector<BYTE> copy(data, data + SizeofResource(Instance(), found));
    WORD signature = 0;
    std::memcpy(&signature, copy.data() + kSignatureOffset, sizeof signature);
    const std::size_t at = signature == kExtendedTemplateSignature ? kExtendedStyleOffset : 0;
    DWORD style = 0;
    std::memcpy(&style, copy.data() + at, sizeof style);
    style &= ~static_cast<DWORD>(WS_VISIBLE);
    std::memcpy(copy.data() + at, &style, sizeof style);
    return copy;
}

HICON LoadSmallIcon(int id) {
    return static_cast<HICON>(LoadImageA(Instance(), MAKEINTRESOURCEA(id), IMAGE_ICON,
                                         kTreeImageSize, kTreeImageSize, LR_DEFAULTCOLOR));
}

}  // namespace

// The window and its dialog procedure: each notification raises its fixed command number.
struct CVX418Dlg::Window {
    CVX418Dlg& owner;
    HWND hwnd = nullptr;
    HICON icon = LoadIconA(Instance(), MAKEINTRESOURCEA(kAppIcon));
    bool ended = false;
    int result = 0;

    static Window* Of(HWND window) {
        return reinterpret_cast<Window*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    }

    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            auto* self = reinterpret_cast<Window*>(lParam);
            SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
            self->hwnd = window;
            self->BindControls();
            return FALSE;  // the focus is set when the dialog is shown
        }
        Window* self = Of(window);
        if (self == nullptr) {
            return FALSE;
        }
        switch (message) {
            case WM_COMMAND:
                return self->OnCommand(LOWORD(wParam), HIWORD(wParam),
                                       reinterpret_cast<HWND>(lParam));
            case WM_NOTIFY:
                return self->OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
            case WM_SYSCOMMAND:
                if ((wParam & kSystemCommandMask) == kAboutCommand) {
                    CAboutDlg about;
                    about.DoModal(window);
                    return TRUE;
                }
                return FALSE;
            case WM_PAINT:
                return self->PaintMinimised();
            case WM_QUERYDRAGICON:
                return reinterpret_cast<INT_PTR>(self->icon);
            case WM_CLOSE:
                self->owner.EndDialog(IDCANCEL);
                return TRUE;
            case kDrainLogMessage:
                self->owner.DrainLog();
                return TRUE;
            default:
                return FALSE;
        }
    }

    void BindControls() {
        // The dialog's own children only: a combo box's edit field is the box's child.
        std::vector<std::pair<int, NativeControl>> children;
        for (HWND child = GetWindow(hwnd, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            const int id = GetDlgCtrlID(child);
            if (id > 0 && id != 0xFFFF) {  // labels and frames without an id have none
                children.emplace_back(id, child);
            }
        }
        owner.BindControls(children);
        // Check boxes set in the template may come up unchecked-looking or missing until the
        // style is applied again after the tree exists (the documented way to turn them on).
        const HWND tree = ::GetDlgItem(hwnd, IDC_CONNECTIONS_TREE);
        const LONG_PTR style = GetWindowLongPtrA(tree, GWL_STYLE);
        SetWindowLongPtrA(tree, GWL_STYLE, style & ~static_cast<LONG_PTR>(TVS_CHECKBOXES));
        SetWindowLongPtrA(tree, GWL_STYLE, style);
    }

    INT_PTR OnCommand(int id, int code, HWND control) {
        if (std::find(kComboBoxes.begin(), kComboBoxes.end(), id) != kComboBoxes.end()) {
            ComboBoxNotified(control, code);
            if (const auto command = CommandOf(kPickerCommands, id);
                command && code == CBN_DROPDOWN) {
                owner.Raise(*command);
            }
            return TRUE;
        }
        if (code != BN_CLICKED) {
            return FALSE;
        }
        if (id == IDCANCEL) {  // Escape
            owner.EndDialog(IDCANCEL);
        } else if (const auto command = CommandOf(kButtonCommands, id)) {
            owner.Raise(*command);
        }
        // IDOK (Enter in a field) does nothing: the OK button is hidden and disabled.
        return TRUE;
    }

    INT_PTR OnNotify(const NMHDR& header) {
        const auto command = CommandOf(kTreeCommands, static_cast<int>(header.idFrom));
        const bool selectionOrClick = header.code == TVN_SELCHANGEDA ||
                                      header.code == TVN_SELCHANGEDW ||
                                      header.code == static_cast<UINT>(NM_CLICK);
        if (!command || !selectionOrClick) {
            return FALSE;
        }
        // A tree emptied by the program raises nothing.
        if (!ControlIsQuiet(header.hwndFrom)) {
            owner.Raise(*command);
        }
        // Result 0: the tree goes on with its own handling of the click.
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, 0);
        return TRUE;
    }

    // Minimised, the window shows its icon in the middle of the client area.
    INT_PTR PaintMinimised() {
        if (IsIconic(hwnd) == FALSE) {
            return FALSE;
        }
        PAINTSTRUCT paint{};
        const HDC dc = BeginPaint(hwnd, &paint);
        SendMessageA(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client{};
        GetClientRect(hwnd, &client);
        const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, icon);
        EndPaint(hwnd, &paint);
        return TRUE;
    }
};

void CVX418Dlg::WindowDeleter::operator()(Window* window) const {
    if (window->hwnd != nullptr) {
        SetWindowLongPtrA(window->hwnd, GWLP_USERDATA, 0);
        DestroyWindow(window->hwnd);
    }
    delete window;
}

CVX418Dlg::CVX418Dlg(CommandHandler dispatch)
    : dispatch_(std::move(dispatch)), window_(new Window{*this}) {
    const std::vector<BYTE> hidden = HiddenTemplate(kMainTemplate);
    if (hidden.empty() || CreateDialogIndirectParamA(
                              Instance(), reinterpret_cast<LPCDLGTEMPLATEA>(hidden.data()), nullptr,
                              &Window::Proc, reinterpret_cast<LPARAM>(window_.get())) == nullptr) {
        std::fprintf(stderr, "vx418: the main dialog could not be made (error %lu)\n",
                     GetLastError());
    }
}

void CVX418Dlg::InitWindow() {
    const HWND hwnd = window_->hwnd;
    if (const HMENU menu = GetSystemMenu(hwnd, FALSE)) {
        std::array<char, kMenuTextSize> text{};
        if (LoadStringA(Instance(), kAboutString, text.data(), static_cast<int>(text.size())) > 0) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, kAboutCommand, text.data());
        }
    }
    for (const int icon : {kRedBallIcon, kGreenBallIcon}) {  // images 0 and 1
        const HICON loaded = LoadSmallIcon(icon);
        m_pImageList->Add(loaded);
        DestroyIcon(loaded);  // the list keeps its own copy
    }
    SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(window_->icon));
    SendMessageA(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(window_->icon));
}

bool CVX418Dlg::OnWindowThread() const {
    return GetWindowThreadProcessId(window_->hwnd, nullptr) == GetCurrentThreadId();
}

bool CVX418Dlg::PostDrainLog() {
    return PostMessageA(window_->hwnd, kDrainLogMessage, 0, 0) != FALSE;
}

int CVX418Dlg::DoModal() {
    const HWND hwnd = window_->hwnd;
    if (hwnd == nullptr) {
        return -1;
    }
    window_->ended = false;
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
    // The first tab stop that can take the focus.
    SendMessageA(hwnd, WM_NEXTDLGCTL,
                 reinterpret_cast<WPARAM>(GetNextDlgTabItem(hwnd, nullptr, FALSE)), TRUE);
    MSG message{};
    while (!window_->ended) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            break;  // WM_QUIT or no message queue
        }
        if (IsDialogMessageA(hwnd, &message) == FALSE) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return window_->result;
}

void CVX418Dlg::EndDialog(int result) {
    window_->result = result;
    window_->ended = true;
    ShowWindow(window_->hwnd, SW_HIDE);
    PostMessageA(window_->hwnd, WM_NULL, 0, 0);  // wakes DoModal's loop
}

NativeDialog CVX418Dlg::GetSafeHwnd() const {
    return window_->hwnd;
}
