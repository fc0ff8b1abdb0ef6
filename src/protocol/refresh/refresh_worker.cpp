// Temporary link stand-in until Refresh lands.
#include "protocol/refresh/refresh_worker.h"

unsigned RefreshWorker(CVX418Dlg*) { return 1; }
void BroadcastDiscovery() {}
