#include "protocol/messages.h"

#include <gtest/gtest.h>

#include <span>

#include "core_test_support.h"

namespace {

class MessagesTest : public ::testing::Test {
  protected:
    void Store(const WireRecord& r) {
        const auto bytes = r.Bytes();
        table.StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize>(bytes), sink);
    }
    bool Handle(const std::vector<std::uint8_t>& frame) {
        return HandleCapturedFrame(frame.data(), frame.size(), table, sink, kStation);
    }
    // The pair of the add-receiver examples: T 02:00:00:00:00:01 at 192.168.0.60 (unicast),
    // R 02:00:00:00:00:02 at 192.168.0.61.
    void StorePair() {
        Store(WireRecord{.name = "T",
                         .ip = {192, 168, 0, 60},
                         .mac = {2, 0, 0, 0, 0, 1},
                         .kind = 1,
                         .modeBytes = {0, 1}});
        Store(
            WireRecord{.name = "R", .ip = {192, 168, 0, 61}, .mac = {2, 0, 0, 0, 0, 2}, .kind = 0});
        sink.Reset();
    }

    static constexpr MacBytes kStation{2, 0, 0, 0, 0, 0xaa};
    DeviceTable table;
    RecordingSink sink;
};

TEST_F(MessagesTest, ConfigBlockFieldsLandAtTheirOffsets) {
    StorePair();
    ConfigBlock block{};
    BuildConfigBlock(table, "02:00:00:00:00:02", block);
    SetNewIpAddress(block, {10, 0, 0, 5});
    SetNewName(block, "abc");
    const ConfigBlock expected{0xc0, 0xa8, 0x00, 0x3d, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02,
                               0x0a, 0x00, 0x00, 0x05, 0x00, 0x00, 'a',  'b',  'c'};
    EXPECT_EQ(block, expected);  // a 3-character name leaves bytes 19..31 zero

    SetNewName(block, "ABCDEFGHIJKLMNOPQRST");  // only 16 characters fit; no terminator
    EXPECT_EQ(std::string(block.begin() + 16, block.end()), "ABCDEFGHIJKLMNOP");

    SetTopologyMode(block, 1);
    EXPECT_EQ(TopologyMode(block), 1);
}

TEST_F(MessagesTest, BuildersTouchOnlyTheirBytes) {
    StorePair();
    ConfigBlock config;
    config.fill(0xee);
    BuildConfigBlock(table, "02:00:00:00:00:01", config);
    for (std::size_t i = 10; i < config.size(); ++i) {
        EXPECT_EQ(config[i], 0xee) << i;
    }
    ConnectionBlock connection;
    connection.fill(0xee);
    BuildConnectionBlock(table, "02:00:00:00:00:01", "02:00:00:00:00:02", connection);
    EXPECT_EQ(connection[20], 0xee);
    EXPECT_EQ(connection[21], 0xee);
}

TEST_F(MessagesTest, ConnectionBlockForUnicastAndMulticastAdds) {
    StorePair();
    ConnectionBlock unicast{};
    BuildConnectionBlock(table, "02:00:00:00:00:01", "02:00:00:00:00:02", unicast);
    const ConnectionBlock expected{0xc0, 0xa8, 0x00, 0x3d, 0x02, 0x00, 0x00, 0x00,
                                   0x00, 0x02, 0xc0, 0xa8, 0x00, 0x3c, 0x02, 0x00,
                                   0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(unicast, expected);

    // Multicast: addressed to the Receiver, naming the Transmitter; the halves swap.
    ConnectionBlock multicast{};
    BuildConnectionBlock(table, "02:00:00:00:00:02", "02:00:00:00:00:01", multicast);
    EXPECT_TRUE(std::equal(multicast.begin(), multicast.begin() + 10, expected.begin() + 10));
    EXPECT_TRUE(std::equal(multicast.begin() + 10, multicast.begin() + 20, expected.begin()));

    SetSelector(multicast, 2);
    EXPECT_EQ(Selector(multicast), 2);
}

TEST_F(MessagesTest, EveryCatalogueReplyWritesItsLine) {
    const std::vector<std::pair<std::uint16_t, std::uint16_t>> replies{
        {0x8003, 1}, {0x8003, 2}, {0x8003, 3}, {0x8003, 4}, {0x8005, 1},
        {0x8005, 2}, {0x8005, 3}, {0x8005, 4}, {0x8005, 5}, {0x8005, 6}};
    for (const auto& [messageClass, code] : replies) {
        Handle(ReplyFrame(messageClass, code, 64));
    }
    const std::vector<std::string> expected{
        "Succeeded in adding the Receiver.",
        "Failed to add the Receiver.",
        "Succeeded in deleting the Receiver.",
        "Failed to delete the Receiver.",
        "Succeeded in updating device's name.",
        "Failed to update device's name.",
        "Succeeded in updating device's IP address. Please wait 3 seconds to refresh",
        "Failed to update device's IP address.",
        "Succeeded in updating device's topology mode. Please wait 3 seconds to refresh",
        "Failed to update device's topology mode.",
    };
    EXPECT_EQ(sink.Logs(), expected);
    EXPECT_TRUE(sink.Traces().empty());
}

TEST_F(MessagesTest, OtherClassesCodesAndMagicLeaveNoTrace) {
    Handle(ReplyFrame(0x8003, 0));
    Handle(ReplyFrame(0x8003, 5));
    Handle(ReplyFrame(0x8005, 7));
    Handle(ReplyFrame(0x8005, 0x0101));  // a little-endian reading would say 1
    Handle(ReplyFrame(0x0005, 1));       // our own request, captured
    Handle(ReplyFrame(0x8002, 1));
    Handle(DiscoveryReply(WireRecord{.name = "X"}));  // fine so far
    auto wrongCode = DiscoveryReply(WireRecord{.name = "Y", .mac = MacOf(9)});
    wrongCode[49] = 2;
    Handle(wrongCode);
    auto wrongMagic = ReplyFrame(0x8005, 1);
    wrongMagic[43] = 0x89;
    Handle(wrongMagic);
    EXPECT_TRUE(sink.Logs().empty());
    EXPECT_EQ(table.DeviceCount(), 1);
    EXPECT_EQ(table.DeviceNameAt(0), "X");
}

TEST_F(MessagesTest, ShortCapturesAreDroppedWithoutReadingPastThem) {
    // Exact-size buffers, so a read past the capture shows under AddressSanitizer.
    Handle(ReplyFrame(0x8005, 1, 49));
    Handle(ReplyFrame(0x8005, 1, 0));
    HandleCapturedFrame(nullptr, 128, table, sink, kStation);
    EXPECT_TRUE(sink.Logs().empty());
    Handle(ReplyFrame(0x8005, 1, 50));
    EXPECT_EQ(sink.Logs().size(), 1u);

    Handle(DiscoveryReply(WireRecord{.name = "SHORT"}, 119));
    EXPECT_EQ(table.DeviceCount(), 0);
    EXPECT_TRUE(sink.Traces().empty());
    Handle(DiscoveryReply(WireRecord{.name = "EXACT"}, 120));
    EXPECT_EQ(table.DeviceCount(), 1);
    EXPECT_EQ(table.DeviceNameAt(0), "EXACT");
}

TEST_F(MessagesTest, OnlyMagicClassAndCodeMatter) {
    // A reply addressed to some other station, with nonsense in every header field, counts.
    auto frame = ReplyFrame(0x8003, 3);
    std::fill(frame.begin(), frame.begin() + 42, std::uint8_t{0x5a});
    frame[44] = 0x77;
    Handle(frame);
    EXPECT_EQ(sink.Logs(), std::vector<std::string>{"Succeeded in deleting the Receiver."});
}

TEST_F(MessagesTest, OnlyARefusalToThisStationPutsTheAwaitedChangeBack) {
    struct Case {
        const char* what;
        MacBytes destination;
        std::uint16_t code;
        bool restored;
    };
    const std::vector<Case> cases{
        {"refused, to another station", {2, 0, 0, 0, 0, 0xbb}, 2, false},
        {"refused, to this station", kStation, 2, true},
        {"accepted, to this station", kStation, 1, false},
    };
    const MacBytes unit{2, 0, 0, 0, 0, 1};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        table.Clear();
        StorePair();
        table.ApplyForRequest(table.ExpectAnswer(unit, ConfirmedOperation::SetName),
                              [](std::span<DeviceRecord> valid) {
                                  valid[0].Name = {'N', 'E', 'W'};
                              });
        auto reply = ReplyFrame(kConfigurationReplyClass, c.code);
        std::copy(c.destination.begin(), c.destination.end(), reply.begin() + kEthDestMacOffset);
        std::copy(unit.begin(), unit.end(), reply.begin() + kEthSourceMacOffset);
        EXPECT_EQ(Handle(reply), c.restored);
        EXPECT_EQ(table.DeviceNameAt(0), c.restored ? "T" : "NEW");
        EXPECT_EQ(sink.Logs().size(), 1u) << "every reply writes its line, whoever it is for";
    }
}

}  // namespace
