#include "app/shell_state.h"

#include <array>

#include "app/cvx418_dlg.h"

std::atomic<CVX418Dlg*> MainDialog{nullptr};
std::atomic<std::uint8_t> LastTreeIsConnections{0};
std::atomic<std::uint8_t> BackupSlot{0};

void EnableActionControls(CVX418Dlg* dialog, int enable) {
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
        control->EnableWindow(enable != 0);
    }
}
