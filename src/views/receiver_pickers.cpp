#include "views/receiver_pickers.h"

#include "protocol/device_table.h"
#include "shell/cvx418_dlg.h"
#include "views/labels.h"
#include "views/view_plans.h"

namespace {

constexpr const char* kNoEntry = "NULL";

CComboBox* Picker(CVX418Dlg& dialog, ReceiverPicker picker) {
    switch (picker) {
        case ReceiverPicker::Connect:
            return &dialog.m_ConnectPicker;
        case ReceiverPicker::Backup1:
            return &dialog.m_Backup1Picker;
        case ReceiverPicker::Backup2:
            return &dialog.m_Backup2Picker;
        default:
            return nullptr;
    }
}

}  // namespace

void FillReceiverPicker(CVX418Dlg* dialog, ReceiverPicker picker) {
    CComboBox* combo = dialog != nullptr ? Picker(*dialog, picker) : nullptr;
    if (combo == nullptr) {
        return;
    }
    const std::vector<std::string> labels = PickerCandidates(Devices().Snapshot(), picker);
    combo->ResetContent();
    for (const std::string& label : labels) {
        combo->AddString(label);
    }
    combo->SetCurSel(-1);  // the user chooses from the list that opens next
}

std::string GetPickerText(CVX418Dlg* dialog, ReceiverPicker picker) {
    CComboBox* combo = dialog != nullptr ? Picker(*dialog, picker) : nullptr;
    if (combo == nullptr) {
        return {};
    }
    const int selected = combo->GetCurSel();
    if (selected < 0) {
        return kNoEntry;
    }
    // The list may be refilled between the two reads; a vanished entry reads as no choice.
    std::string text = combo->GetLBText(selected);
    return text.empty() ? std::string{kNoEntry} : text;
}

std::string GetPickedReceiverMac(CVX418Dlg* dialog, ReceiverPicker picker) {
    const std::string text = GetPickerText(dialog, picker);
    return text == kNoEntry ? text : MacFromLabel(text);
}

bool ClearPicker(CVX418Dlg* dialog, ReceiverPicker picker) {
    if (CComboBox* combo = dialog != nullptr ? Picker(*dialog, picker) : nullptr) {
        combo->ResetContent();
    }
    return true;
}
