#pragma once

class CVX418Dlg;

// Handler of commands 10 (fromConnections = 1) and 14 (0), on the window thread.
void ShowSelectedUnit(CVX418Dlg* dialog, int fromConnections);
