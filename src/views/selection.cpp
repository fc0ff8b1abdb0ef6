#include "views/selection.h"

#include "protocol/device_table.h"
#include "shell/cvx418_dlg.h"
#include "views/labels.h"
#include "views/view_plans.h"

namespace {

enum ReceiverRow : int { kConnectRow = 0, kBackup1Row = 1, kBackup2Row = 2 };

void ShowControl(CVX418Dlg& dialog, int id, bool show) {
    if (CWnd* control = dialog.GetDlgItem(id)) {
        control->ShowWindow(show);
    }
}

// Replaces the picker's entries; an entry that is not chosen leaves the text empty.
void SetPickerContent(CComboBox& picker, const PickerContent& content) {
    picker.ResetContent();
    for (const std::string& entry : content.entries) {
        picker.AddString(entry);
    }
    picker.SetCurSel(content.selected);
}

void ShowTopologyRow(CVX418Dlg& dialog, bool show) {
    for (const int id : {IDC_TOPOLOGY_LABEL, IDC_TOPOLOGY_COMBO, IDC_CHANGE_TOPOLOGY}) {
        if (CWnd* control = dialog.GetDlgItem(id)) {
            control->ShowWindow(show);
            control->EnableWindow(show);
        }
    }
}

void FillConnectRow(CVX418Dlg& dialog, const PickerContent& content, bool show) {
    ShowControl(dialog, IDC_CONNECT_LABEL, show);
    dialog.m_ConnectPicker.ShowWindow(show);
    SetPickerContent(dialog.m_ConnectPicker, content);
    dialog.m_AddConnectButton.ShowWindow(show);
}

void FillBackupRows(CVX418Dlg& dialog, const PickerContent& backup1, const PickerContent& backup2,
                    bool show) {
    ShowControl(dialog, IDC_BACKUP1_LABEL, show);
    ShowControl(dialog, IDC_BACKUP2_LABEL, show);
    SetPickerContent(dialog.m_Backup1Picker, backup1);
    SetPickerContent(dialog.m_Backup2Picker, backup2);
    dialog.m_Backup1Picker.ShowWindow(show);
    dialog.m_Backup2Picker.ShowWindow(show);
    dialog.m_AddBackup1Button.ShowWindow(show);
    dialog.m_AddBackup2Button.ShowWindow(show);
}

// Enables only: a row shown while a worker runs becomes usable again, whatever the busy state.
void EnableReceiverRow(CVX418Dlg& dialog, int row) {
    switch (row) {
        case kConnectRow:
            dialog.m_ConnectPicker.EnableWindow(true);
            dialog.m_AddConnectButton.EnableWindow(true);
            break;
        case kBackup1Row:
            dialog.m_Backup1Picker.EnableWindow(true);
            dialog.m_AddBackup1Button.EnableWindow(true);
            break;
        case kBackup2Row:
            dialog.m_Backup2Picker.EnableWindow(true);
            dialog.m_AddBackup2Button.EnableWindow(true);
            break;
        default:
            break;
    }
}

void ConfigureReceiverRows(CVX418Dlg& dialog, const SelectedUnitView& view) {
    switch (view.selector) {
        case kSelectorMulticast:
            ShowTopologyRow(dialog, true);
            FillConnectRow(dialog, view.connect, true);
            FillBackupRows(dialog, view.backup1, view.backup2, false);
            EnableReceiverRow(dialog, kConnectRow);
            break;
        case kSelectorUnicast:
            ShowTopologyRow(dialog, true);
            FillConnectRow(dialog, view.connect, true);
            FillBackupRows(dialog, view.backup1, view.backup2, true);
            EnableReceiverRow(dialog, kConnectRow);
            EnableReceiverRow(dialog, kBackup1Row);
            EnableReceiverRow(dialog, kBackup2Row);
            break;
        case kSelectorReceiver:
            ShowTopologyRow(dialog, false);
            FillConnectRow(dialog, view.connect, false);
            FillBackupRows(dialog, view.backup1, view.backup2, false);
            break;
        default:
            break;  // a Transmitter with an unknown mode: the rows keep what they showed
    }
}

CTreeCtrl& Tree(CVX418Dlg& dialog, int fromConnections) {
    return fromConnections != 0 ? dialog.m_ConnectionsTree : dialog.m_AvailableTree;
}

}  // namespace

void ShowSelectedUnit(CVX418Dlg* dialog, int fromConnections) {
    if (dialog == nullptr) {
        return;
    }
    const std::string label = GetSelectedItemText(dialog, fromConnections);
    const SelectedUnitView view = PlanSelectedUnit(Devices().Snapshot(), label);
    dialog->m_NameEdit.SetWindowText(view.name);
    dialog->m_IpEdit.SetWindowText(view.ip);
    dialog->m_MacEdit.SetWindowText(view.mac);
    dialog->m_TopologyCombo.SetCurSel(view.topologyEntry);
    ConfigureReceiverRows(*dialog, view);
}

std::string GetSelectedItemText(CVX418Dlg* dialog, int fromConnections) {
    if (dialog == nullptr) {
        return {};
    }
    CTreeCtrl& tree = Tree(*dialog, fromConnections);
    const HTREEITEM item = tree.GetSelectedItem();
    return item ? tree.GetItemText(item) : std::string{};
}

std::string GetSelectedDeviceMac(CVX418Dlg* dialog, int fromConnections) {
    return MacFromLabel(GetSelectedItemText(dialog, fromConnections));
}

std::string GetParentItemText(CVX418Dlg* dialog) {
    if (dialog == nullptr) {
        return {};
    }
    CTreeCtrl& tree = dialog->m_ConnectionsTree;
    const HTREEITEM item = tree.GetSelectedItem();
    if (!item) {
        return {};
    }
    const HTREEITEM parent = tree.GetParentItem(item);
    return parent ? tree.GetItemText(parent) : std::string{};
}

std::string GetParentDeviceMac(CVX418Dlg* dialog) {
    return MacFromLabel(GetParentItemText(dialog));
}
