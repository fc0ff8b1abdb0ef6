#pragma once

// What each toolkit does for the control wrappers of controls.h: its native calls and nothing
// else (qt/controls.cpp, win32/controls.cpp). The wrappers' rules (every call on the window
// thread, tree handles that are never reused, what a combo box's selection reads) are
// controls.cpp's. Everything here but RunOnWindowThread and PostScrollToBottom runs on the
// window thread; a control of another kind than the call expects gets the empty value.

#include <functional>
#include <string>

#include "platform/native_types.h"

class CImageList;

namespace toolkit {

// Runs fn on the thread that owns the control and waits for it; on that thread it runs at once.
// A missing control, or one that is gone before its turn, runs nothing.
void RunOnWindowThread(NativeControl control, const std::function<void()>& fn);

// Any control.
void PrepareControl(NativeControl control);  // once, when the dialog binds it
void ShowControl(NativeControl control, bool show);
void EnableControl(NativeControl control, bool enable);
bool ControlVisible(NativeControl control);
bool ControlEnabled(NativeControl control);

// An edit's text, or a combo box's edit field.
std::string ControlText(NativeControl control);
void SetControlText(NativeControl control, const std::string& text);
void AppendControlText(NativeControl control, const std::string& text);
// From any thread; the caller does not wait.
void PostScrollToBottom(NativeControl control);

// Combo boxes. typedOver belongs to the wrapper; the toolkit sets it when the user types into
// the edit field and clears it when the user picks an entry from the list.
void AttachComboBox(NativeControl combo, bool& typedOver);
void ClearComboBox(NativeControl combo);                          // entries and edit field
int AddComboEntry(NativeControl combo, const std::string& text);  // selects nothing; -1 failed
int ComboEntryCount(NativeControl combo);
std::string ComboEntryText(NativeControl combo, int index);
int ComboSelection(NativeControl combo);                // -1 for none
void SelectComboEntry(NativeControl combo, int index);  // -1: none, the edit field emptied

// Trees. Items are the toolkit's own, as opaque pointers; null is none (as a parent: the top
// level). Emptying a tree raises no notification.
void* InsertTreeItem(NativeControl tree, void* parent, const std::string& text, int image,
                     int selectedImage);
bool ClearTree(NativeControl tree);
void* TreeRootItem(NativeControl tree);
void* TreeSelectedItem(NativeControl tree);
void* TreeChildItem(NativeControl tree, void* item);
void* TreeNextSiblingItem(NativeControl tree, void* item);
void* TreeParentItem(NativeControl tree, void* item);
bool TreeItemHasChildren(NativeControl tree, void* item);
std::string TreeItemText(NativeControl tree, void* item);
bool ExpandTreeItem(NativeControl tree, void* item);
bool TreeItemExpanded(NativeControl tree, void* item);
bool SelectTreeItem(NativeControl tree, void* item);  // null clears the selection
// Only a tree with check boxes has them: elsewhere false.
bool TreeItemChecked(NativeControl tree, void* item);
bool CheckTreeItem(NativeControl tree, void* item, bool checked);
// The list the tree draws its images from (null: none), and one item's images from it (-1:
// none); after each insert and for every item when the list changes.
void SetTreeImageList(NativeControl tree, const CImageList* images);
void ShowTreeItemImages(NativeControl tree, void* item, int image, int selectedImage,
                        const CImageList* images);

}  // namespace toolkit
