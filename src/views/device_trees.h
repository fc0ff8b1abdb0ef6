#pragma once

#include <vector>

#include "platform/controls.h"

class CVX418Dlg;

// Empties both trees and refills them from one snapshot of the device table; leaves them fully
// expanded with nothing selected. Called from worker threads: whole rebuilds are serialised by
// a lock held across the blocking tree calls, so the window thread must never call it while a
// worker may be rebuilding.
void RebuildDeviceTrees(CVX418Dlg* dialog);

// If the item has children, expands it and then each child's subtree in order.
void ExpandAll(CTreeCtrl& tree, HTREEITEM item);

// The second-level items of the Connections tree (Receivers and "UNKNOWN" placeholders) in the
// order the last rebuild inserted them. Returned as one copy taken under a lock, so a reader
// never sees a list half-written by a rebuild running on another thread.
std::vector<HTREEITEM> ReceiverItems();
int ReceiverItemCount();
