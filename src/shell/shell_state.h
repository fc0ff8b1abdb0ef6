#pragma once

#include <atomic>
#include <cstdint>

class CVX418Dlg;

// Set once, at the end of command 0; the capture thread reaches the Log pane through it.
extern std::atomic<CVX418Dlg*> MainDialog;
// 1 after the Connections tree last reported a selection change or click, 0 after the
// Available Receivers tree did.
extern std::atomic<std::uint8_t> LastTreeIsConnections;
// Slot of the latest add-backup command (1 or 2); each worker gets its own copy at its start.
extern std::atomic<std::uint8_t> BackupSlot;

// Enables or disables the eleven action controls of the busy set, in their order.
void EnableActionControls(CVX418Dlg* dialog, bool enable);

// A Refresh holds the busy set disabled for its whole run; the last Refresh to end enables it.
void BeginRefreshBusy(CVX418Dlg* dialog);
void EndRefreshBusy(CVX418Dlg* dialog);
// Set Adapter's enable: while a Refresh runs the busy set stays that Refresh's to enable.
void EnableActionControlsUnlessRefreshing(CVX418Dlg* dialog);
