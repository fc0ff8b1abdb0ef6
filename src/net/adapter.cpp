// Temporary link stand-in until the adapter layer lands.
#include "net/adapter.h"

void FillAdapterList(CVX418Dlg*) {}
unsigned SetAdapterWorker(CVX418Dlg*) { return 1; }
bool OpenSelectedAdapter(CVX418Dlg*, int) { return false; }
bool QueryAdapterMac(const std::string&) { return false; }
