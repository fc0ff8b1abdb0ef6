#include "ops/operation_workers.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "net/frame_builder.h"
#include "platform/message_box.h"
#include "protocol/device_table.h"
#include "protocol/operation_rules.h"
#include "protocol/request_effects.h"
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

// Each worker looks its units up once and carries the copies through: a Refresh that empties
// the table meanwhile cannot turn the request towards another unit.
std::optional<DeviceRecord> SelectedUnit(CVX418Dlg* dialog) {
    return Devices().FindRecord(GetSelectedDeviceMac(dialog, LastTreeIsConnections.load()));
}

bool IsTransmitterUnit(const std::optional<DeviceRecord>& unit) {
    return unit && IsTransmitter(*unit);
}

void ShowInformation(std::string_view text) {
    const std::string copy(text);
    MessageBoxA(nullptr, copy.c_str(), kInformationCaption, MB_OK);
}

ReceiverPicker PickerOfSlot(std::uint8_t slot) {
    return slot == static_cast<std::uint8_t>(PeerSlot::Backup2) ? kBackup2Picker : kBackup1Picker;
}

// The picked Receiver, or nothing when the entry names no unit of the table or a Transmitter
// (a unicast Transmitter's slot may name one).
std::optional<DeviceRecord> PickedReceiver(CVX418Dlg* dialog, ReceiverPicker picker) {
    std::optional<DeviceRecord> rx = Devices().FindRecord(GetPickedReceiverMac(dialog, picker));
    if (rx && IsTransmitter(*rx)) {
        return std::nullopt;
    }
    return rx;
}

struct Attachment {
    DeviceRecord transmitter;
    DeviceRecord receiver;
};

// The selected Transmitter and the picked Receiver of an Add, both read once; nothing (after
// the refusal's Log line) when either names no fitting unit.
std::optional<Attachment> ReadAttachment(CVX418Dlg* dialog, ReceiverPicker picker) {
    const std::optional<DeviceRecord> tx = SelectedUnit(dialog);
    const std::optional<DeviceRecord> rx = PickedReceiver(dialog, picker);
    if (!IsTransmitterUnit(tx)) {
        LogLine(dialog, kSelectTransmitterToAdd);
        return std::nullopt;
    }
    if (!rx) {
        LogLine(dialog, kSelectReceiverToAdd);
        return std::nullopt;
    }
    return Attachment{*tx, *rx};
}

// Sends one request that addressed will answer; once the frame has left, the table shows its
// effect at once, and a refusal from the unit puts the old values back. False when the frame
// did not leave: then nothing changes.
bool SendAndShow(const MacBytes& addressed, ConfirmedOperation operation,
                 const std::function<bool()>& send, const DeviceTable::RecordEdit& effect) {
    DeviceTable& table = Devices();
    // Expected before the send: the answer may arrive before the effect is made.
    const DeviceTable::RequestTicket ticket = table.ExpectAnswer(addressed, operation);
    if (!send()) {
        table.DropExpectation(ticket);
        return false;
    }
    table.ApplyForRequest(ticket, effect);
    return true;
}

std::function<bool()> SendConfig(const ConfigBlock& block, RequestKind kind) {
    return [block, kind] { return SendRequest(block.data(), kind) == 1; };
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
    // The fields follow the loop item by item, as the user sees it.
    dialog->m_ConnectionsTree.SelectItem(ticked.item);
    const std::optional<DeviceRecord> rx = Devices().FindRecord(ticked.receiverMac);
    const std::optional<DeviceRecord> tx = Devices().FindRecord(ticked.transmitterMac);
    if (!rx || !tx) {
        LogLine(dialog, "Skipped %s: it is not among the units found.", ticked.label.c_str());
        return true;
    }
    if (IsTransmitter(*rx)) {
        LogLine(dialog, kSelectReceiverToDelete);
        return false;
    }
    LogLine(dialog, "Deleting the Receiver(s) for this Transmitter. Please wait.");
    const RecordTarget target = MainReceiverTarget(*tx, *rx);
    const ConnectionBlock block =
        ConnectionRequestBlock(target.addressed, target.other, PeerSlot::Main);
    const bool sent = SendAndShow(
        target.addressed.Mac, ConfirmedOperation::DeleteReceiver,
        [&block] { return SendRequest(block.data(), kDeleteReceiverRequest) == 1; },
        [&](Records records) { DetachEffect(records, tx->Mac, rx->Mac); });
    if (!sent) {
        LogLine(dialog, "Failed to delete the Receiver.");
    }
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
    const std::optional<DeviceRecord> unit = SelectedUnit(dialog);
    if (!unit) {
        LogLine(dialog, kSelectDeviceToRename);
        return kStoppedAtCheck;
    }
    LogLine(dialog, "Updating device's name. Please wait");
    const NameCheck name = CheckDeviceName(ReadNameField(dialog));
    if (const auto refusal = NameRefusalText(name.verdict)) {
        ShowInformation(*refusal);
        return kStoppedAtCheck;
    }
    const ConfigBlock block = NameRequestBlock(*unit, name.field);
    if (!SendAndShow(unit->Mac, ConfirmedOperation::SetName, SendConfig(block, kSetNameRequest),
                     [&](Records records) { RenameEffect(records, unit->Mac, name.field); })) {
        LogLine(dialog, "Failed to update device's name.");
        return kWentToSend;
    }
    RebuildDeviceTrees(dialog);
    return kWentToSend;
}

unsigned ChangeIpWorker(CVX418Dlg* dialog) {
    const std::optional<DeviceRecord> unit = SelectedUnit(dialog);
    if (!unit) {
        LogLine(dialog, kSelectDeviceToChangeIp);
        return kStoppedAtCheck;
    }
    LogLine(dialog, "Updating device's IP address. Please wait");
    const std::optional<Ipv4Bytes> ip = ParseAcceptedIpText(ReadIpField(dialog));
    if (!ip) {
        ShowInformation(kIpFormatErrorText);
        return kStoppedAtCheck;
    }
    const ConfigBlock block = IpRequestBlock(*unit, *ip);
    if (!SendAndShow(unit->Mac, ConfirmedOperation::SetIp, SendConfig(block, kSetIpRequest),
                     [&](Records records) { SetIpEffect(records, unit->Mac, *ip); })) {
        LogLine(dialog, "Failed to update device's IP address.");
        return kWentToSend;
    }
    RebuildDeviceTrees(dialog);
    return kWentToSend;
}

unsigned ChangeTopologyWorker(CVX418Dlg* dialog) {
    const std::optional<DeviceRecord> unit = SelectedUnit(dialog);
    const int entry = dialog->m_TopologyCombo.GetCurSel();
    if (!IsTransmitterUnit(unit)) {
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
    const ConfigBlock block = TopologyRequestBlock(*unit, mode);
    if (!SendAndShow(unit->Mac, ConfirmedOperation::SetTopology,
                     SendConfig(block, kSetTopologyRequest),
                     [&](Records records) { SetTopologyEffect(records, unit->Mac, mode); })) {
        LogLine(dialog, "Failed to update device's topology mode.");
        return kWentToSend;
    }
    ClearPicker(dialog, kBackup1Picker);
    ClearPicker(dialog, kBackup2Picker);
    RebuildDeviceTrees(dialog);
    return kWentToSend;
}

unsigned AddReceiverWorker(CVX418Dlg* dialog) {
    const std::optional<Attachment> pair = ReadAttachment(dialog, kConnectPicker);
    if (!pair) {
        return kStoppedAtCheck;
    }
    const auto& [tx, rx] = *pair;
    LogLine(dialog, "Adding the Receiver to this Transmitter. Please wait.");
    const RecordTarget target = MainReceiverTarget(tx, rx);
    const ConnectionBlock block =
        ConnectionRequestBlock(target.addressed, target.other, PeerSlot::Main);
    if (static_cast<std::uint8_t>(tx.Mode & 0xffu) == kModeMulticastLowByte) {
        ClearPicker(dialog, kConnectPicker);
    }
    if (!SendAndShow(
            target.addressed.Mac, ConfirmedOperation::AddReceiver,
            [&block] { return SendRequest(block.data(), kAddReceiverRequest) == 1; },
            [&](Records records) { AttachEffect(records, tx.Mac, rx.Mac, PeerSlot::Main); })) {
        LogLine(dialog, "Failed to add the Receiver.");
        return kWentToSend;
    }
    RebuildDeviceTrees(dialog);
    return kWentToSend;
}

unsigned AddBackupReceiverWorker(CVX418Dlg* dialog, std::uint8_t slot) {
    const auto peerSlot = static_cast<PeerSlot>(slot);
    const std::optional<Attachment> pair = ReadAttachment(dialog, PickerOfSlot(slot));
    if (!pair) {
        return kStoppedAtCheck;
    }
    const auto& [tx, rx] = *pair;
    LogLine(dialog, "Adding the Backup Receiver to this Transmitter. Please wait.");
    // Always the Transmitter, whatever its mode.
    const ConnectionBlock block = ConnectionRequestBlock(tx, rx, peerSlot);
    if (!SendAndShow(
            tx.Mac, ConfirmedOperation::AddReceiver, [&block] { return SendBackupRequest(block); },
            [&](Records records) { AttachEffect(records, tx.Mac, rx.Mac, peerSlot); })) {
        LogLine(dialog, "Failed to add the backup Receiver.");
        return kWentToSend;
    }
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
