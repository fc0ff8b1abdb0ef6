#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

// The native control a wrapper stands for: a Qt widget, or a Win32 window on Windows
// (platform/win32/controls.cpp).
#ifdef _WIN32
struct HWND__;
using NativeControl = HWND__*;
#else
class QWidget;
class QTreeWidgetItem;
using NativeControl = QWidget*;
#endif

// Thin wrappers over the dialog's controls with the operations the program needs. Every call
// may come from any thread: from a worker it is carried out on the window thread while the
// caller waits. Texts are byte strings (Latin-1 at a Qt widget, the ANSI code page on Windows),
// so every byte survives.

// Any control: show or hide, enable or disable.
class CWnd {
  public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    // On the window thread, once, when the dialog binds its controls.
#ifdef _WIN32
    // Also readies the window for calls from other threads.
    virtual void Attach(NativeControl widget);
#else
    virtual void Attach(NativeControl widget) {
        widget_ = widget;
    }
#endif
    NativeControl widget() const {
        return widget_;
    }

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
    ~CTreeCtrl() override;

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
#ifdef _WIN32
    // The native item and its image (-1: none) per handle; used on the window thread only.
    struct NativeItem {
        void* item = nullptr;
        int image = -1;
    };
    const NativeItem* Find(HTREEITEM item) const;
    HTREEITEM HandleOf(void* item) const;
    HTREEITEM Insert(const std::string& text, int image, int selectedImage, HTREEITEM parent);

    std::unordered_map<std::uint64_t, NativeItem> items_;
#else
    // All of these run on the window thread only, inside the marshalled calls.
    QTreeWidgetItem* Find(HTREEITEM item) const;
    HTREEITEM HandleOf(const QTreeWidgetItem* item) const;
    HTREEITEM Insert(const std::string& text, int image, int selectedImage, HTREEITEM parent);
    void ApplyImage(QTreeWidgetItem* item) const;

    std::unordered_map<std::uint64_t, QTreeWidgetItem*> items_;
#endif
    CImageList* images_ = nullptr;
};
