#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/native_types.h"

// Thin wrappers over the dialog's controls with the operations the program needs. Every call
// may come from any thread: from a worker it is carried out on the window thread while the
// caller waits. Texts are byte strings (Latin-1 at a Qt widget, the ANSI code page on Windows),
// so every byte survives. The rules are written once (controls.cpp); each toolkit supplies only
// its native calls (qt/controls.cpp, win32/controls.cpp).

// Any control: show or hide, enable or disable.
class CWnd {
  public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    // On the window thread, once, when the dialog binds its controls; readies the control for
    // calls from other threads.
    virtual void Attach(NativeControl widget);
    NativeControl widget() const { return widget_; }

    void ShowWindow(bool show);
    void EnableWindow(bool enable);
    bool IsWindowVisible() const;  // the control's own visibility flag
    bool IsWindowEnabled() const;

  private:
    NativeControl widget_ = nullptr;
};

class CButton : public CWnd {};

class CEdit : public CWnd {
  public:
    std::string GetWindowText() const;
    void SetWindowText(const std::string& text);
    // Appends text at the end without reading the whole content back (the Log pane's append).
    void AppendText(const std::string& text);
    // Posted, not sent: scrolls to the last line when the window thread gets to it.
    void PostScrollToBottom();
};

// Text the user types into an editable box's edit field is not an entry: from the first edit
// until the user picks an entry from the list (or the program selects one), the selection reads
// -1. Enter in the edit field does not pick the entry its text happens to match.
class CComboBox : public CWnd {
  public:
    void Attach(NativeControl widget) override;
    void ResetContent();
    int AddString(const std::string& text);  // appended at the end; returns its position
    // A number without an entry (for example -1 or past the end) clears the selection and text.
    void SetCurSel(int index);
    int GetCurSel() const;  // -1 for none
    int GetCount() const;
    std::string GetLBText(int index) const;  // empty for a number without an entry
    std::string GetWindowText() const;       // the edit field's text

  private:
    // Typed into since the last entry was picked or set; the toolkit sets and clears it as the
    // user types and picks. Window thread only.
    bool typedOver_ = false;
};

// A tree item handle. Handles are never reused: one kept from before DeleteAllItems names no
// item afterwards, and every operation on it is a harmless no-op returning the empty value.
struct HTREEITEM {
    std::uint64_t id = 0;
    explicit operator bool() const { return id != 0; }
    bool operator==(const HTREEITEM&) const = default;
};
inline constexpr HTREEITEM TVI_ROOT{0};

class CImageList;

class CTreeCtrl : public CWnd {
  public:
    bool DeleteAllItems();
    // Appended after the parent's last child (TVI_ROOT: at the top level).
    HTREEITEM InsertItem(const std::string& text, int image, int selectedImage,
                         HTREEITEM parent = TVI_ROOT);
    // Text only (no image).
    HTREEITEM InsertItem(const std::string& text, HTREEITEM parent = TVI_ROOT);
    bool ItemHasChildren(HTREEITEM item) const;
    bool Expand(HTREEITEM item);
    bool IsExpanded(HTREEITEM item) const;
    HTREEITEM GetRootItem() const;
    HTREEITEM GetChildItem(HTREEITEM item) const;
    HTREEITEM GetNextSiblingItem(HTREEITEM item) const;
    HTREEITEM GetSelectedItem() const;
    HTREEITEM GetParentItem(HTREEITEM item) const;
    std::string GetItemText(HTREEITEM item) const;
    int GetItemImage(HTREEITEM item) const;  // -1 when the item has no image
    bool SelectItem(HTREEITEM item);         // a null handle clears the selection
    bool GetCheck(HTREEITEM item) const;
    bool SetCheck(HTREEITEM item, bool checked);
    void SetImageList(CImageList* images);
    int GetCount() const;

  private:
    // The toolkit's item and its images (-1: none) per handle, and the way back; used on the
    // window thread only, inside the marshalled calls.
    struct Item {
        void* native = nullptr;
        int image = -1;
        int selectedImage = -1;
    };
    const Item* Find(HTREEITEM item) const;
    HTREEITEM HandleOf(const void* native) const;
    HTREEITEM Insert(const std::string& text, int image, int selectedImage, HTREEITEM parent);

    std::unordered_map<std::uint64_t, Item> items_;
    std::unordered_map<const void*, std::uint64_t> handles_;
    CImageList* images_ = nullptr;
};
