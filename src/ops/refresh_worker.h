#pragma once

class CVX418Dlg;

// Worker of "Refresh". Returns 1 when done.
unsigned RefreshWorker(CVX418Dlg* dialog);
// Empties the table and broadcasts the three discovery requests.
void BroadcastDiscovery();
