// Which unit hangs where, what the pickers offer and what the fields show, computed from one
// snapshot: the rules of the views without a widget in the way.

#include "views/view_plans.h"

#include <gtest/gtest.h>

#include "unit_records.h"
#include "views/labels.h"

using namespace views_test;

namespace {

std::vector<std::string> Labels(const std::vector<TreeEntry>& entries) {
    std::vector<std::string> labels;
    for (const TreeEntry& e : entries) {
        labels.push_back(e.label);
    }
    return labels;
}

TEST(PlanDeviceTrees, EmptyTableGivesNoItems) {
    const DeviceTreesPlan plan = PlanDeviceTrees({});
    EXPECT_TRUE(plan.connections.empty());
    EXPECT_TRUE(plan.available.empty());
}

TEST(PlanDeviceTrees, MulticastTransmitterCarriesTheReceiversThatNameIt) {
    const std::vector<DeviceRecord> devices{
        Receiver("R1", 2, 1), Transmitter("Lonely", 9, kMulticast), Receiver("Free", 4),
        Transmitter("M", 1, kMulticast), Receiver("R2", 3, 1),
        // A Transmitter naming M is not a Receiver of M.
        WithPeer(Transmitter("T", 5, kMulticast), 0, 1)};
    const DeviceTreesPlan plan = PlanDeviceTrees(devices);
    ASSERT_EQ(plan.connections.size(), 3u);

    const TransmitterBranch& lonely = plan.connections[0];
    EXPECT_EQ(lonely.item, (TreeEntry{DeviceLabel(devices, 1), kImageNotConnected}));
    EXPECT_TRUE(lonely.children.empty());

    const TransmitterBranch& m = plan.connections[1];
    EXPECT_EQ(m.item, (TreeEntry{DeviceLabel(devices, 3), kImageConnected}));
    ASSERT_EQ(m.children.size(), 2u);  // in table order
    EXPECT_EQ(m.children[0], (TreeEntry{DeviceLabel(devices, 0), kImageConnected}));
    EXPECT_EQ(m.children[1], (TreeEntry{DeviceLabel(devices, 4), kImageConnected}));

    EXPECT_EQ(Labels(plan.available), std::vector<std::string>{DeviceLabel(devices, 2)});
}

TEST(PlanDeviceTrees, UnicastTransmitterShowsItsMainReceiverOrAPlaceholder) {
    const std::vector<DeviceRecord> devices{
        Transmitter("NoPeers", 1, kUnicast),
        WithPeer(Transmitter("Missing", 2, kUnicast), 0, 61),
        WithPeer(Transmitter("BackupOnly", 3, kUnicast), 2, 62),
        WithPeer(WithPeer(Transmitter("Found", 4, kUnicast), 0, 5), 1, 6),
        Receiver("Main", 5, 4),
        Receiver("Backup", 6),
    };
    const DeviceTreesPlan plan = PlanDeviceTrees(devices);
    ASSERT_EQ(plan.connections.size(), 4u);

    EXPECT_EQ(plan.connections[0].item.image, kImageNotConnected);
    EXPECT_TRUE(plan.connections[0].children.empty());

    EXPECT_EQ(plan.connections[1].item.image, kImageConnected);
    EXPECT_EQ(plan.connections[1].children,
              (std::vector<TreeEntry>{
                  {"UNKNOWN: Receiver (192.168.0.61) [02:00:00:00:00:3d]", kImageNotConnected}}));

    // Only a backup configured: the placeholder names the empty main slot.
    EXPECT_EQ(plan.connections[2].item.image, kImageConnected);
    EXPECT_EQ(plan.connections[2].children,
              (std::vector<TreeEntry>{
                  {"UNKNOWN: Receiver (0.0.0.0) [00:00:00:00:00:00]", kImageNotConnected}}));

    // Backups never appear in the tree; a backup with an empty T1Mac is free.
    EXPECT_EQ(plan.connections[3].children,
              (std::vector<TreeEntry>{{ReceiverLabel(devices, 4), kImageConnected}}));
    EXPECT_EQ(Labels(plan.available), std::vector<std::string>{DeviceLabel(devices, 5)});
}

TEST(PlanDeviceTrees, UnicastMainReceiverIsShownAsReceiverWhateverItsKind) {
    const std::vector<DeviceRecord> devices{WithPeer(Transmitter("U", 1, kUnicast), 0, 2),
                                            Transmitter("AlsoTx", 2, kMulticast)};
    const DeviceTreesPlan plan = PlanDeviceTrees(devices);
    ASSERT_EQ(plan.connections.size(), 2u);
    ASSERT_EQ(plan.connections[0].children.size(), 1u);
    EXPECT_EQ(plan.connections[0].children[0].label,
              "AlsoTx: Receiver (192.168.0.2) [02:00:00:00:00:02]");
}

TEST(PlanDeviceTrees, ReceiverCanHangUnderTwoTransmitters) {
    const std::vector<DeviceRecord> devices{Transmitter("M", 1, kMulticast),
                                            WithPeer(Transmitter("U", 2, kUnicast), 0, 3),
                                            Receiver("Twice", 3, 1)};
    const DeviceTreesPlan plan = PlanDeviceTrees(devices);
    ASSERT_EQ(plan.connections.size(), 2u);
    EXPECT_EQ(Labels(plan.connections[0].children),
              std::vector<std::string>{DeviceLabel(devices, 2)});
    EXPECT_EQ(Labels(plan.connections[1].children),
              std::vector<std::string>{ReceiverLabel(devices, 2)});
    EXPECT_TRUE(plan.available.empty());
}

// No Transmitter of the table feeds them, so they are listed among the free ones (and offered
// by the Connect picker) rather than nowhere.
TEST(PlanDeviceTrees, ReceiverNamingAnAbsentOrSilentTransmitterIsListedAsAvailable) {
    const std::vector<DeviceRecord> devices{
        Transmitter("U", 1, kUnicast), Receiver("PointsAtU", 2, 1),
        Receiver("PointsNowhere", 3, 77), WithPeer(Transmitter("V", 4, kUnicast), 0, 5),
        Receiver("MainOfV", 5, 4)};
    const DeviceTreesPlan plan = PlanDeviceTrees(devices);
    ASSERT_EQ(plan.connections.size(), 2u);
    EXPECT_TRUE(plan.connections[0].children.empty());
    const std::vector<std::string> expected{
        "PointsAtU: Receiver (192.168.0.2) [02:00:00:00:00:02]",
        "PointsNowhere: Receiver (192.168.0.3) [02:00:00:00:00:03]"};
    EXPECT_EQ(Labels(plan.available), expected);
    EXPECT_EQ(PickerCandidates(devices, kConnectPicker), expected);
}

TEST(PlanDeviceTrees, OtherKindsAreListedAsReceivers) {
    const std::vector<DeviceRecord> devices{Unit("Two", 2, 2, 0), Unit("Nine", 9, 9, 1),
                                            Transmitter("M", 1, kMulticast), [] {
                                                DeviceRecord r = Unit("FedTwo", 4, 2, 0);
                                                r.T1Mac = Mac(1);
                                                return r;
                                            }()};
    const DeviceTreesPlan plan = PlanDeviceTrees(devices);
    EXPECT_EQ(Labels(plan.available),
              (std::vector<std::string>{"Two: Backup 2 (192.168.0.2) [02:00:00:00:00:02]",
                                        "Nine (192.168.0.9) [02:00:00:00:00:09]"}));
    ASSERT_EQ(plan.connections.size(), 1u);
    EXPECT_EQ(Labels(plan.connections[0].children),
              std::vector<std::string>{"FedTwo: Backup 2 (192.168.0.4) [02:00:00:00:00:04]"});
}

TEST(PickerCandidates, ConnectOffersFreeReceiversBackupsOfferAllReceivers) {
    const std::vector<DeviceRecord> devices{Transmitter("M", 1, kMulticast), Receiver("Fed", 2, 1),
                                            Receiver("Free", 3), Unit("Two", 4, 2, 0),
                                            Transmitter("U", 5, kUnicast)};
    EXPECT_EQ(PickerCandidates(devices, kConnectPicker),
              (std::vector<std::string>{DeviceLabel(devices, 2), DeviceLabel(devices, 3)}));
    const std::vector<std::string> backups{DeviceLabel(devices, 1), DeviceLabel(devices, 2),
                                           DeviceLabel(devices, 3)};
    EXPECT_EQ(PickerCandidates(devices, kBackup1Picker), backups);
    EXPECT_EQ(PickerCandidates(devices, kBackup2Picker), backups);
    EXPECT_TRUE(PickerCandidates(devices, static_cast<ReceiverPicker>(3)).empty());
    EXPECT_TRUE(PickerCandidates(devices, static_cast<ReceiverPicker>(-1)).empty());
    EXPECT_TRUE(PickerCandidates({}, kConnectPicker).empty());
}

TEST(PlanSelectedUnit, UnicastTransmitterShowsItsReceiversAndPlaceholders) {
    DeviceRecord t = WithPeer(WithPeer(Transmitter("U", 1, kUnicast), 0, 2), 2, 3);
    const std::vector<DeviceRecord> devices{t, Receiver("Main", 2, 1), Receiver("B2", 3)};
    const SelectedUnitView view = PlanSelectedUnit(devices, DeviceLabel(devices, 0));
    EXPECT_TRUE(view.known);
    EXPECT_EQ(view.name, "U");
    EXPECT_EQ(view.ip, "192.168.0.1");
    EXPECT_EQ(view.mac, "02:00:00:00:00:01");
    EXPECT_EQ(view.topologyEntry, 1);
    EXPECT_EQ(view.selector, kSelectorUnicast);
    EXPECT_EQ(view.connect, (PickerContent{{DeviceLabel(devices, 1)}, 0}));
    // An empty T2Mac shows the unchosen placeholder of zeros.
    EXPECT_EQ(view.backup1,
              (PickerContent{{"UNKNOWN: Backup 1 (0.0.0.0) [00:00:00:00:00:00]"}, -1}));
    EXPECT_EQ(view.backup2, (PickerContent{{DeviceLabel(devices, 2)}, 0}));
}

TEST(PlanSelectedUnit, ConnectSlotIsShownOnlyForUnicast) {
    // A multicast Transmitter whose T1Mac happens to name a present unit.
    const std::vector<DeviceRecord> devices{WithPeer(Transmitter("M", 1, kMulticast), 0, 2),
                                            Receiver("R", 2, 1)};
    const SelectedUnitView view = PlanSelectedUnit(devices, DeviceLabel(devices, 0));
    EXPECT_EQ(view.selector, kSelectorMulticast);
    EXPECT_EQ(view.topologyEntry, 0);
    EXPECT_EQ(view.connect, (PickerContent{{PlaceholderLabel(devices, 0, 0)}, -1}));
}

TEST(PlanSelectedUnit, ReceiversAndUnknownModesGetNoTopologyEntry) {
    const std::vector<DeviceRecord> devices{Receiver("R", 1), Transmitter("Two", 2, 2),
                                            Transmitter("Three", 3, 3), Unit("K2", 4, 2, 1)};
    const SelectedUnitView receiver = PlanSelectedUnit(devices, DeviceLabel(devices, 0));
    EXPECT_EQ(receiver.selector, kSelectorReceiver);
    EXPECT_EQ(receiver.name, "R");
    const SelectedUnitView two = PlanSelectedUnit(devices, DeviceLabel(devices, 1));
    EXPECT_EQ(two.selector, kSelectorReceiver);  // shown like a Receiver
    EXPECT_EQ(two.topologyEntry, 2);             // no such entry: the picker clears
    const SelectedUnitView three = PlanSelectedUnit(devices, DeviceLabel(devices, 2));
    EXPECT_EQ(three.selector, 3);  // the rows are left as they were
    EXPECT_EQ(PlanSelectedUnit(devices, DeviceLabel(devices, 3)).selector, kSelectorReceiver);
}

TEST(PlanSelectedUnit, LabelNamingNoUnitShowsOnlyItsMac) {
    const std::vector<DeviceRecord> devices{WithPeer(Transmitter("U", 1, kUnicast), 0, 9),
                                            Receiver("R", 2)};
    const SelectedUnitView empty;
    const auto expectUnknown = [&](const std::string& label, const std::string& mac) {
        const SelectedUnitView view = PlanSelectedUnit(devices, label);
        EXPECT_FALSE(view.known) << label;
        EXPECT_EQ(view.name, "") << label;
        EXPECT_EQ(view.ip, "") << label;
        EXPECT_EQ(view.mac, mac) << label;
        EXPECT_EQ(view.topologyEntry, -1) << label;
        EXPECT_EQ(view.selector, kSelectorReceiver) << label;
        EXPECT_EQ(view.connect, empty.connect) << label;
        EXPECT_EQ(view.backup1, empty.backup1) << label;
        EXPECT_EQ(view.backup2, empty.backup2) << label;
    };
    expectUnknown(PlaceholderLabel(devices, 0, 0), "02:00:00:00:00:09");
    expectUnknown(kAvailableHeading, "Available Receiver:");
    expectUnknown("", "");
    expectUnknown("Gone: Receiver (192.168.0.7) [02:00:00:00:00:07]", "02:00:00:00:00:07");
    // A "[" in a unit's own name does not hide the unit, nor make it record 0.
    DeviceRecord odd = Receiver("a[b", 5);
    const std::vector<DeviceRecord> withOdd{devices[0], odd};
    const SelectedUnitView view = PlanSelectedUnit(withOdd, DeviceLabel(withOdd, 1));
    EXPECT_TRUE(view.known);
    EXPECT_EQ(view.mac, "02:00:00:00:00:05");
    EXPECT_EQ(view.name, "a[b");
}

TEST(PlanSelectedUnit, EmptyTableKnowsNothing) {
    const SelectedUnitView view = PlanSelectedUnit({}, "x [02:00:00:00:00:01]");
    EXPECT_FALSE(view.known);
    EXPECT_EQ(view.mac, "02:00:00:00:00:01");
}

}  // namespace
