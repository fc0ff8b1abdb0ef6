#include "ops/operation_workers.h"

#include <string>
#include <vector>

#include "net/frame_builder.h"
#include "platform/message_box.h"
#include "protocol/device_table.h"
#include "protocol/operation_rules.h"
#include "shell/cvx418_dlg.h"
#include "shell/log_line.h"
#include "shell/shell_state.h"
#include "views/device_trees.h"
#include "views/labels.h"
#include "views/receiver_pickers.h"
#include "views/selection.h"

namespace {

constexpr unsigned kStoppedAtCheck = 0;
constexpr unsigned kWentToSend = 1;
constexpr char kInformationCaption[] = "Information";
constexpr std::uint8_t kReceiverKind = 0;
constexpr int kUnlinkPeer = 255;  // LinkT1MacByMac's "no Transmitter"

// Refusals of a selection that names no unit of the table (nothing selected, a heading, an
// "UNKNOWN" placeholder, a unit a Refresh dropped): the table's look-up would otherwise hand
// the operation its first record.
constexpr char kSelectDeviceToRename[] = "Please select a device to change its name.";
constexpr char kSelectDeviceToChangeIp[] = "Please select a device to change its IP address.";
constexpr char kSelectTransmitterForTopology[] =
    "Please select a Transmitter to change its topology mode.";
constexpr char kSelectTopologyMode[] = "Please select Multicast or Unicast as the topology mode.";
constexpr char kSelectTransmitterToAdd[] = "Please select a Transmitter to add a Receiver to.";
constexpr char kSelectReceiverToAdd[] = "Please select a Receiver to add.";
constexpr char kSelectReceiverToDelete[] = "Please select a Receiver to delete.";

std::string SelectedDeviceMac(CVX418Dlg* dialog) {
    return GetSelectedDeviceMac(dialog, LastTreeIsConnections.load());
}

bool IsKnownUnit(const std::string& mac) {
    return Devices().ContainsMac(mac);
}

bool IsKnownTransmitter(const std::string& mac) {
    return IsKnownUnit(mac) && Devices().DeviceKindByMac(mac) == kKindTransmitterLowByte;
}

void ShowInformation(std::string_view text) {
    const std::string copy(text);
    MessageBoxA(nullptr, copy.c_str(), kInformationCaption, MB_OK);
}

ReceiverPicker PickerOfSlot(std::uint8_t slot) {
    return slot == static_cast<std::uint8_t>(PeerSlot::Backup2) ? kBackup2Picker : kBackup1Picker;
}

// The picked Receiver's MAC text, or nothing when no entry names a unit of the table.
std::optional<std::string> PickedReceiver(CVX418Dlg* dialog, ReceiverPicker picker) {
    std::string rx = GetPickedReceiverMac(dialog, picker);
    if (rx == "NULL" || !IsKnownUnit(rx)) {
        return std::nullopt;
    }
    return rx;
}

struct Attachment {
    std::string transmitter;
    std::string receiver;
};

// The selected Transmitter and the picked Receiver of an Add, both read once; nothing (after
// the refusal's Log line) when either names no fitting unit.
std::optional<Attachment> ReadAttachment(CVX418Dlg* dialog, ReceiverPicker picker) {
    std::string tx = SelectedDeviceMac(dialog);
    std::optional<std::string> rx = PickedReceiver(dialog, picker);
    if (!IsKnownTransmitter(tx)) {
        LogLine(dialog, kSelectTransmitterToAdd);
        return std::nullopt;
    }
    if (!rx) {
        LogLine(dialog, kSelectReceiverToAdd);
        return std::nullopt;
    }
    return Attachment{std::move(tx), std::move(*rx)};
}

// A ticked Receiver item as it stood before the first request: later rebuilds by other
// workers or a Refresh cannot change which units this run acts on.
struct TickedReceiver {
    HTREEITEM item;
    std::string label;
    std::string receiverMac;
    std::string transmitterMac;
};

std::vector<TickedReceiver> CollectTickedReceivers(CVX418Dlg* dialog) {
    CTreeCtrl& tree = dialog->m_ConnectionsTree;
    std::vector<TickedReceiver> ticked;
    for (const HTREEITEM item : ReceiverItems()) {
        if (!tree.GetCheck(item)) {
            continue;
        }
        std::string label = tree.GetItemText(item);
        std::string rx = MacFromLabel(label);
        std::string tx = MacFromLabel(tree.GetItemText(tree.GetParentItem(item)));
        ticked.push_back({item, std::move(label), std::move(rx), std::move(tx)});
    }
    return ticked;
}

// One Receiver of a Delete run; false when the run must stop (a ticked Transmitter).
bool DeleteOneReceiver(CVX418Dlg* dialog, const TickedReceiver& ticked) {
    DeviceTable& table = Devices();
    // The fields follow the loop item by item, as the user sees it.
    dialog->m_ConnectionsTree.SelectItem(ticked.item);
    const std::string& rx = ticked.receiverMac;
    const std::string& tx = ticked.transmitterMac;
    if (!IsKnownUnit(rx) || !IsKnownUnit(tx)) {
        LogLine(dialog, "Skipped %s: it is not among the units found.", ticked.label.c_str());
        return true;
    }
    if (table.DeviceKindByMac(rx) == kKindTransmitterLowByte) {
        LogLine(dialog, kSelectReceiverToDelete);
        return false;
    }
    LogLine(dialog, "Deleting the Receiver(s) for this Transmitter. Please wait.");
    const std::uint8_t mode = table.DeviceModeByMac(tx);
    const ConnectionBlock block =
        ConnectionRequestBlock(table, MainReceiverTarget(mode, tx, rx), PeerSlot::Main);
    if (SendRequest(block.data(), kDeleteReceiverRequest) != 1) {
        LogLine(dialog, "Failed to delete the Receiver.");
        return true;
    }
    if (mode != kModeMulticastLowByte) {
        table.SetPeerMacSlot(table.FindDeviceByMac(rx), table.FindDeviceByMac(tx), PeerSlot::Main,
                             false);
    }
    table.SetDeviceKindByMac(rx, kReceiverKind);
    table.LinkT1MacByMac(rx, kUnlinkPeer);
    return true;
}

}  // namespace

std::string ReadNameField(CVX418Dlg* dialog) {
    return dialog->m_NameEdit.GetWindowText();
}

std::string ReadIpField(CVX418Dlg* dialog) {
    return dialog->m_IpEdit.GetWindowText();
}

unsigned ChangeNameWorker(CVX418Dlg* dialog) {
    const std::string mac = SelectedDeviceMac(dialog);
    if (!IsKnownUnit(mac)) {
        LogLine(dialog, kSelectDeviceToRename);
        return kStoppedAtCheck;
    }
    LogLine(dialog, "Updating device's name. Please wait");
    const NameCheck name = CheckDeviceName(ReadNameField(dialog));
    if (const auto refusal = NameRefusalText(name.verdict)) {
        ShowInformation(*refusal);
        return kStoppedAtCheck;
    }
    const ConfigBlock block = NameRequestBlock(Devices(), mac, name.field);
    if (SendRequest(block.data(), kSetNameRequest) != 1) {
        LogLine(dialog, "Failed to update device's name.");
        return kWentToSend;
    }
    Devices().SetDeviceNameByMac(mac, name.field);
    RebuildDeviceTrees(dialog);
    return kWentToSend;
}

unsigned ChangeIpWorker(CVX418Dlg* dialog) {
    const std::string mac = SelectedDeviceMac(dialog);
    if (!IsKnownUnit(mac)) {
        LogLine(dialog, kSelectDeviceToChangeIp);
        return kStoppedAtCheck;
    }
    LogLine(dialog, "Updating device's IP address. Please wait");
    const std::string text = ReadIpField(dialog);
    if (!IsAcceptedIpText(text)) {
        ShowInformation(kIpFormatErrorText);
        return kStoppedAtCheck;
    }
    const ConfigBlock block = IpRequestBlock(Devices(), mac, text);
    if (SendRequest(block.data(), kSetIpRequest) != 1) {
        LogLine(dialog, "Failed to update device's IP address.");
        return kWentToSend;
    }
    Devices().SetDeviceIpByMac(mac, block);
    RebuildDeviceTrees(dialog);
    return kWentToSend;
}

unsigned ChangeTopologyWorker(CVX418Dlg* dialog) {
    DeviceTable& table = Devices();
    const std::string mac = SelectedDeviceMac(dialog);
    const int entry = dialog->m_TopologyCombo.GetCurSel();
    if (!IsKnownTransmitter(mac)) {
        LogLine(dialog, kSelectTransmitterForTopology);
        return kStoppedAtCheck;
    }
    if (entry != static_cast<int>(Topology::Multicast) &&
        entry != static_cast<int>(Topology::Unicast)) {
        LogLine(dialog, kSelectTopologyMode);
        return kStoppedAtCheck;
    }
    const auto mode = static_cast<Topology>(entry);
    LogLine(dialog, "Updating device's topology mode. Please wait.");
    const ConfigBlock block = TopologyRequestBlock(table, mac, mode);
    if (SendRequest(block.data(), kSetTopologyRequest) != 1) {
        LogLine(dialog, "Failed to update device's topology mode.");
        return kWentToSend;
    }
    table.SetDeviceModeByMac(mac, static_cast<std::uint8_t>(mode));
    table.ForgetPeerLinks(table.FindDeviceByMac(mac));
    ClearPicker(dialog, kBackup1Picker);
    ClearPicker(dialog, kBackup2Picker);
    RebuildDeviceTrees(dialog);
    return kWentToSend;
}

unsigned AddReceiverWorker(CVX418Dlg* dialog) {
    DeviceTable& table = Devices();
    const std::optional<Attachment> pair = ReadAttachment(dialog, kConnectPicker);
    if (!pair) {
        return kStoppedAtCheck;
    }
    const auto& [tx, rx] = *pair;
    LogLine(dialog, "Adding the Receiver to this Transmitter. Please wait.");
    const std::uint8_t mode = table.DeviceModeByMac(tx);
    const ConnectionBlock block =
        ConnectionRequestBlock(table, MainReceiverTarget(mode, tx, rx), PeerSlot::Main);
    if (mode == kModeMulticastLowByte) {
        ClearPicker(dialog, kConnectPicker);
    }
    if (SendRequest(block.data(), kAddReceiverRequest) != 1) {
        LogLine(dialog, "Failed to add the Receiver.");
        return kWentToSend;
    }
    if (mode != kModeMulticastLowByte) {
        table.SetPeerMacSlot(table.FindDeviceByMac(rx), table.FindDeviceByMac(tx), PeerSlot::Main,
                             true);
    }
    table.SetDeviceKindByMac(rx, kReceiverKind);
    table.LinkT1MacByMac(rx, table.FindDeviceByMac(tx));
    RebuildDeviceTrees(dialog);
    return kWentToSend;
}

unsigned AddBackupReceiverWorker(CVX418Dlg* dialog, std::uint8_t slot) {
    DeviceTable& table = Devices();
    const auto peerSlot = static_cast<PeerSlot>(slot);
    const std::optional<Attachment> pair = ReadAttachment(dialog, PickerOfSlot(slot));
    if (!pair) {
        return kStoppedAtCheck;
    }
    const auto& [tx, rx] = *pair;
    LogLine(dialog, "Adding the Backup Receiver to this Transmitter. Please wait.");
    const ConnectionBlock block =
        ConnectionRequestBlock(table, BackupReceiverTarget(tx, rx), peerSlot);
    if (!SendBackupRequest(block)) {
        LogLine(dialog, "Failed to add the backup Receiver.");
        return kWentToSend;
    }
    table.SetDeviceKindByMac(rx, kReceiverKind);
    table.SetPeerMacSlot(table.FindDeviceByMac(rx), table.FindDeviceByMac(tx), peerSlot, true);
    RebuildDeviceTrees(dialog);
    return kWentToSend;
}

unsigned DeleteReceiversWorker(CVX418Dlg* dialog) {
    for (const TickedReceiver& ticked : CollectTickedReceivers(dialog)) {
        if (!DeleteOneReceiver(dialog, ticked)) {
            return kStoppedAtCheck;
        }
    }
    RebuildDeviceTrees(dialog);
    return kWentToSend;
}
