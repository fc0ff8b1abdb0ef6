#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/device_table.h"

class CVX418Dlg;

// Reads the capture library's adapter list once and offers each usable adapter in the
// dialog's adapter list, selecting the first.
void FillAdapterList(CVX418Dlg* dialog);
// Worker of "Set Adapter": opens the selected adapter and, on success, becomes the capture
// thread until a later Set Adapter stops it. Returns 1 in every case.
unsigned SetAdapterWorker(CVX418Dlg* dialog);
// The capture loop's callback: the reply handler on the window's table and Log pane, and a
// rebuild of the trees when a unit's refusal to station (the adapter's MAC) put values back.
void HandleWindowFrame(const std::uint8_t* frame, std::size_t capturedLength,
                       const MacBytes& station);
// Tree rebuilds that units' refusals have started and that have not finished yet (each runs on
// a thread of its own, off the capture thread).
int PendingRefusalRebuilds();
// Opens the position-th offered adapter and makes it the current one; false when it cannot.
// *notPermitted, when given, says whether the capture library refused for lack of privileges.
bool OpenSelectedAdapter(CVX418Dlg* dialog, int position, bool* notPermitted = nullptr);

// The Log pane's line after "Failed to set the network adapter." when capture is not permitted.
inline constexpr char kCaptureNotPermittedLine[] =
    "Capture is not permitted: run as a member of the vx418 group, with vx418-capture installed "
    "beside the program and given cap_net_raw (see README, \"Privileges for capture\").";
