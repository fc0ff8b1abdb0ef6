// Labels, predicates and MAC read-back over a snapshot: the texts every tree item and picker
// entry carries, and the only way the rest of the program names a unit.

#include "views/labels.h"

#include <gtest/gtest.h>

#include "unit_records.h"

using namespace views_test;

namespace {

TEST(DeviceLabel, SuffixFollowsKindAndTransmitterMode) {
    struct Case {
        std::uint16_t kind, mode;
        const char* expected;
    };
    const Case cases[] = {
        {1, 0, "Hall: Multicast (192.168.0.60) [02:00:00:00:00:3c]"},
        {1, 1, "Hall: Unicast (192.168.0.60) [02:00:00:00:00:3c]"},
        {1, 2, "Hall (192.168.0.60) [02:00:00:00:00:3c]"},
        {0, 1, "Hall: Receiver (192.168.0.60) [02:00:00:00:00:3c]"},
        {2, 0, "Hall: Backup 2 (192.168.0.60) [02:00:00:00:00:3c]"},
        {7, 1, "Hall (192.168.0.60) [02:00:00:00:00:3c]"},
        // Only the low bytes count.
        {0x0101, 0x0100, "Hall: Multicast (192.168.0.60) [02:00:00:00:00:3c]"},
    };
    for (const Case& c : cases) {
        const std::vector<DeviceRecord> devices{Unit("Hall", 60, c.kind, c.mode)};
        EXPECT_EQ(DeviceLabel(devices, 0), c.expected) << c.kind << "/" << c.mode;
    }
}

TEST(DeviceLabel, NameBytesAreKeptToTheFieldEnd) {
    DeviceRecord r = Receiver("", 5);
    r.Name.fill('A');  // 16 characters, no terminator
    r.Name[3] = 0xE9;  // a Latin-1 byte stays a single byte
    const std::vector<DeviceRecord> devices{r};
    EXPECT_EQ(DeviceLabel(devices, 0),
              std::string("AAA\xE9") + "AAAAAAAAAAAA: Receiver (192.168.0.5) [02:00:00:00:00:05]");
}

TEST(ReceiverLabel, AlwaysSaysReceiverEvenForATransmitter) {
    const std::vector<DeviceRecord> devices{Transmitter("Tx", 1, kUnicast), Unit("B", 2, 2, 0)};
    EXPECT_EQ(ReceiverLabel(devices, 0), "Tx: Receiver (192.168.0.1) [02:00:00:00:00:01]");
    EXPECT_EQ(ReceiverLabel(devices, 1), "B: Receiver (192.168.0.2) [02:00:00:00:00:02]");
}

TEST(PlaceholderLabel, NamesTheConfiguredPeerOfEachSlot) {
    DeviceRecord t = Transmitter("Tx", 1, kUnicast);
    t = WithPeer(t, 0, 61);
    t = WithPeer(t, 2, 63);
    const std::vector<DeviceRecord> devices{t};
    EXPECT_EQ(PlaceholderLabel(devices, 0, 0),
              "UNKNOWN: Receiver (192.168.0.61) [02:00:00:00:00:3d]");
    EXPECT_EQ(PlaceholderLabel(devices, 0, 1), "UNKNOWN: Backup 1 (0.0.0.0) [00:00:00:00:00:00]");
    EXPECT_EQ(PlaceholderLabel(devices, 0, 2),
              "UNKNOWN: Backup 2 (192.168.0.63) [02:00:00:00:00:3f]");
    EXPECT_EQ(PlaceholderLabel(devices, 0, 3), "");
}

TEST(Labels, IndexOutsideTheSnapshotGivesNothing) {
    const std::vector<DeviceRecord> devices{Receiver("R", 2)};
    EXPECT_EQ(DeviceLabel(devices, 1), "");
    EXPECT_EQ(DeviceLabel(devices, -1), "");
    EXPECT_EQ(ReceiverLabel(devices, 5), "");
    EXPECT_EQ(PlaceholderLabel(devices, 1, 0), "");
    EXPECT_FALSE(HasNoPeers(devices, 1));
    EXPECT_FALSE(HasConnection(devices, 1));
}

TEST(HasConnection, MulticastNeedsARecordThatNamesIt) {
    const DeviceRecord t = Transmitter("M", 1, kMulticast);
    EXPECT_FALSE(HasConnection({t, Receiver("free", 2), Receiver("other", 3, 9)}, 0));
    // Any kind counts, the Transmitter itself included.
    EXPECT_TRUE(HasConnection({t, Receiver("fed", 2, 1)}, 0));
    EXPECT_TRUE(HasConnection({WithPeer(t, 0, 1)}, 0));
    DeviceRecord otherTx = Transmitter("X", 4, kUnicast);
    otherTx.T1Mac = Mac(1);
    EXPECT_TRUE(HasConnection({t, otherTx}, 0));
}

TEST(HasConnection, UnicastNeedsAnyConfiguredPeer) {
    const DeviceRecord t = Transmitter("U", 1, kUnicast);
    EXPECT_TRUE(HasNoPeers({t}, 0));
    EXPECT_FALSE(HasConnection({t, Receiver("names me", 2, 1)}, 0));
    for (int slot = 0; slot < 3; ++slot) {
        const std::vector<DeviceRecord> devices{WithPeer(t, slot, 7)};
        EXPECT_FALSE(HasNoPeers(devices, 0)) << slot;
        EXPECT_TRUE(HasConnection(devices, 0)) << slot;  // even when the peer is not in the table
    }
    // Any mode other than 0 behaves as unicast.
    EXPECT_TRUE(HasConnection({WithPeer(Transmitter("U", 1, 5), 1, 7)}, 0));
}

TEST(MacFromLabel, TakesEverythingFromTheLastBracket) {
    EXPECT_EQ(MacFromLabel("Hall: Unicast (192.168.0.60) [02:00:00:00:00:01]"),
              "02:00:00:00:00:01");
    // Names come from the units and may hold brackets of their own.
    EXPECT_EQ(MacFromLabel("A[1]: Receiver (1.2.3.4) [02:00:00:00:00:01]"), "02:00:00:00:00:01");
    EXPECT_EQ(MacFromLabel("[: Receiver (1.2.3.4) [02:00:00:00:00:01]"), "02:00:00:00:00:01");
    EXPECT_EQ(MacFromLabel("Available Receiver:"), "Available Receiver:");
    EXPECT_EQ(MacFromLabel(""), "");
    EXPECT_EQ(MacFromLabel("x [a]b]"), "ab");
}

TEST(FindInSnapshot, ExactTextOrNothing) {
    const std::vector<DeviceRecord> devices{Receiver("a", 1), Receiver("b", 2)};
    EXPECT_EQ(FindInSnapshot(devices, "02:00:00:00:00:02"), 1);
    EXPECT_EQ(FindInSnapshot(devices, "02:00:00:00:00:03"), -1);
    EXPECT_EQ(FindInSnapshot(devices, "02:00:00:00:00:0"), -1);
    EXPECT_EQ(FindInSnapshot(devices, ""), -1);
    EXPECT_EQ(FindInSnapshot({}, "02:00:00:00:00:01"), -1);
}

}  // namespace
