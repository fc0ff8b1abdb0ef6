// The control wrappers' native calls on the Win32 common controls (platform/native_controls.h),
// and the tree image list as a system image list of fixed-size 32-bit images. A call from
// another thread is one SendMessage of a private message to the control, whose subclass
// procedure runs the call on the window thread while the caller waits; several messages to the
// control and the wrapper's own state therefore change together, as one window-thread
// operation, like the Qt wrappers' blocking calls.

#include <array>
#include <string>

#include "platform/image_list.h"
#include "platform/native_controls.h"
#include "platform/win32/dialog_notifications.h"
#include "platform/win32/system_headers.h"

struct CImageList::Native {
    explicit Native(HIMAGELIST handle) : list(handle) {}
    ~Native() {
        if (list != nullptr) {
            ImageList_Destroy(list);
        }
    }
    Native(const Native&) = delete;
    Native& operator=(const Native&) = delete;

    HIMAGELIST list;
};

namespace {

constexpr int kImageListGrowBy = 2;
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

// What the toolkit knows of one combo box beyond the control's own state.
struct ComboState {
    bool* typedOver = nullptr;  // the wrapper's
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
    const bool typed = *state->typedOver;
    const std::string text = WindowText(window);
    state->enterPending = true;
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    state->enterPending = false;
    if (typed && WindowText(window) != text) {
        SetWindowTextA(window, text.c_str());
        *state->typedOver = true;
    }
    return result;
}

HWND ComboEdit(HWND combo) {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    return GetComboBoxInfo(combo, &info) != FALSE ? info.hwndItem : nullptr;
}

Win32TreeItem TreeItemOf(void* item) {
    return static_cast<Win32TreeItem>(item);
}

Win32TreeItem Next(HWND tree, UINT relation, Win32TreeItem item) {
    return reinterpret_cast<Win32TreeItem>(
        SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

bool HasCheckBoxes(HWND tree) {
    return (GetWindowLongPtrA(tree, GWL_STYLE) & TVS_CHECKBOXES) != 0;
}

}  // namespace

CImageList::CImageList(int width, int height)
    : native_(std::make_unique<Native>(
          ImageList_Create(width, height, ILC_COLOR32, 0, kImageListGrowBy))) {}

CImageList::~CImageList() = default;

int CImageList::Add(HICON__* const& icon) {
    return native_->list != nullptr && icon != nullptr ? ImageList_AddIcon(native_->list, icon)
                                                       : -1;
}

int CImageList::GetImageCount() const {
    return native_->list != nullptr ? ImageList_GetImageCount(native_->list) : 0;
}

bool ControlIsQuiet(HWND__* control) {
    return control != nullptr && GetPropA(control, kQuietProperty) != nullptr;
}

void ComboBoxNotified(HWND__* combo, int code) {
    ComboState* state = StateOf(combo);
    if (state == nullptr || ControlIsQuiet(combo)) {
        return;
    }
    switch (code) {
        case CBN_EDITCHANGE:  // the user typed, deleted, cut or pasted
            *state->typedOver = true;
            break;
        case CBN_SELCHANGE:  // a pick from the list, by mouse or arrow keys
        case CBN_SELENDOK:
            if (!state->enterPending) {
                *state->typedOver = false;
            }
            break;
        default:
            break;
    }
}

namespace toolkit {

void RunOnWindowThread(HWND__* control, const std::function<void()>& fn) {
    if (control == nullptr) {
        return;
    }
    if (IsOwnThread(control)) {
        fn();
        return;
    }
    SendMessageA(control, kRunMessage, 0, reinterpret_cast<LPARAM>(&fn));
}

// ---- any control ----

void PrepareControl(HWND__* control) {
    SetWindowSubclass(control, RunProc, kRunSubclass, 0);
}

void ShowControl(HWND__* control, bool show) {
    if (!show) {
        ReleaseFocus(control);
    }
    ::ShowWindow(control, show ? SW_SHOWNA : SW_HIDE);
}

void EnableControl(HWND__* control, bool enable) {
    if (!enable) {
        ReleaseFocus(control);
    }
    ::EnableWindow(control, enable ? TRUE : FALSE);
}

bool ControlVisible(HWND__* control) {
    return (GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool ControlEnabled(HWND__* control) {
    return ::IsWindowEnabled(control) != FALSE;
}

// ---- edit ----

std::string ControlText(HWND__* control) {
    return WindowText(control);
}

void SetControlText(HWND__* control, const std::string& text) {
    SetWindowTextA(control, text.c_str());
}

void AppendControlText(HWND__* control, const std::string& text) {
    // No limit: the default one (32,767 characters) would drop lines of a long Log.
    SendMessageA(control, EM_SETLIMITTEXT, 0, 0);
    DWORD start = 0;
    DWORD end = 0;
    SendMessageA(control, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    const int length = GetWindowTextLengthA(control);
    SendMessageA(control, EM_SETSEL, static_cast<WPARAM>(length), length);
    SendMessageA(control, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    // The user's caret and selection stay where they were.
    SendMessageA(control, EM_SETSEL, start, static_cast<LPARAM>(end));
}

void PostScrollToBottom(HWND__* control) {
    PostMessageA(control, WM_VSCROLL, SB_BOTTOM, 0);
}

// ---- combo box ----

void AttachComboBox(HWND__* combo, bool& typedOver) {
    SetPropA(combo, kComboStateProperty, new ComboState{&typedOver, false});
    SetWindowSubclass(combo, ComboProc, kComboSubclass, 0);
    if (const HWND edit = ComboEdit(combo)) {
        SetWindowSubclass(edit, ComboEditProc, kComboEditSubclass,
                          reinterpret_cast<DWORD_PTR>(combo));
    }
}

void ClearComboBox(HWND__* combo) {
    const QuietScope quiet(combo);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    SetWindowTextA(combo, "");
}

int AddComboEntry(HWND__* combo, const std::string& text) {
    const QuietScope quiet(combo);
    const LRESULT position =
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return position < 0 ? -1 : static_cast<int>(position);
}

int ComboEntryCount(HWND__* combo) {
    const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    return count < 0 ? 0 : static_cast<int>(count);
}

std::string ComboEntryText(HWND__* combo, int index) {
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT copied = SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                        reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

int ComboSelection(HWND__* combo) {
    const LRESULT position = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    return position < 0 ? -1 : static_cast<int>(position);
}

void SelectComboEntry(HWND__* combo, int index) {
    const QuietScope quiet(combo);
    // -1 clears the selection and the edit field.
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

// ---- tree ----

void* InsertTreeItem(HWND__* tree, void* parent, const std::string& text, int image,
                     int selectedImage) {
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent != nullptr ? TreeItemOf(parent) : kNativeRoot;
    insert.hInsertAfter = kNativeLast;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    insert.item.pszText = const_cast<char*>(text.c_str());
    insert.item.iImage = image >= 0 ? image : kNoImage;
    insert.item.iSelectedImage = image >= 0 ? selectedImage : kNoImage;
    return reinterpret_cast<Win32TreeItem>(
        SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

bool ClearTree(HWND__* tree) {
    // Deleting the selected item moves the selection; that is not a user's selection.
    const QuietScope quiet(tree);
    return SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(kNativeRoot)) != 0;
}

void* TreeRootItem(HWND__* tree) {
    return Next(tree, TVGN_ROOT, nullptr);
}

void* TreeSelectedItem(HWND__* tree) {
    return Next(tree, TVGN_CARET, nullptr);
}

void* TreeChildItem(HWND__* tree, void* item) {
    return Next(tree, TVGN_CHILD, TreeItemOf(item));
}

void* TreeNextSiblingItem(HWND__* tree, void* item) {
    return Next(tree, TVGN_NEXT, TreeItemOf(item));
}

void* TreeParentItem(HWND__* tree, void* item) {
    return Next(tree, TVGN_PARENT, TreeItemOf(item));
}

bool TreeItemHasChildren(HWND__* tree, void* item) {
    return Next(tree, TVGN_CHILD, TreeItemOf(item)) != nullptr;
}

std::string TreeItemText(HWND__* tree, void* item) {
    std::array<char, kTextBufferSize> text{};
    TVITEMA query{};
    query.mask = TVIF_TEXT;
    query.hItem = TreeItemOf(item);
    query.pszText = text.data();
    query.cchTextMax = static_cast<int>(text.size());
    if (SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query)) == 0) {
        return {};
    }
    return query.pszText;
}

bool ExpandTreeItem(HWND__* tree, void* item) {
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    return true;
}

bool TreeItemExpanded(HWND__* tree, void* item) {
    return (SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_EXPANDED) &
            TVIS_EXPANDED) != 0;
}

bool SelectTreeItem(HWND__* tree, void* item) {
    return SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) != 0;
}

bool TreeItemChecked(HWND__* tree, void* item) {
    if (!HasCheckBoxes(tree)) {
        return false;
    }
    const auto state = static_cast<UINT>(
        SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_STATEIMAGEMASK));
    return (state >> kStateImageShift) == kCheckedState;
}

bool CheckTreeItem(HWND__* tree, void* item, bool checked) {
    if (!HasCheckBoxes(tree)) {
        return false;
    }
    TVITEMA change{};
    change.mask = TVIF_STATE;
    change.hItem = TreeItemOf(item);
    change.stateMask = TVIS_STATEIMAGEMASK;
    change.state = (checked ? kCheckedState : kUncheckedState) << kStateImageShift;
    return SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change)) != 0;
}

void SetTreeImageList(HWND__* tree, const CImageList* images) {
    SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_NORMAL,
                 reinterpret_cast<LPARAM>(images != nullptr ? images->native().list : nullptr));
}

void ShowTreeItemImages(HWND__* /*tree*/, void* /*item*/, int /*image*/, int /*selectedImage*/,
                        const CImageList* /*images*/) {
    // The tree view draws each item's images from its list by the positions it was given.
}

}  // namespace toolkit
