#include "views/view_plans.h"

#include <cstddef>

#include "views/labels.h"

namespace {

// Slot numbers of a Transmitter's Receivers, as PlaceholderLabel and the rows take them.
constexpr int kMainSlot = static_cast<int>(PeerSlot::Main);
constexpr int kBackup1Slot = static_cast<int>(PeerSlot::Backup1);
constexpr int kBackup2Slot = static_cast<int>(PeerSlot::Backup2);

const DeviceRecord& At(const std::vector<DeviceRecord>& devices, int i) {
    return devices[static_cast<std::size_t>(i)];
}

int Count(const std::vector<DeviceRecord>& devices) {
    return static_cast<int>(devices.size());
}

constexpr std::uint8_t kModeMulticast = 0;
constexpr std::uint8_t kModeUnicast = 1;

TransmitterBranch PlanBranch(const std::vector<DeviceRecord>& devices, int j) {
    const DeviceRecord& transmitter = At(devices, j);
    TransmitterBranch branch;
    branch.item = {DeviceLabel(devices, j),
                   HasConnection(devices, j) ? kImageConnected : kImageNotConnected};
    if (ModeLowByte(transmitter) == kModeMulticast) {
        for (int k = 0; k < Count(devices); ++k) {
            const DeviceRecord& r = At(devices, k);
            if (!IsTransmitter(r) && r.T1Mac == transmitter.Mac) {
                branch.children.push_back({DeviceLabel(devices, k), kImageConnected});
            }
        }
        return branch;
    }
    // Unicast: the main Receiver whatever its kind, or a red placeholder when it is configured
    // (or only backups are) but did not answer.
    for (int k = 0; k < Count(devices); ++k) {
        if (At(devices, k).Mac == transmitter.T1Mac) {
            branch.children.push_back({ReceiverLabel(devices, k), kImageConnected});
        }
    }
    if (branch.children.empty() && !HasNoPeers(devices, j)) {
        branch.children.push_back({PlaceholderLabel(devices, j, kMainSlot), kImageNotConnected});
    }
    return branch;
}

// The record a slot of u names: T1Mac, T2Mac or T3Mac.
const MacBytes& SlotMac(const DeviceRecord& u, int slot) {
    switch (slot) {
        case kBackup1Slot:
            return u.T2Mac;
        case kBackup2Slot:
            return u.T3Mac;
        default:
            return u.T1Mac;
    }
}

PickerContent SlotContent(const std::vector<DeviceRecord>& devices, int u, int slot) {
    const MacBytes& wanted = SlotMac(At(devices, u), slot);
    for (int i = 0; i < Count(devices); ++i) {
        if (At(devices, i).Mac == wanted) {
            return {{DeviceLabel(devices, i)}, 0};
        }
    }
    return {{PlaceholderLabel(devices, u, slot)}, -1};
}

bool InRange(const std::vector<DeviceRecord>& devices, int i) {
    return i >= 0 && i < Count(devices);
}

}  // namespace

DeviceTreesPlan PlanDeviceTrees(const std::vector<DeviceRecord>& devices) {
    DeviceTreesPlan plan;
    const std::vector<bool> available = AvailableReceivers(devices);
    for (int i = 0; i < Count(devices); ++i) {
        if (available[static_cast<std::size_t>(i)]) {
            plan.available.push_back({DeviceLabel(devices, i), kImageConnected});
        }
    }
    for (int j = 0; j < Count(devices); ++j) {
        if (IsTransmitter(At(devices, j))) {
            plan.connections.push_back(PlanBranch(devices, j));
        }
    }
    return plan;
}

std::vector<std::string> PickerCandidates(const std::vector<DeviceRecord>& devices,
                                          ReceiverPicker picker) {
    std::vector<std::string> labels;
    if (picker != kConnectPicker && picker != kBackup1Picker && picker != kBackup2Picker) {
        return labels;
    }
    const std::vector<bool> available = AvailableReceivers(devices);
    for (int i = 0; i < Count(devices); ++i) {
        const bool offered = picker == kConnectPicker ? available[static_cast<std::size_t>(i)]
                                                      : !IsTransmitter(At(devices, i));
        if (offered) {
            labels.push_back(DeviceLabel(devices, i));
        }
    }
    return labels;
}

PickerContent ConnectRowContent(const std::vector<DeviceRecord>& devices, int u) {
    if (!InRange(devices, u)) {
        return {};
    }
    if (ModeLowByte(At(devices, u)) == kModeUnicast) {
        PickerContent found = SlotContent(devices, u, kMainSlot);
        if (found.selected == 0) {
            return found;
        }
    }
    return {{PlaceholderLabel(devices, u, kMainSlot)}, -1};
}

PickerContent BackupRowContent(const std::vector<DeviceRecord>& devices, int u, int slot) {
    if (!InRange(devices, u) || (slot != kBackup1Slot && slot != kBackup2Slot)) {
        return {};
    }
    return SlotContent(devices, u, slot);
}

SelectedUnitView PlanSelectedUnit(const std::vector<DeviceRecord>& devices,
                                  std::string_view label) {
    SelectedUnitView view;
    view.mac = MacFromLabel(label);
    const int u = FindInSnapshot(devices, view.mac);
    if (u < 0) {
        return view;  // empty fields, no topology, Receiver layout, empty pickers
    }
    const DeviceRecord& r = At(devices, u);
    view.known = true;
    view.name = NameText(r.Name);
    view.ip = Ipv4Text(r.Ip);
    view.selector = IsTransmitter(r) ? ModeLowByte(r) : kSelectorReceiver;
    view.topologyEntry = view.selector;
    view.connect = ConnectRowContent(devices, u);
    view.backup1 = BackupRowContent(devices, u, kBackup1Slot);
    view.backup2 = BackupRowContent(devices, u, kBackup2Slot);
    return view;
}
