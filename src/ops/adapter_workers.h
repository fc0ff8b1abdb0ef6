#pragma once

class CVX418Dlg;

// Reads the capture library's adapter list once and offers each usable adapter in the
// dialog's adapter list, selecting the first.
void FillAdapterList(CVX418Dlg* dialog);
// Worker of "Set Adapter": opens the selected adapter and, on success, becomes the capture
// thread until a later Set Adapter stops it. Returns 1 in every case.
unsigned SetAdapterWorker(CVX418Dlg* dialog);
// Opens the position-th offered adapter and makes it the current one; false when it cannot.
bool OpenSelectedAdapter(CVX418Dlg* dialog, int position);
