#include "protocol/device_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <span>

#include "core_test_support.h"

namespace {

const std::string kDashes(95, '-');

class DeviceTableTest : public ::testing::Test {
  protected:
    void Store(const WireRecord& r) {
        const auto bytes = r.Bytes();
        table.StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize>(bytes), sink);
    }
    // Three units: a unicast Transmitter (index 0) and two Receivers attached to it.
    void StoreThree() {
        WireRecord tx{.name = "TX", .mac = MacOf(1), .kind = 1, .modeBytes = {0, 1}};
        tx.t1 = MacOf(2);
        tx.t2 = MacOf(3);
        Store(tx);
        WireRecord rx1{.name = "RX1", .mac = MacOf(2), .kind = 0};
        rx1.t1 = MacOf(1);
        Store(rx1);
        WireRecord rx2{.name = "RX2", .mac = MacOf(3), .kind = 0};
        rx2.t1 = MacOf(1);
        Store(rx2);
    }

    DeviceTable table;
    RecordingSink sink;
};

TEST_F(DeviceTableTest, UnicastTransmitterTracesEveryFieldInOrder) {
    WireRecord r{.name = "STUDIO4", .firmware = 0x0012, .tfdp = 0x0001, .kind = 1};
    r.modeBytes = {0x00, 0x01};
    r.peerIp = {192, 168, 1, 51};
    r.backup1Ip = {192, 168, 1, 52};
    r.t1 = MacOf(0x51);
    Store(r);

    const std::vector<std::string> expected{
        "Device Name is STUDIO4",
        "Firmware Version is 0.12",
        "TFDP Version is 01",
        "Device IP is 192.168.1.50",
        "Device MAC is 00:1c:2d:00:00:01",
        "Device is T",
        "Device is U",
        "Receiver is 192.168.1.51",
        "Backup1 is 192.168.1.52",
        "Backup2 is 0.0.0.0",
        "T1 MAC is 00:1c:2d:00:00:51",
        "T2 MAC is 00:00:00:00:00:00",
        "T3 MAC is 00:00:00:00:00:00",
        kDashes,
    };
    EXPECT_EQ(sink.Traces(), expected);
    EXPECT_TRUE(sink.Logs().empty());

    const DeviceRecord stored = table.RecordAt(0);
    EXPECT_EQ(stored.FirmwareVersion, 0x0012);
    EXPECT_EQ(stored.TfdpVersion, 0x0001);
    EXPECT_EQ(stored.Mode, 1);
    EXPECT_EQ(stored.Reserved, (std::array<std::uint8_t, 2>{0xaa, 0x55}));
    EXPECT_EQ(stored.Backup1Ip, (Ipv4Bytes{192, 168, 1, 52}));
}

TEST_F(DeviceTableTest, MulticastTransmitterTracesNoPeers) {
    WireRecord r{.name = "MC", .kind = 1};
    r.peerIp = {10, 0, 0, 9};  // present on the wire but not traced in multicast mode
    r.t1 = MacOf(9);
    Store(r);
    const std::vector<std::string> expected{
        "Device Name is MC",
        "Firmware Version is 0.12",
        "TFDP Version is 01",
        "Device IP is 192.168.1.50",
        "Device MAC is 00:1c:2d:00:00:01",
        "Device is T",
        "Mode is M",
        kDashes,
    };
    EXPECT_EQ(sink.Traces(), expected);
    EXPECT_EQ(table.T1MacTextAt(0), "00:1c:2d:00:00:09");  // stored all the same
}

TEST_F(DeviceTableTest, ReceiverKeepsItsModeBytesAsReceived) {
    WireRecord r{.name = "RX", .kind = 0};
    r.modeBytes = {0x00, 0x01};
    r.peerIp = {192, 168, 1, 60};
    r.t1 = MacOf(0x60);
    Store(r);
    const auto traces = sink.Traces();
    ASSERT_EQ(traces.size(), 11u);
    EXPECT_EQ(traces[5], "Device is R");
    EXPECT_EQ(traces[6], "IP of T is 192.168.1.60");
    EXPECT_EQ(traces[7], "T1 MAC is 00:1c:2d:00:00:60");
    EXPECT_EQ(traces[10], kDashes);

    const DeviceRecord stored = table.RecordAt(0);
    std::array<std::uint8_t, 2> modeBytes{};
    std::memcpy(modeBytes.data(), &stored.Mode, sizeof stored.Mode);
    EXPECT_EQ(modeBytes, (std::array<std::uint8_t, 2>{0x00, 0x01}));
}

TEST_F(DeviceTableTest, AnyNonZeroKindIsATransmitterWithConvertedMode) {
    WireRecord r{.name = "ODD", .kind = 2};
    r.modeBytes = {0x00, 0x01};
    Store(r);
    EXPECT_EQ(sink.Traces()[5], "Device is T");
    EXPECT_EQ(sink.Traces()[6], "Device is U");
    EXPECT_EQ(table.RecordAt(0).Kind, 2);
    EXPECT_EQ(table.RecordAt(0).Mode, 1);
}

TEST_F(DeviceTableTest, DuplicateReplyKeepsTheFirstRecordButTracesBoth) {
    Store(WireRecord{.name = "FIRST", .mac = MacOf(7)});
    Store(WireRecord{.name = "SECOND", .ip = {10, 0, 0, 1}, .mac = MacOf(7)});
    EXPECT_EQ(table.DeviceCount(), 1);
    EXPECT_EQ(table.DeviceNameAt(0), "FIRST");
    EXPECT_EQ(table.DeviceIpTextAt(0), "192.168.1.50");
    const auto traces = sink.Traces();
    EXPECT_EQ(std::count(traces.begin(), traces.end(), kDashes), 2);
    EXPECT_NE(std::find(traces.begin(), traces.end(), "Device Name is SECOND"), traces.end());
}

TEST_F(DeviceTableTest, ThirtyThirdUnitIsIgnoredWithATraceLine) {
    for (std::uint8_t i = 0; i < 33; ++i) {
        Store(WireRecord{.name = "U" + std::to_string(i), .mac = MacOf(i)});
    }
    EXPECT_EQ(table.DeviceCount(), 32);
    EXPECT_EQ(table.DeviceNameAt(31), "U31");
    EXPECT_FALSE(table.ContainsMac("00:1c:2d:00:00:20"));
    const auto traces = sink.Traces();
    ASSERT_GE(traces.size(), 2u);
    EXPECT_NE(traces[traces.size() - 2].find("00:1c:2d:00:00:20"), std::string::npos);
    EXPECT_NE(traces[traces.size() - 2].find("full"), std::string::npos);
    EXPECT_EQ(traces.back(), kDashes);

    // A known unit's repeat reply is still a plain duplicate when full.
    sink.Reset();
    Store(WireRecord{.name = "again", .mac = MacOf(3)});
    EXPECT_EQ(sink.Traces()[sink.Traces().size() - 2], "Mode is M");

    // Units turned away are counted once each, until the table is emptied; a table without a
    // limit keeps them all.
    DeviceTable all(kUnboundedDeviceTable);
    for (std::uint8_t i = 0; i < 40; ++i) {
        Store(WireRecord{.name = "U", .mac = MacOf(i % 34)});
        const auto bytes = WireRecord{.name = "U", .mac = MacOf(i)}.Bytes();
        all.StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize>(bytes), sink);
    }
    EXPECT_EQ(table.CountUnits().answered, 34);
    EXPECT_EQ(all.DeviceCount(), 40);
    table.Clear();
    EXPECT_EQ(table.CountUnits().answered, 0);
}

TEST_F(DeviceTableTest, NamesKeepEveryByteAndStopAtSixteen) {
    Store(WireRecord{.name = "ABCDEFGHIJKLMNOP", .mac = MacOf(1)});
    Store(WireRecord{.name = "caf\xe9", .mac = MacOf(2)});
    EXPECT_EQ(table.DeviceNameAt(0), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(table.DeviceNameAt(1), "caf\xe9");
    EXPECT_EQ(sink.Traces()[0], "Device Name is ABCDEFGHIJKLMNOP");
}

TEST_F(DeviceTableTest, LookUpByMacFallsBackToRecordZero) {
    StoreThree();
    EXPECT_EQ(table.FindDeviceByMac("00:1c:2d:00:00:03"), 2);
    EXPECT_EQ(table.FindDeviceByMac("NULL"), 0);
    EXPECT_EQ(table.FindDeviceByMac(""), 0);
    EXPECT_EQ(table.FindDeviceByMac("00:1C:2D:00:00:03"), 0);  // the text is lower-case
    EXPECT_EQ(table.FindDeviceByMac("00:1c:2d:00:00:03 "), 0);
    EXPECT_TRUE(table.ContainsMac("00:1c:2d:00:00:02"));
    EXPECT_FALSE(table.ContainsMac("NULL"));

    EXPECT_EQ(table.DeviceNameByMac("00:1c:2d:00:00:02"), "RX1");
    EXPECT_EQ(table.DeviceNameByMac("nobody"), "TX");
    EXPECT_EQ(table.DeviceKindByMac("00:1c:2d:00:00:01"), 1);
    EXPECT_EQ(table.DeviceModeByMac("00:1c:2d:00:00:01"), 1);
    EXPECT_EQ(table.DeviceKindByMac("00:1c:2d:00:00:02"), 0);

    // Setters on an unknown MAC change nothing: record 0 is some other unit.
    const auto before = table.Snapshot();
    table.SetDeviceKindByMac("unknown", 0);
    table.SetDeviceNameByMac("", {});
    table.LinkT1MacByMac("NULL", 255);
    EXPECT_EQ(table.Snapshot(), before);
    EXPECT_FALSE(table.FindRecord("NULL"));
    EXPECT_EQ(table.FindRecord("00:1c:2d:00:00:03")->Mac, MacOf(3));
}

TEST_F(DeviceTableTest, IndexOutsideTheValidRecordsReadsSlotZero) {
    StoreThree();
    EXPECT_EQ(table.DeviceNameAt(3), "TX");
    EXPECT_EQ(table.DeviceNameAt(-1), "TX");
    EXPECT_EQ(table.DeviceNameAt(1000), "TX");
    table.Clear();
    EXPECT_EQ(table.DeviceCount(), 0);
    EXPECT_TRUE(table.Snapshot().empty());
    EXPECT_EQ(table.DeviceNameAt(1), "TX");  // bytes are not cleared, only the count
    EXPECT_FALSE(table.ContainsMac("00:1c:2d:00:00:01"));
}

TEST_F(DeviceTableTest, SettersPatchTheAddressedRecord) {
    StoreThree();
    std::array<std::uint8_t, 16> name{};
    std::memcpy(name.data(), "RENAMED", 7);
    table.SetDeviceNameByMac("00:1c:2d:00:00:02", name);
    EXPECT_EQ(table.DeviceNameAt(1), "RENAMED");

    std::array<std::uint8_t, 32> block{};
    block[10] = 10;
    block[13] = 5;
    table.SetDeviceIpByMac("00:1c:2d:00:00:03", block);
    EXPECT_EQ(table.DeviceIpTextAt(2), "10.0.0.5");

    table.SetDeviceModeByMac("00:1c:2d:00:00:01", 0);
    EXPECT_EQ(table.RecordAt(0).Mode, 0);
    EXPECT_EQ(table.DeviceNameAt(0), "TX");
}

TEST_F(DeviceTableTest, SetPeerMacSlotCopiesIntoASlot) {
    StoreThree();
    table.SetPeerMacSlot(2, 1, PeerSlot::Backup1, true);
    EXPECT_EQ(table.T2MacTextAt(1), "00:1c:2d:00:00:03");
    table.SetPeerMacSlot(0, 1, PeerSlot::Backup2, true);
    EXPECT_EQ(table.T3MacTextAt(1), "00:1c:2d:00:00:01");
    const DeviceRecord before = table.RecordAt(1);
    table.SetPeerMacSlot(0, 1, static_cast<PeerSlot>(3), true);
    table.SetPeerMacSlot(0, 1, PeerSlot::Backup1, false);
    EXPECT_EQ(table.RecordAt(1), before);
}

TEST_F(DeviceTableTest, ClosingTheFirstSlotMovesUpTheFirstBackupThatNamesAUnit) {
    // Backup 1 before backup 2; both backups keep their values.
    const MacBytes none{};
    struct Row {
        MacBytes t2, t3, t1After;
    };
    for (const Row& row : {Row{MacOf(3), none, MacOf(3)}, Row{none, MacOf(4), MacOf(4)},
                           Row{MacOf(3), MacOf(4), MacOf(3)}, Row{none, none, none}}) {
        SCOPED_TRACE(MacText(row.t2) + " " + MacText(row.t3));
        table.Clear();
        WireRecord tx{.name = "TX", .mac = MacOf(1), .kind = 1, .modeBytes = {0, 1}};
        tx.t1 = MacOf(2);
        tx.t2 = row.t2;
        tx.t3 = row.t3;
        Store(tx);
        table.SetPeerMacSlot(0, 0, PeerSlot::Main, false);
        const DeviceRecord after = table.RecordAt(0);
        EXPECT_EQ(after.T1Mac, row.t1After);
        EXPECT_EQ(after.T2Mac, row.t2);
        EXPECT_EQ(after.T3Mac, row.t3);
    }
}

TEST_F(DeviceTableTest, LinkT1MacByMacLinksOrUnlinks) {
    StoreThree();
    table.LinkT1MacByMac("00:1c:2d:00:00:02", 2);
    EXPECT_EQ(table.T1MacTextAt(1), "00:1c:2d:00:00:03");

    WireRecord rx{.name = "RX4", .mac = MacOf(4), .kind = 0};
    rx.peerIp = {192, 168, 1, 50};
    rx.t1 = MacOf(1);
    Store(rx);
    table.LinkT1MacByMac("00:1c:2d:00:00:04", 255);
    EXPECT_EQ(table.T1MacTextAt(3), "00:00:00:00:00:00");
    EXPECT_EQ(table.PeerIpTextAt(3), "0.0.0.0");
    EXPECT_EQ(table.DeviceNameAt(3), "RX4");
}

TEST_F(DeviceTableTest, ForgetPeerLinksClearsEveryLinkToTheUnit) {
    StoreThree();
    WireRecord other{.name = "RX9", .mac = MacOf(9), .kind = 0};
    other.t1 = MacOf(5);  // attached elsewhere: untouched
    Store(other);
    EXPECT_TRUE(table.ForgetPeerLinks(0));
    EXPECT_EQ(table.T1MacTextAt(0), "00:00:00:00:00:00");
    EXPECT_EQ(table.T2MacTextAt(0), "00:00:00:00:00:00");
    EXPECT_EQ(table.T1MacTextAt(1), "00:00:00:00:00:00");
    EXPECT_EQ(table.T1MacTextAt(2), "00:00:00:00:00:00");
    EXPECT_EQ(table.T1MacTextAt(3), "00:1c:2d:00:00:05");
}

// The sink may reach back into the table (the window reads it while showing a line): the
// store must not hold the lock while it traces, and the record must be visible by the end.
class ReentrantSink final : public LineSink {
  public:
    explicit ReentrantSink(DeviceTable& t) : table(t) {}
    void Log(std::string_view) override {}
    void Trace(std::string_view) override { countsSeen.push_back(table.DeviceCount()); }
    DeviceTable& table;
    std::vector<int> countsSeen;
};

TEST(DeviceTableLocking, TracesAreEmittedWithoutTheLockAfterTheStore) {
    DeviceTable table;
    ReentrantSink sink(table);
    const auto bytes = WireRecord{.name = "X"}.Bytes();
    table.StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize>(bytes), sink);
    ASSERT_FALSE(sink.countsSeen.empty());
    EXPECT_EQ(sink.countsSeen.back(), 1);
}

TEST(DeviceTableText, Formats) {
    EXPECT_EQ(MacText({0xab, 0x01, 0x00, 0xff, 0x10, 0x0a}), "ab:01:00:ff:10:0a");
    EXPECT_EQ(Ipv4Text({255, 0, 10, 1}), "255.0.10.1");
    std::array<std::uint8_t, 16> name{};
    name[0] = 'A';
    name[2] = 'B';  // after the first zero: not part of the name
    EXPECT_EQ(NameText(name), "A");
}

}  // namespace
