#pragma once

// What the main dialog is on every platform: one wrapper per control of template 102, and the
// commands its controls raise. The Qt and the Win32 dialog both derive from it, so the members
// and the message map are written once.

#include <array>
#include <utility>

#include "platform/controls.h"
#include "shell/control_ids.h"

// The command each button raises when clicked.
inline constexpr std::array<std::pair<int, int>, 9> kButtonCommands{{
    {IDC_REFRESH, 1},
    {IDC_DELETE_RECEIVER, 2},
    {IDC_CHANGE_NAME, 3},
    {IDC_CHANGE_IP, 4},
    {IDC_ADD_CONNECT, 5},
    {IDC_ADD_BACKUP1, 6},
    {IDC_ADD_BACKUP2, 7},
    {IDC_CHANGE_TOPOLOGY, 8},
    {IDC_SET_ADAPTER, 9},
}};

// The command each picker raises just before its list opens.
inline constexpr std::array<std::pair<int, int>, 3> kPickerCommands{{
    {IDC_CONNECT_PICKER, 11},
    {IDC_BACKUP1_PICKER, 12},
    {IDC_BACKUP2_PICKER, 13},
}};

// The command each tree raises on a selection change and on every click.
inline constexpr std::array<std::pair<int, int>, 2> kTreeCommands{{
    {IDC_CONNECTIONS_TREE, 10},
    {IDC_AVAILABLE_TREE, 14},
}};

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
