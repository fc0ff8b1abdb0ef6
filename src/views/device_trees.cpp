#include "views/device_trees.h"

#include <mutex>
#include <utility>

#include "protocol/device_table.h"
#include "shell/cvx418_dlg.h"
#include "shell/log_line.h"
#include "views/view_plans.h"

namespace {

// Whole rebuilds run one at a time: two workers finishing together (a Refresh and an
// operation) would otherwise interleave their inserts and list units twice. Rebuilds run on
// workers only and the window thread never takes this lock, so holding it across the blocking
// tree calls cannot deadlock.
struct TreeState {
    std::mutex rebuildMutex;
    // Guards the published list only; never held across a control call.
    std::mutex receiverItemsMutex;
    std::vector<HTREEITEM> receiverItems;
};

// Never destroyed: detached workers may rebuild or read the list while the process exits.
TreeState& Trees() {
    static auto* const state = new TreeState;
    return *state;
}

void PublishReceiverItems(std::vector<HTREEITEM> items) {
    auto& state = Trees();
    const std::lock_guard lock(state.receiverItemsMutex);
    state.receiverItems = std::move(items);
}

void FillAvailableTree(CTreeCtrl& tree, const std::vector<TreeEntry>& entries) {
    const HTREEITEM heading = tree.InsertItem(kAvailableHeading);
    for (const TreeEntry& entry : entries) {
        tree.InsertItem(entry.label, entry.image, entry.image, heading);
    }
    ExpandAll(tree, heading);
}

std::vector<HTREEITEM> FillConnectionsTree(CTreeCtrl& tree,
                                           const std::vector<TransmitterBranch>& branches) {
    std::vector<HTREEITEM> inserted;
    for (const TransmitterBranch& branch : branches) {
        const HTREEITEM t =
            tree.InsertItem(branch.item.label, branch.item.image, branch.item.image, TVI_ROOT);
        for (const TreeEntry& child : branch.children) {
            inserted.push_back(tree.InsertItem(child.label, child.image, child.image, t));
        }
        ExpandAll(tree, t);
    }
    return inserted;
}

}  // namespace

void RebuildDeviceTrees(CVX418Dlg* dialog) {
    if (dialog == nullptr) {
        return;
    }
    TraceLine("##### Table sould be ready #####");
    const std::lock_guard rebuild(Trees().rebuildMutex);
    // One snapshot: replies may still arrive while the items are inserted.
    const DeviceTreesPlan plan = PlanDeviceTrees(Devices().Snapshot());

    dialog->m_ConnectionsTree.DeleteAllItems();
    dialog->m_AvailableTree.DeleteAllItems();
    PublishReceiverItems({});

    FillAvailableTree(dialog->m_AvailableTree, plan.available);
    PublishReceiverItems(FillConnectionsTree(dialog->m_ConnectionsTree, plan.connections));
}

void ExpandAll(CTreeCtrl& tree, HTREEITEM item) {
    if (!tree.ItemHasChildren(item)) {
        return;
    }
    tree.Expand(item);
    for (HTREEITEM child = tree.GetChildItem(item); child; child = tree.GetNextSiblingItem(child)) {
        ExpandAll(tree, child);
    }
}

std::vector<HTREEITEM> ReceiverItems() {
    auto& state = Trees();
    const std::lock_guard lock(state.receiverItemsMutex);
    return state.receiverItems;
}

int ReceiverItemCount() {
    auto& state = Trees();
    const std::lock_guard lock(state.receiverItemsMutex);
    return static_cast<int>(state.receiverItems.size());
}
