#pragma once

// What the trees, the configuration fields and the Receiver pickers show, computed from one
// snapshot of the device table without touching a control. The Qt-facing code only applies
// these plans, so the rules of which unit shows where are tested as plain C++.

#include <string>
#include <string_view>
#include <vector>

#include "protocol/device_table.h"

inline constexpr const char* kAvailableHeading = "Available Receiver:";
// Images of the Connections tree's image list.
inline constexpr int kImageNotConnected = 0;  // red
inline constexpr int kImageConnected = 1;     // green

struct TreeEntry {
    std::string label;
    int image = kImageConnected;
    bool operator==(const TreeEntry&) const = default;
};

struct TransmitterBranch {
    TreeEntry item;
    std::vector<TreeEntry> children;  // each one becomes an entry of ReceiverItems
};

struct DeviceTreesPlan {
    std::vector<TransmitterBranch> connections;  // top level of the Connections tree
    std::vector<TreeEntry> available;            // children of the "Available Receiver:" heading
};

DeviceTreesPlan PlanDeviceTrees(const std::vector<DeviceRecord>& devices);

// The three Receiver pickers: 0 Connect, 1 Backup 1, 2 Backup 2.
enum class ReceiverPicker : int { Connect = 0, Backup1 = 1, Backup2 = 2 };
inline constexpr ReceiverPicker kConnectPicker = ReceiverPicker::Connect;
inline constexpr ReceiverPicker kBackup1Picker = ReceiverPicker::Backup1;
inline constexpr ReceiverPicker kBackup2Picker = ReceiverPicker::Backup2;

// DeviceLabel of every record the picker may offer, in table order; empty for another number.
std::vector<std::string> PickerCandidates(const std::vector<DeviceRecord>& devices,
                                          ReceiverPicker picker);

struct PickerContent {
    std::vector<std::string> entries;
    int selected = -1;  // -1: an entry is present but not chosen, so the text stays empty
    bool operator==(const PickerContent&) const = default;
};

// The current Receiver of one slot of Transmitter u: the unit's label, chosen, when it is in
// the snapshot; else the unchosen placeholder. The Connect slot counts only for unicast.
PickerContent ConnectRowContent(const std::vector<DeviceRecord>& devices, int u);
PickerContent BackupRowContent(const std::vector<DeviceRecord>& devices, int u, int slot);

// Row layouts of the configuration group.
inline constexpr int kSelectorMulticast = 0;
inline constexpr int kSelectorUnicast = 1;
inline constexpr int kSelectorReceiver = 2;

struct SelectedUnitView {
    bool known = false;  // the label's MAC names a record of the snapshot
    std::string name;
    std::string ip;
    std::string mac;                   // always the text taken from the label
    int topologyEntry = -1;            // entry of the Topology picker to select; no entry clears it
    int selector = kSelectorReceiver;  // 0, 1, 2; any other value leaves the rows alone
    PickerContent connect;
    PickerContent backup1;
    PickerContent backup2;
};

// What the fields show for a selected tree label. A label whose MAC names no record (the
// heading, an "UNKNOWN" placeholder, a unit a Refresh dropped, no selection at all) shows its
// MAC with empty Name and IP, no topology and the Receiver layout with empty pickers, instead
// of another unit's data.
SelectedUnitView PlanSelectedUnit(const std::vector<DeviceRecord>& devices, std::string_view label);
