#include "shell/dialog_controls.h"

std::array<std::pair<int, CWnd*>, 19> DialogControls::MemberControls() {
    return {{
        {IDC_BACKUP1_PICKER, &m_Backup1Picker},
        {IDC_BACKUP2_PICKER, &m_Backup2Picker},
        {IDC_ADD_BACKUP1, &m_AddBackup1Button},
        {IDC_ADD_BACKUP2, &m_AddBackup2Button},
        {IDC_LOG_PANE, &m_LogPane},
        {IDC_REFRESH, &m_RefreshButton},
        {IDC_DELETE_RECEIVER, &m_DeleteReceiverButton},
        {IDC_CHANGE_NAME, &m_ChangeNameButton},
        {IDC_CHANGE_IP, &m_ChangeIpButton},
        {IDC_CHANGE_TOPOLOGY, &m_ChangeTopologyButton},
        {IDC_ADD_CONNECT, &m_AddConnectButton},
        {IDC_CONNECT_PICKER, &m_ConnectPicker},
        {IDC_CONNECTIONS_TREE, &m_ConnectionsTree},
        {IDC_AVAILABLE_TREE, &m_AvailableTree},
        {IDC_NAME_EDIT, &m_NameEdit},
        {IDC_IP_EDIT, &m_IpEdit},
        {IDC_MAC_EDIT, &m_MacEdit},
        {IDC_TOPOLOGY_COMBO, &m_TopologyCombo},
        {IDC_ADAPTER_COMBO, &m_AdapterCombo},
    }};
}
