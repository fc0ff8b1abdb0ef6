#pragma once

#include <string>
#include <vector>

#include "net/capture_backend.h"

class CVX418Dlg;

// The capture library's adapter list as read by FillAdapterList (a copy). It is kept for the
// whole run, also after a failed open.
std::vector<AdapterInfo> AdapterList();

// Reads the capture library's adapter list once and offers each usable adapter in the
// dialog's adapter list, selecting the first.
void FillAdapterList(CVX418Dlg* dialog);
// Worker of "Set Adapter": opens the selected adapter and, on success, becomes the capture
// thread until a later Set Adapter stops it. Returns 1 in every case.
unsigned SetAdapterWorker(CVX418Dlg* dialog);
bool OpenSelectedAdapter(CVX418Dlg* dialog, int position);
bool QueryAdapterMac(const std::string& adapterName);
