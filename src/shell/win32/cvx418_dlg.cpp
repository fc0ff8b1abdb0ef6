#include "shell/cvx418_dlg.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/win32/dialog_notifications.h"
#include "platform/win32/image_list.h"
#include "shell/shell_state.h"
#include "shell/win32/about_dlg.h"

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
constexpr int kTreeImageSize = 16;
constexpr int kMenuTextSize = 128;
// DLGTEMPLATEEX starts with dlgVer, signature 0xFFFF, helpID and exStyle, then style.
constexpr WORD kExtendedTemplateSignature = 0xFFFF;
constexpr std::size_t kSignatureOffset = 2;
constexpr std::size_t kExtendedStyleOffset = 12;

constexpr std::array kComboBoxes{IDC_CONNECT_PICKER, IDC_BACKUP1_PICKER, IDC_BACKUP2_PICKER,
                                 IDC_TOPOLOGY_COMBO, IDC_ADAPTER_COMBO};

template <std::size_t N>
int CommandOf(const std::array<std::pair<int, int>, N>& table, int id) {
    for (const auto& [control, command] : table) {
        if (control == id) {
            return command;
        }
    }
    return -1;
}

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

// The dialog procedure: each notification raises its fixed command number.
struct CVX418Dlg::Window {
    static CVX418Dlg* Of(HWND window) {
        return reinterpret_cast<CVX418Dlg*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    }

    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            auto* dialog = reinterpret_cast<CVX418Dlg*>(lParam);
            SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
            dialog->m_hWnd = window;
            dialog->BindControls();
            return FALSE;  // the focus is set when the dialog is shown
        }
        CVX418Dlg* dialog = Of(window);
        if (dialog == nullptr) {
            return FALSE;
        }
        switch (message) {
            case WM_COMMAND:
                return OnCommand(*dialog, LOWORD(wParam), HIWORD(wParam),
                                 reinterpret_cast<HWND>(lParam));
            case WM_NOTIFY:
                return OnNotify(*dialog, *reinterpret_cast<const NMHDR*>(lParam));
            case WM_SYSCOMMAND:
                if ((wParam & kSystemCommandMask) == kAboutCommand) {
                    CAboutDlg about;
                    about.DoModal(window);
                    return TRUE;
                }
                return FALSE;
            case WM_PAINT:
                return PaintMinimised(*dialog);
            case WM_QUERYDRAGICON:
                return reinterpret_cast<INT_PTR>(dialog->m_hIcon);
            case WM_CLOSE:
                dialog->EndDialog(IDCANCEL);
                return TRUE;
            case kDrainLogMessage:
                dialog->DrainLog();
                return TRUE;
            default:
                return FALSE;
        }
    }

    static INT_PTR OnCommand(CVX418Dlg& dialog, int id, int code, HWND control) {
        if (std::find(kComboBoxes.begin(), kComboBoxes.end(), id) != kComboBoxes.end()) {
            ComboBoxNotified(control, code);
            if (const int command = CommandOf(kPickerCommands, id);
                command >= 0 && code == CBN_DROPDOWN) {
                dialog.Raise(command);
            }
            return TRUE;
        }
        if (code != BN_CLICKED) {
            return FALSE;
        }
        if (id == IDCANCEL) {  // Escape
            dialog.EndDialog(IDCANCEL);
        } else if (const int command = CommandOf(kButtonCommands, id); command >= 0) {
            dialog.Raise(command);
        }
        // IDOK (Enter in a field) does nothing: the OK button is hidden and disabled.
        return TRUE;
    }

    static INT_PTR OnNotify(CVX418Dlg& dialog, const NMHDR& header) {
        const int command = CommandOf(kTreeCommands, static_cast<int>(header.idFrom));
        const bool selectionOrClick = header.code == TVN_SELCHANGEDA ||
                                      header.code == TVN_SELCHANGEDW ||
                                      header.code == static_cast<UINT>(NM_CLICK);
        if (command < 0 || !selectionOrClick) {
            return FALSE;
        }
        // A tree emptied by the program raises nothing.
        if (!ControlIsQuiet(header.hwndFrom)) {
            dialog.Raise(command);
        }
        // Result 0: the tree goes on with its own handling of the click.
        SetWindowLongPtrA(dialog.m_hWnd, DWLP_MSGRESULT, 0);
        return TRUE;
    }

    // Minimised, the window shows its icon in the middle of the client area.
    static INT_PTR PaintMinimised(CVX418Dlg& dialog) {
        if (IsIconic(dialog.m_hWnd) == FALSE) {
            return FALSE;
        }
        PAINTSTRUCT paint{};
        const HDC dc = BeginPaint(dialog.m_hWnd, &paint);
        SendMessageA(dialog.m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client{};
        GetClientRect(dialog.m_hWnd, &client);
        const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, dialog.m_hIcon);
        EndPaint(dialog.m_hWnd, &paint);
        return TRUE;
    }
};

CVX418Dlg::CVX418Dlg(CommandHandler dispatch)
    : m_hIcon(LoadIconA(Instance(), MAKEINTRESOURCEA(kAppIcon))), dispatch_(std::move(dispatch)) {
    const std::vector<BYTE> hidden = HiddenTemplate(kMainTemplate);
    if (hidden.empty() || CreateDialogIndirectParamA(
                              Instance(), reinterpret_cast<LPCDLGTEMPLATEA>(hidden.data()), nullptr,
                              &Window::Proc, reinterpret_cast<LPARAM>(this)) == nullptr) {
        std::fprintf(stderr, "vx418: the main dialog could not be made (error %lu)\n",
                     GetLastError());
    }
}

CVX418Dlg::~CVX418Dlg() {
    // Nothing may reach a dialog that is gone (matters where dialogs are made more than once).
    CVX418Dlg* self = this;
    MainDialog.compare_exchange_strong(self, nullptr);
    if (m_hWnd != nullptr) {
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hWnd);
    }
}

void CVX418Dlg::BindControls() {
    for (const auto& [id, member] : MemberControls()) {
        controls_.emplace(id, member);
    }
    // The dialog's own children only: a combo box's edit field is the box's child.
    for (HWND child = GetWindow(m_hWnd, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        if (id <= 0 || id == 0xFFFF) {
            continue;  // labels and frames without an id
        }
        auto found = controls_.find(id);
        if (found == controls_.end()) {
            // Labels and the standard buttons have no member but are reachable by id.
            unnamed_.push_back(std::make_unique<CWnd>());
            found = controls_.emplace(id, unnamed_.back().get()).first;
        }
        found->second->Attach(child);
    }
    // Check boxes set in the template may come up unchecked-looking or missing until the style
    // is applied again after the tree exists (the documented way to turn them on).
    const HWND tree = ::GetDlgItem(m_hWnd, IDC_CONNECTIONS_TREE);
    const LONG_PTR style = GetWindowLongPtrA(tree, GWL_STYLE);
    SetWindowLongPtrA(tree, GWL_STYLE, style & ~static_cast<LONG_PTR>(TVS_CHECKBOXES));
    SetWindowLongPtrA(tree, GWL_STYLE, style);
}

void CVX418Dlg::Raise(int command) {
    if (dispatch_) {
        dispatch_(command);
    }
}

CWnd* CVX418Dlg::GetDlgItem(int id) {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

bool CVX418Dlg::OnInitDialog() {
    if (const HMENU menu = GetSystemMenu(m_hWnd, FALSE)) {
        std::array<char, kMenuTextSize> text{};
        if (LoadStringA(Instance(), kAboutString, text.data(), static_cast<int>(text.size())) > 0) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, kAboutCommand, text.data());
        }
    }

    m_pImageList = std::make_unique<CImageList>(kTreeImageSize, kTreeImageSize);
    for (const int icon : {kRedBallIcon, kGreenBallIcon}) {  // images 0 and 1
        const HICON loaded = LoadSmallIcon(icon);
        m_pImageList->Add(loaded);
        DestroyIcon(loaded);  // the list keeps its own copy
    }
    m_ConnectionsTree.SetImageList(m_pImageList.get());

    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    Raise(0);
    return true;
}

int CVX418Dlg::DoModal() {
    if (m_hWnd == nullptr) {
        return -1;
    }
    ended_ = false;
    ShowWindow(m_hWnd, SW_SHOW);
    SetForegroundWindow(m_hWnd);
    // The first tab stop that can take the focus.
    SendMessageA(m_hWnd, WM_NEXTDLGCTL,
                 reinterpret_cast<WPARAM>(GetNextDlgTabItem(m_hWnd, nullptr, FALSE)), TRUE);
    MSG message{};
    while (!ended_) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            break;  // WM_QUIT or no message queue
        }
        if (IsDialogMessageA(m_hWnd, &message) == FALSE) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return result_;
}

void CVX418Dlg::EndDialog(int result) {
    result_ = result;
    ended_ = true;
    ShowWindow(m_hWnd, SW_HIDE);
    PostMessageA(m_hWnd, WM_NULL, 0, 0);  // wakes DoModal's loop
}

void CVX418Dlg::AppendLogText(std::string text) {
    if (m_hWnd == nullptr) {
        return;
    }
    if (GetWindowThreadProcessId(m_hWnd, nullptr) == GetCurrentThreadId()) {
        std::string batch;
        {
            const std::lock_guard lock(logMutex_);
            batch.swap(pendingLog_);  // lines queued earlier go first
        }
        batch += text;
        m_LogPane.AppendText(batch);
        m_LogPane.PostScrollToBottom();
        return;
    }
    bool post = false;
    {
        const std::lock_guard lock(logMutex_);
        pendingLog_ += text;
        post = !std::exchange(drainPosted_, true);
    }
    // A full message queue refuses the post: the next line tries again.
    if (post && PostMessageA(m_hWnd, kDrainLogMessage, 0, 0) == FALSE) {
        const std::lock_guard lock(logMutex_);
        drainPosted_ = false;
    }
}

void CVX418Dlg::DrainLog() {
    std::string batch;
    {
        const std::lock_guard lock(logMutex_);
        batch.swap(pendingLog_);
        drainPosted_ = false;
    }
    if (!batch.empty()) {
        m_LogPane.AppendText(batch);
        m_LogPane.PostScrollToBottom();
    }
}
