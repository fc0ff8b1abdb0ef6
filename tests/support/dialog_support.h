#pragma once

// Reading the trees and rows of the real dialog as the user sees them.

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "shell/cvx418_dlg.h"
#include "tree_items.h"
#include "window_test_support.h"

namespace views_test {

using namespace std::chrono_literals;

using vxtest::RunOnWorker;
using vxtest::WaitUntil;

// "depth image expanded label" per item, depth first, as the user reads the tree; the
// expanded mark is "+" for a collapsed item with children, "-" otherwise.
inline std::vector<std::string> Dump(CTreeCtrl& tree) {
    std::vector<std::string> lines;
    const std::function<void(HTREEITEM, int)> walk = [&](HTREEITEM item, int depth) {
        for (; item; item = tree.GetNextSiblingItem(item)) {
            const bool collapsed = tree.ItemHasChildren(item) && !tree.IsExpanded(item);
            lines.push_back(std::to_string(depth) + " " + std::to_string(tree.GetItemImage(item)) +
                            (collapsed ? " + " : " - ") + tree.GetItemText(item));
            walk(tree.GetChildItem(item), depth + 1);
        }
    };
    walk(tree.GetRootItem(), 0);
    return lines;
}

inline HTREEITEM Find(CTreeCtrl& tree, const std::string& label) {
    return vxtest::FindItem(tree, [&](const std::string& text) { return text == label; });
}

// Makes the item the tree's selection, which the tree reports as a user's change would.
inline bool Select(CTreeCtrl& tree, const std::string& label) {
    const HTREEITEM item = Find(tree, label);
    if (!item || !tree.SelectItem(item)) {
        return false;
    }
    QCoreApplication::processEvents();
    return true;
}

struct Fields {
    std::string name, ip, mac;
    int topology;
    bool operator==(const Fields&) const = default;
};

inline Fields ShownFields(CVX418Dlg& dlg) {
    return {dlg.m_NameEdit.GetWindowText(), dlg.m_IpEdit.GetWindowText(),
            dlg.m_MacEdit.GetWindowText(), dlg.m_TopologyCombo.GetCurSel()};
}

// Visibility of the topology row, the Connect row and the two backup rows, control by control.
inline std::vector<bool> RowsShown(CVX418Dlg& dlg) {
    std::vector<bool> shown;
    for (const int id :
         {IDC_TOPOLOGY_LABEL, IDC_TOPOLOGY_COMBO, IDC_CHANGE_TOPOLOGY, IDC_CONNECT_LABEL,
          IDC_CONNECT_PICKER, IDC_ADD_CONNECT, IDC_BACKUP1_LABEL, IDC_BACKUP1_PICKER,
          IDC_ADD_BACKUP1, IDC_BACKUP2_LABEL, IDC_BACKUP2_PICKER, IDC_ADD_BACKUP2}) {
        shown.push_back(dlg.GetDlgItem(id)->IsWindowVisible());
    }
    return shown;
}

inline std::vector<bool> Rows(bool topology, bool connect, bool backups) {
    return {topology, topology, topology, connect, connect, connect,
            backups,  backups,  backups,  backups, backups, backups};
}

}  // namespace views_test
