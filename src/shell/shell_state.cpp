#include "shell/shell_state.h"

#include <array>
#include <mutex>

#include "shell/cvx418_dlg.h"

std::atomic<CVX418Dlg*> MainDialog{nullptr};
std::atomic<std::uint8_t> LastTreeIsConnections{0};
std::atomic<std::uint8_t> BackupSlot{0};

void EnableActionControls(CVX418Dlg* dialog, bool enable) {
    if (dialog == nullptr) {
        return;
    }
    // The busy set, in its order: the six-button block, then the backup buttons and pickers.
    const std::array<CWnd*, 11> busySet{
        &dialog->m_RefreshButton,    &dialog->m_DeleteReceiverButton, &dialog->m_ChangeNameButton,
        &dialog->m_ChangeIpButton,   &dialog->m_ChangeTopologyButton, &dialog->m_AddConnectButton,
        &dialog->m_AddBackup1Button, &dialog->m_AddBackup2Button,     &dialog->m_ConnectPicker,
        &dialog->m_Backup1Picker,    &dialog->m_Backup2Picker,
    };
    for (CWnd* control : busySet) {
        control->EnableWindow(enable);
    }
}

namespace {

// Decisions on the busy set and the calls that carry them out happen under one lock, so a
// Set Adapter cannot enable the set between a Refresh's start and its disable. Only workers
// take it; the window thread never does, so holding it across the control calls is safe.
struct BusyState {
    std::mutex mutex;
    int runningRefreshes = 0;
};

BusyState& Busy() {
    static auto* const state = new BusyState;  // never destroyed: workers may outlive main
    return *state;
}

}  // namespace

void BeginRefreshBusy(CVX418Dlg* dialog) {
    auto& busy = Busy();
    const std::lock_guard lock(busy.mutex);
    ++busy.runningRefreshes;
    EnableActionControls(dialog, false);
}

void EndRefreshBusy(CVX418Dlg* dialog) {
    auto& busy = Busy();
    const std::lock_guard lock(busy.mutex);
    if (--busy.runningRefreshes == 0) {
        EnableActionControls(dialog, true);
    }
}

void EnableActionControlsUnlessRefreshing(CVX418Dlg* dialog) {
    auto& busy = Busy();
    const std::lock_guard lock(busy.mutex);
    if (busy.runningRefreshes == 0) {
        EnableActionControls(dialog, true);
    }
}
