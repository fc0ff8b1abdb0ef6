#pragma once

// Finding a tree's items through the control wrappers alone, so the tests of either front end
// can use it.

#include <functional>
#include <string>

#include "platform/controls.h"

namespace vxtest {

// The first item, depth first, whose label matches; null when none does.
inline HTREEITEM FindItem(CTreeCtrl& tree, const std::function<bool(const std::string&)>& matches) {
    HTREEITEM found{};
    const std::function<void(HTREEITEM)> walk = [&](HTREEITEM item) {
        for (; item && !found; item = tree.GetNextSiblingItem(item)) {
            if (matches(tree.GetItemText(item))) {
                found = item;
                return;
            }
            walk(tree.GetChildItem(item));
        }
    };
    walk(tree.GetRootItem());
    return found;
}

// The item of the unit with this MAC: every unit's label ends in " [MAC]".
inline HTREEITEM FindUnit(CTreeCtrl& tree, const std::string& mac) {
    const std::string tail = "[" + mac + "]";
    return FindItem(tree, [&](const std::string& label) { return label.ends_with(tail); });
}

}  // namespace vxtest
