#include "platform/controls.h"

#include <atomic>
#include <type_traits>
#include <utility>

#include "platform/native_controls.h"

namespace {

// Runs fn on the thread that owns the control and returns its result. From that thread it runs
// directly; from any other the caller waits until the window thread has run it. A control that
// is missing or gone before its turn runs nothing, and the caller gets the empty value. No
// lock of ours may be held here: the window thread may be waiting for it.
template <typename Fn>
auto OnWindowThread(NativeControl control, Fn&& fn) -> std::invoke_result_t<Fn> {
    using Result = std::invoke_result_t<Fn>;
    if constexpr (std::is_void_v<Result>) {
        toolkit::RunOnWindowThread(control, std::function<void()>(std::forward<Fn>(fn)));
    } else {
        Result result{};
        toolkit::RunOnWindowThread(control, [&] { result = fn(); });
        return result;
    }
}

// Handles of all trees come from one counter, so a handle never names an item of another tree
// or an item inserted after its own was deleted.
std::uint64_t NextItemId() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

// ---- any control ----

void CWnd::Attach(NativeControl widget) {
    widget_ = widget;
    toolkit::PrepareControl(widget);
}

void CWnd::ShowWindow(bool show) {
    OnWindowThread(widget_, [w = widget_, show] { toolkit::ShowControl(w, show); });
}

void CWnd::EnableWindow(bool enable) {
    OnWindowThread(widget_, [w = widget_, enable] { toolkit::EnableControl(w, enable); });
}

bool CWnd::IsWindowVisible() const {
    return OnWindowThread(widget_, [w = widget_] { return toolkit::ControlVisible(w); });
}

bool CWnd::IsWindowEnabled() const {
    return OnWindowThread(widget_, [w = widget_] { return toolkit::ControlEnabled(w); });
}

// ---- edit ----

std::string CEdit::GetWindowText() const {
    return OnWindowThread(widget(), [w = widget()] { return toolkit::ControlText(w); });
}

void CEdit::SetWindowText(const std::string& text) {
    OnWindowThread(widget(), [w = widget(), &text] { toolkit::SetControlText(w, text); });
}

void CEdit::AppendText(const std::string& text) {
    OnWindowThread(widget(), [w = widget(), &text] { toolkit::AppendControlText(w, text); });
}

void CEdit::PostScrollToBottom() {
    if (widget() != nullptr) {
        toolkit::PostScrollToBottom(widget());
    }
}

// ---- combo box ----

void CComboBox::Attach(NativeControl widget) {
    CWnd::Attach(widget);
    toolkit::AttachComboBox(widget, typedOver_);
}

void CComboBox::ResetContent() {
    OnWindowThread(widget(), [this] {
        toolkit::ClearComboBox(widget());
        typedOver_ = false;
    });
}

int CComboBox::AddString(const std::string& text) {
    return OnWindowThread(widget(),
                          [this, &text] { return toolkit::AddComboEntry(widget(), text); });
}

void CComboBox::SetCurSel(int index) {
    OnWindowThread(widget(), [this, index] {
        typedOver_ = false;
        const bool entry = index >= 0 && index < toolkit::ComboEntryCount(widget());
        toolkit::SelectComboEntry(widget(), entry ? index : -1);
    });
}

int CComboBox::GetCurSel() const {
    return OnWindowThread(widget(),
                          [this] { return typedOver_ ? -1 : toolkit::ComboSelection(widget()); });
}

int CComboBox::GetCount() const {
    return OnWindowThread(widget(), [this] { return toolkit::ComboEntryCount(widget()); });
}

std::string CComboBox::GetLBText(int index) const {
    return OnWindowThread(widget(), [this, index]() -> std::string {
        if (index < 0 || index >= toolkit::ComboEntryCount(widget())) {
            return {};
        }
        return toolkit::ComboEntryText(widget(), index);
    });
}

std::string CComboBox::GetWindowText() const {
    return OnWindowThread(widget(), [this] { return toolkit::ControlText(widget()); });
}

// ---- tree ----

const CTreeCtrl::Item* CTreeCtrl::Find(HTREEITEM item) const {
    const auto it = items_.find(item.id);
    return it == items_.end() ? nullptr : &it->second;
}

HTREEITEM CTreeCtrl::HandleOf(const void* native) const {
    const auto it = native != nullptr ? handles_.find(native) : handles_.end();
    return it == handles_.end() ? HTREEITEM{} : HTREEITEM{it->second};
}

HTREEITEM CTreeCtrl::Insert(const std::string& text, int image, int selectedImage,
                            HTREEITEM parent) {
    void* parentItem = nullptr;
    if (parent != TVI_ROOT) {
        const Item* found = Find(parent);
        if (found == nullptr) {
            return {};  // a stale parent names nothing; never fall back to another item
        }
        parentItem = found->native;
    }
    const Item item{toolkit::InsertTreeItem(widget(), parentItem, text, image, selectedImage),
                    image >= 0 ? image : -1, image >= 0 ? selectedImage : -1};
    if (item.native == nullptr) {
        return {};
    }
    toolkit::ShowTreeItemImages(widget(), item.native, item.image, item.selectedImage, images_);
    const HTREEITEM handle{NextItemId()};
    items_.emplace(handle.id, item);
    handles_.emplace(item.native, handle.id);
    return handle;
}

bool CTreeCtrl::DeleteAllItems() {
    return OnWindowThread(widget(), [this] {
        const bool cleared = toolkit::ClearTree(widget());
        items_.clear();
        handles_.clear();
        return cleared;
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
        const Item* found = Find(item);
        return found != nullptr && toolkit::TreeItemHasChildren(widget(), found->native);
    });
}

bool CTreeCtrl::Expand(HTREEITEM item) {
    return OnWindowThread(widget(), [this, item] {
        const Item* found = Find(item);
        return found != nullptr && toolkit::ExpandTreeItem(widget(), found->native);
    });
}

bool CTreeCtrl::IsExpanded(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const Item* found = Find(item);
        return found != nullptr && toolkit::TreeItemExpanded(widget(), found->native);
    });
}

HTREEITEM CTreeCtrl::GetRootItem() const {
    return OnWindowThread(widget(), [this] { return HandleOf(toolkit::TreeRootItem(widget())); });
}

HTREEITEM CTreeCtrl::GetChildItem(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        if (item == TVI_ROOT) {
            return HandleOf(toolkit::TreeRootItem(widget()));
        }
        const Item* found = Find(item);
        return found == nullptr ? HTREEITEM{}
                                : HandleOf(toolkit::TreeChildItem(widget(), found->native));
    });
}

HTREEITEM CTreeCtrl::GetNextSiblingItem(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const Item* found = Find(item);
        return found == nullptr ? HTREEITEM{}
                                : HandleOf(toolkit::TreeNextSiblingItem(widget(), found->native));
    });
}

HTREEITEM CTreeCtrl::GetSelectedItem() const {
    return OnWindowThread(widget(),
                          [this] { return HandleOf(toolkit::TreeSelectedItem(widget())); });
}

HTREEITEM CTreeCtrl::GetParentItem(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const Item* found = Find(item);
        return found == nullptr ? HTREEITEM{}
                                : HandleOf(toolkit::TreeParentItem(widget(), found->native));
    });
}

std::string CTreeCtrl::GetItemText(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item]() -> std::string {
        const Item* found = Find(item);
        return found == nullptr ? std::string{} : toolkit::TreeItemText(widget(), found->native);
    });
}

int CTreeCtrl::GetItemImage(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const Item* found = Find(item);
        return found == nullptr ? -1 : found->image;
    });
}

bool CTreeCtrl::SelectItem(HTREEITEM item) {
    return OnWindowThread(widget(), [this, item] {
        if (!item) {
            return toolkit::SelectTreeItem(widget(), nullptr);
        }
        const Item* found = Find(item);
        return found != nullptr && toolkit::SelectTreeItem(widget(), found->native);
    });
}

bool CTreeCtrl::GetCheck(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const Item* found = Find(item);
        return found != nullptr && toolkit::TreeItemChecked(widget(), found->native);
    });
}

bool CTreeCtrl::SetCheck(HTREEITEM item, bool checked) {
    return OnWindowThread(widget(), [this, item, checked] {
        const Item* found = Find(item);
        return found != nullptr && toolkit::CheckTreeItem(widget(), found->native, checked);
    });
}

void CTreeCtrl::SetImageList(CImageList* images) {
    OnWindowThread(widget(), [this, images] {
        images_ = images;
        toolkit::SetTreeImageList(widget(), images);
        for (const auto& [id, item] : items_) {
            toolkit::ShowTreeItemImages(widget(), item.native, item.image, item.selectedImage,
                                        images);
        }
    });
}

int CTreeCtrl::GetCount() const {
    return OnWindowThread(widget(), [this] { return static_cast<int>(items_.size()); });
}
