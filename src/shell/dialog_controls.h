#pragma once

// What the main dialog is on every platform: one wrapper per control of template 102, and the
// commands its controls raise. CVX418Dlg derives from it, so the members and the message map
// are written once for both front ends.

#include <array>
#include <optional>
#include <utility>

#include "platform/controls.h"
#include "shell/commands.h"
#include "shell/control_ids.h"

// The command each button raises when clicked.
inline constexpr std::array<std::pair<int, Command>, 9> kButtonCommands{{
    {IDC_REFRESH, Command::Refresh},
    {IDC_DELETE_RECEIVER, Command::DeleteReceivers},
    {IDC_CHANGE_NAME, Command::ChangeName},
    {IDC_CHANGE_IP, Command::ChangeIp},
    {IDC_ADD_CONNECT, Command::AddReceiver},
    {IDC_ADD_BACKUP1, Command::AddBackup1},
    {IDC_ADD_BACKUP2, Command::AddBackup2},
    {IDC_CHANGE_TOPOLOGY, Command::ChangeTopology},
    {IDC_SET_ADAPTER, Command::SetAdapter},
}};

// The command each picker raises just before its list opens.
inline constexpr std::array<std::pair<int, Command>, 3> kPickerCommands{{
    {IDC_CONNECT_PICKER, Command::FillConnectPicker},
    {IDC_BACKUP1_PICKER, Command::FillBackup1Picker},
    {IDC_BACKUP2_PICKER, Command::FillBackup2Picker},
}};

// The command each tree raises on a selection change and on every click.
inline constexpr std::array<std::pair<int, Command>, 2> kTreeCommands{{
    {IDC_CONNECTIONS_TREE, Command::ShowConnectionsSelection},
    {IDC_AVAILABLE_TREE, Command::ShowAvailableSelection},
}};

// The command of the control with this id in one of the tables above; nothing for another id.
template <std::size_t N>
constexpr std::optional<Command> CommandOf(const std::array<std::pair<int, Command>, N>& table,
                                           int id) {
    for (const auto& [control, command] : table) {
        if (control == id) {
            return command;
        }
    }
    return std::nullopt;
}

// The trees' images (the red and the green ball, icons 129 and 130) are this size.
inline constexpr int kTreeImageSize = 16;

struct DialogControls {
    // Each member with its control id, in declaration order.
    std::array<std::pair<int, CWnd*>, 19> MemberControls();

    CComboBox m_Backup1Picker;       // 1013
    CComboBox m_Backup2Picker;       // 1014
    CButton m_AddBackup1Button;      // 1016
    CButton m_AddBackup2Button;      // 1017
    CEdit m_LogPane;                 // 1018
    CButton m_RefreshButton;         // 1003
    CButton m_DeleteReceiverButton;  // 1004
    CButton m_ChangeNameButton;      // 1006
    CButton m_ChangeIpButton;        // 1009
    CButton m_ChangeTopologyButton;  // 1022
    CButton m_AddConnectButton;      // 1015
    CComboBox m_ConnectPicker;       // 1012
    CTreeCtrl m_ConnectionsTree;     // 1002
    CTreeCtrl m_AvailableTree;       // 1010
    CEdit m_NameEdit;                // 1005
    CEdit m_IpEdit;                  // 1008
    CEdit m_MacEdit;                 // 1007
    CComboBox m_TopologyCombo;       // 1021
    CComboBox m_AdapterCombo;        // 1024
};
