#include "platform/controls.h"

#include <array>
#include <atomic>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/win32/dialog_notifications.h"
#include "platform/win32/image_list.h"
#include "platform/win32/system_headers.h"

// The wrappers on the Win32 common controls. A call from another thread is one SendMessage of a
// private message to the control, whose subclass procedure runs the call on the window thread
// while the caller waits; several messages to the control and the wrapper's own state therefore
// change together, as one window-thread operation, like the Qt wrappers' blocking calls.

namespace {

constexpr UINT kRunMessage = WM_APP + 0x56;  // lParam: the std::function<void()> to run
constexpr UINT_PTR kRunSubclass = 1;
constexpr UINT_PTR kComboSubclass = 2;
constexpr UINT_PTR kComboEditSubclass = 3;
constexpr char kQuietProperty[] = "vx418.quiet";
constexpr char kComboStateProperty[] = "vx418.combo";
constexpr int kTextBufferSize = 1024;  // labels and entries are far shorter

// The two positions of commctrl.h's TVI_* macros that the tree needs (see system_headers.h).
const auto kNativeRoot = reinterpret_cast<Win32TreeItem>(static_cast<ULONG_PTR>(-0x10000));
const auto kNativeLast = reinterpret_cast<Win32TreeItem>(static_cast<ULONG_PTR>(-0x0FFFE));
// Items inserted without an image get an index the image list does not have, so none is drawn
// (-1 would ask the parent for one).
constexpr int kNoImage = -2;
constexpr UINT kUncheckedState = 1;  // state image 1 of a tree with check boxes
constexpr UINT kCheckedState = 2;
constexpr int kStateImageShift = 12;

LRESULT CALLBACK RunProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                         DWORD_PTR /*data*/) {
    if (message == kRunMessage) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 1;
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, RunProc, id);
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

bool IsOwnThread(HWND window) {
    return GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

// Runs fn on the thread that owns the window and returns its result; the empty value when the
// window is missing or gone before its turn.
template <typename Fn>
auto OnWindowThread(HWND window, Fn&& fn) -> std::invoke_result_t<Fn> {
    using Result = std::invoke_result_t<Fn>;
    if constexpr (std::is_void_v<Result>) {
        RunOnControlThread(window, std::function<void()>(std::forward<Fn>(fn)));
    } else {
        Result result{};
        RunOnControlThread(window, [&] { result = fn(); });
        return result;
    }
}

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

// Moves the keyboard focus on before the control that holds it is disabled; a disabled control
// with the focus would leave the dialog deaf to the keyboard.
void ReleaseFocus(HWND control) {
    const HWND focus = GetFocus();
    if (focus != nullptr && (focus == control || IsChild(control, focus))) {
        SendMessageA(GetParent(control), WM_NEXTDLGCTL, 0, FALSE);
    }
}

// A wrapper's change of the control, during which the control's notifications are its own.
class QuietScope {
  public:
    explicit QuietScope(HWND window) : window_(window) {
        SetPropA(window_, kQuietProperty, reinterpret_cast<HANDLE>(1));
    }
    ~QuietScope() { RemovePropA(window_, kQuietProperty); }
    QuietScope(const QuietScope&) = delete;
    QuietScope& operator=(const QuietScope&) = delete;

  private:
    HWND window_;
};

}  // namespace

void RunOnControlThread(HWND__* control, const std::function<void()>& fn) {
    if (control == nullptr) {
        return;
    }
    if (IsOwnThread(control)) {
        fn();
        return;
    }
    SendMessageA(control, kRunMessage, 0, reinterpret_cast<LPARAM>(&fn));
}

bool ControlIsQuiet(HWND__* control) {
    return control != nullptr && GetPropA(control, kQuietProperty) != nullptr;
}

// ---- any control ----

void CWnd::Attach(NativeControl widget) {
    widget_ = widget;
    SetWindowSubclass(widget_, RunProc, kRunSubclass, 0);
}

void CWnd::ShowWindow(bool show) {
    OnWindowThread(widget_, [w = widget_, show] {
        if (!show) {
            ReleaseFocus(w);
        }
        ::ShowWindow(w, show ? SW_SHOWNA : SW_HIDE);
    });
}

void CWnd::EnableWindow(bool enable) {
    OnWindowThread(widget_, [w = widget_, enable] {
        if (!enable) {
            ReleaseFocus(w);
        }
        ::EnableWindow(w, enable ? TRUE : FALSE);
    });
}

bool CWnd::IsWindowVisible() const {
    return OnWindowThread(
        widget_, [w = widget_] { return (GetWindowLongPtrA(w, GWL_STYLE) & WS_VISIBLE) != 0; });
}

bool CWnd::IsWindowEnabled() const {
    return OnWindowThread(widget_, [w = widget_] { return ::IsWindowEnabled(w) != FALSE; });
}

// ---- edit ----

std::string CEdit::GetWindowText() const {
    return OnWindowThread(widget(), [w = widget()] { return WindowText(w); });
}

void CEdit::SetWindowText(const std::string& text) {
    OnWindowThread(widget(), [w = widget(), &text] { SetWindowTextA(w, text.c_str()); });
}

void CEdit::AppendText(const std::string& text) {
    OnWindowThread(widget(), [w = widget(), &text] {
        // No limit: the default one (32,767 characters) would drop lines of a long Log.
        SendMessageA(w, EM_SETLIMITTEXT, 0, 0);
        DWORD start = 0;
        DWORD end = 0;
        SendMessageA(w, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
        const int length = GetWindowTextLengthA(w);
        SendMessageA(w, EM_SETSEL, static_cast<WPARAM>(length), length);
        SendMessageA(w, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
        // The user's caret and selection stay where they were.
        SendMessageA(w, EM_SETSEL, start, static_cast<LPARAM>(end));
    });
}

void CEdit::PostScrollToBottom() {
    if (widget() != nullptr) {
        PostMessageA(widget(), WM_VSCROLL, SB_BOTTOM, 0);
    }
}

// ---- combo box ----

namespace {

// What the wrapper knows of one combo box beyond the control's own state.
struct ComboState {
    bool typedOver = false;     // typed into since the last entry picked or set by the program
    bool enterPending = false;  // an Enter in the edit field is being handled
};

ComboState* StateOf(HWND combo) {
    return combo != nullptr ? static_cast<ComboState*>(GetPropA(combo, kComboStateProperty))
                            : nullptr;
}

// Owns the box's state, which lives and dies with the box.
LRESULT CALLBACK ComboProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                           DWORD_PTR /*data*/) {
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, ComboProc, id);
        delete static_cast<ComboState*>(RemovePropA(window, kComboStateProperty));
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

bool IsEnter(UINT message, WPARAM wParam) {
    return (message == WM_KEYDOWN && wParam == VK_RETURN) || (message == WM_CHAR && wParam == '\r');
}

// Enter in the edit field while the list is open makes the box take the entry its list has
// highlighted for the typed text (on the key or on its character, as the system has it); the
// typed text stays, and stays no entry.
LRESULT CALLBACK ComboEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                               DWORD_PTR data) {
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, ComboEditProc, id);
        return DefSubclassProc(window, message, wParam, lParam);
    }
    auto* state = StateOf(reinterpret_cast<HWND>(data));
    if (state == nullptr || !IsEnter(message, wParam)) {
        return DefSubclassProc(window, message, wParam, lParam);
    }
    const bool typed = state->typedOver;
    const std::string text = WindowText(window);
    state->enterPending = true;
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    state->enterPending = false;
    if (typed && WindowText(window) != text) {
        SetWindowTextA(window, text.c_str());
        state->typedOver = true;
    }
    return result;
}

HWND ComboEdit(HWND combo) {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    return GetComboBoxInfo(combo, &info) != FALSE ? info.hwndItem : nullptr;
}

}  // namespace

void ComboBoxNotified(HWND__* combo, int code) {
    ComboState* state = StateOf(combo);
    if (state == nullptr || ControlIsQuiet(combo)) {
        return;
    }
    switch (code) {
        case CBN_EDITCHANGE:  // the user typed, deleted, cut or pasted
            state->typedOver = true;
            break;
        case CBN_SELCHANGE:  // a pick from the list, by mouse or arrow keys
        case CBN_SELENDOK:
            if (!state->enterPending) {
                state->typedOver = false;
            }
            break;
        default:
            break;
    }
}

void CComboBox::Attach(NativeControl widget) {
    CWnd::Attach(widget);
    SetPropA(widget, kComboStateProperty, new ComboState);
    SetWindowSubclass(widget, ComboProc, kComboSubclass, 0);
    if (const HWND edit = ComboEdit(widget)) {
        SetWindowSubclass(edit, ComboEditProc, kComboEditSubclass,
                          reinterpret_cast<DWORD_PTR>(widget));
    }
}

void CComboBox::ResetContent() {
    OnWindowThread(widget(), [c = widget()] {
        const QuietScope quiet(c);
        SendMessageA(c, CB_RESETCONTENT, 0, 0);
        SetWindowTextA(c, "");
        if (ComboState* state = StateOf(c)) {
            state->typedOver = false;
        }
    });
}

int CComboBox::AddString(const std::string& text) {
    return OnWindowThread(widget(), [c = widget(), &text] {
        const QuietScope quiet(c);
        const LRESULT position =
            SendMessageA(c, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        return position < 0 ? -1 : static_cast<int>(position);
    });
}

void CComboBox::SetCurSel(int index) {
    OnWindowThread(widget(), [c = widget(), index] {
        const QuietScope quiet(c);
        const auto count = static_cast<int>(SendMessageA(c, CB_GETCOUNT, 0, 0));
        const bool entry = index >= 0 && index < count;
        // -1 clears the selection and the edit field.
        SendMessageA(c, CB_SETCURSEL, static_cast<WPARAM>(entry ? index : -1), 0);
        if (ComboState* state = StateOf(c)) {
            state->typedOver = false;
        }
    });
}

int CComboBox::GetCurSel() const {
    return OnWindowThread(widget(), [c = widget()] {
        const ComboState* state = StateOf(c);
        if (state != nullptr && state->typedOver) {
            return -1;
        }
        const LRESULT position = SendMessageA(c, CB_GETCURSEL, 0, 0);
        return position < 0 ? -1 : static_cast<int>(position);
    });
}

int CComboBox::GetCount() const {
    return OnWindowThread(widget(), [c = widget()] {
        const LRESULT count = SendMessageA(c, CB_GETCOUNT, 0, 0);
        return count < 0 ? 0 : static_cast<int>(count);
    });
}

std::string CComboBox::GetLBText(int index) const {
    return OnWindowThread(widget(), [c = widget(), index]() -> std::string {
        if (index < 0 || index >= static_cast<int>(SendMessageA(c, CB_GETCOUNT, 0, 0))) {
            return {};
        }
        const LRESULT length = SendMessageA(c, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length <= 0) {
            return {};
        }
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        const LRESULT copied = SendMessageA(c, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                            reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
        return text;
    });
}

std::string CComboBox::GetWindowText() const {
    return OnWindowThread(widget(), [c = widget()] { return WindowText(c); });
}

// ---- tree ----

namespace {

// Handles of all trees come from one counter, so a handle never names an item of another tree
// or an item inserted after its own was deleted.
std::uint64_t NextItemId() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

Win32TreeItem Native(const void* item) {
    return static_cast<Win32TreeItem>(const_cast<void*>(item));
}

Win32TreeItem Next(HWND tree, UINT relation, Win32TreeItem item) {
    return reinterpret_cast<Win32TreeItem>(
        SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

bool HasCheckBoxes(HWND tree) {
    return (GetWindowLongPtrA(tree, GWL_STYLE) & TVS_CHECKBOXES) != 0;
}

}  // namespace

CTreeCtrl::~CTreeCtrl() = default;

const CTreeCtrl::NativeItem* CTreeCtrl::Find(HTREEITEM item) const {
    const auto it = items_.find(item.id);
    return it == items_.end() ? nullptr : &it->second;
}

HTREEITEM CTreeCtrl::HandleOf(void* item) const {
    if (item == nullptr) {
        return {};
    }
    for (const auto& [id, native] : items_) {
        if (native.item == item) {
            return HTREEITEM{id};
        }
    }
    return {};
}

HTREEITEM CTreeCtrl::Insert(const std::string& text, int image, int selectedImage,
                            HTREEITEM parent) {
    Win32TreeItem parentItem = kNativeRoot;
    if (parent != TVI_ROOT) {
        const NativeItem* found = Find(parent);
        if (found == nullptr) {
            return {};  // a stale parent names nothing; never fall back to another item
        }
        parentItem = Native(found->item);
    }
    TVINSERTSTRUCTA insert{};
    insert.hParent = parentItem;
    insert.hInsertAfter = kNativeLast;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    insert.item.pszText = const_cast<char*>(text.c_str());
    insert.item.iImage = image >= 0 ? image : kNoImage;
    insert.item.iSelectedImage = image >= 0 ? selectedImage : kNoImage;
    const auto item = reinterpret_cast<Win32TreeItem>(
        SendMessageA(widget(), TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
    if (item == nullptr) {
        return {};
    }
    const HTREEITEM handle{NextItemId()};
    items_.emplace(handle.id, NativeItem{item, image >= 0 ? image : -1});
    return handle;
}

bool CTreeCtrl::DeleteAllItems() {
    return OnWindowThread(widget(), [this] {
        // Deleting the selected item moves the selection; that is not a user's selection.
        const QuietScope quiet(widget());
        const bool deleted =
            SendMessageA(widget(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(kNativeRoot)) != 0;
        items_.clear();
        return deleted;
    });
}

HTREEITEM CTreeCtrl::InsertItem(const std::string& text, int image, int selectedImage,
                                HTREEITEM parent) {
    return OnWindowThread(widget(), [this, &text, image, selectedImage, parent] {
        return Insert(text, image, selectedImage, parent);
    });
}

HTREEITEM CTreeCtrl::InsertItem(const std::string& text, HTREEITEM parent) {
    return OnWindowThread(widget(), [this, &text, parent] { return Insert(text, -1, -1, parent); });
}

bool CTreeCtrl::ItemHasChildren(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const NativeItem* found = Find(item);
        return found != nullptr && Next(widget(), TVGN_CHILD, Native(found->item)) != nullptr;
    });
}

bool CTreeCtrl::Expand(HTREEITEM item) {
    return OnWindowThread(widget(), [this, item] {
        const NativeItem* found = Find(item);
        if (found == nullptr) {
            return false;
        }
        SendMessageA(widget(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(found->item));
        return true;
    });
}

bool CTreeCtrl::IsExpanded(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const NativeItem* found = Find(item);
        return found != nullptr &&
               (SendMessageA(widget(), TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(found->item),
                             TVIS_EXPANDED) &
                TVIS_EXPANDED) != 0;
    });
}

HTREEITEM CTreeCtrl::GetRootItem() const {
    return OnWindowThread(widget(),
                          [this] { return HandleOf(Next(widget(), TVGN_ROOT, nullptr)); });
}

HTREEITEM CTreeCtrl::GetChildItem(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        if (item == TVI_ROOT) {
            return HandleOf(Next(widget(), TVGN_ROOT, nullptr));
        }
        const NativeItem* found = Find(item);
        return found == nullptr ? HTREEITEM{}
                                : HandleOf(Next(widget(), TVGN_CHILD, Native(found->item)));
    });
}

HTREEITEM CTreeCtrl::GetNextSiblingItem(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const NativeItem* found = Find(item);
        return found == nullptr ? HTREEITEM{}
                                : HandleOf(Next(widget(), TVGN_NEXT, Native(found->item)));
    });
}

HTREEITEM CTreeCtrl::GetSelectedItem() const {
    return OnWindowThread(widget(),
                          [this] { return HandleOf(Next(widget(), TVGN_CARET, nullptr)); });
}

HTREEITEM CTreeCtrl::GetParentItem(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const NativeItem* found = Find(item);
        return found == nullptr ? HTREEITEM{}
                                : HandleOf(Next(widget(), TVGN_PARENT, Native(found->item)));
    });
}

std::string CTreeCtrl::GetItemText(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item]() -> std::string {
        const NativeItem* found = Find(item);
        if (found == nullptr) {
            return {};
        }
        std::array<char, kTextBufferSize> text{};
        TVITEMA query{};
        query.mask = TVIF_TEXT;
        query.hItem = Native(found->item);
        query.pszText = text.data();
        query.cchTextMax = static_cast<int>(text.size());
        if (SendMessageA(widget(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query)) == 0) {
            return {};
        }
        return query.pszText;
    });
}

int CTreeCtrl::GetItemImage(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const NativeItem* found = Find(item);
        return found == nullptr ? -1 : found->image;
    });
}

bool CTreeCtrl::SelectItem(HTREEITEM item) {
    return OnWindowThread(widget(), [this, item] {
        Win32TreeItem target = nullptr;
        if (item) {
            const NativeItem* found = Find(item);
            if (found == nullptr) {
                return false;
            }
            target = Native(found->item);
        }
        return SendMessageA(widget(), TVM_SELECTITEM, TVGN_CARET,
                            reinterpret_cast<LPARAM>(target)) != 0;
    });
}

bool CTreeCtrl::GetCheck(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const NativeItem* found = Find(item);
        if (found == nullptr || !HasCheckBoxes(widget())) {
            return false;
        }
        const auto state = static_cast<UINT>(SendMessageA(widget(), TVM_GETITEMSTATE,
                                                          reinterpret_cast<WPARAM>(found->item),
                                                          TVIS_STATEIMAGEMASK));
        return (state >> kStateImageShift) == kCheckedState;
    });
}

bool CTreeCtrl::SetCheck(HTREEITEM item, bool checked) {
    return OnWindowThread(widget(), [this, item, checked] {
        const NativeItem* found = Find(item);
        if (found == nullptr || !HasCheckBoxes(widget())) {
            return false;
        }
        TVITEMA change{};
        change.mask = TVIF_STATE;
        change.hItem = Native(found->item);
        change.stateMask = TVIS_STATEIMAGEMASK;
        change.state = (checked ? kCheckedState : kUncheckedState) << kStateImageShift;
        return SendMessageA(widget(), TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change)) != 0;
    });
}

void CTreeCtrl::SetImageList(CImageList* images) {
    OnWindowThread(widget(), [this, images] {
        images_ = images;
        SendMessageA(widget(), TVM_SETIMAGELIST, TVSIL_NORMAL,
                     reinterpret_cast<LPARAM>(images != nullptr ? images->Handle() : nullptr));
    });
}

int CTreeCtrl::GetCount() const {
    return OnWindowThread(widget(), [this] { return static_cast<int>(items_.size()); });
}
