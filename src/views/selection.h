#pragma once

#include <string>

class CVX418Dlg;

// Handler of commands 10 (fromConnections = 1) and 14 (0), on the window thread.
void ShowSelectedUnit(CVX418Dlg* dialog, int fromConnections);

// The selection as the workers read it; any thread (tree reads block on the window thread).
// Label of the selected item of the Connections tree (fromConnections non-zero) or of the
// Available Receivers tree; empty when that tree has no selected item.
std::string GetSelectedItemText(CVX418Dlg* dialog, int fromConnections);
// MacFromLabel of GetSelectedItemText.
std::string GetSelectedDeviceMac(CVX418Dlg* dialog, int fromConnections);
// Label of the parent of the Connections tree's selected item; empty for none or top level.
std::string GetParentItemText(CVX418Dlg* dialog);
// MacFromLabel of GetParentItemText.
std::string GetParentDeviceMac(CVX418Dlg* dialog);
