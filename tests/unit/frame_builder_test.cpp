#include "net/frame_builder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <span>

#include "core_test_support.h"
#include "net/adapter_state.h"
#include "net/memory_segment.h"
#include "protocol/messages.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::array<std::uint8_t, 6> kAdapterMac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const std::array<std::uint8_t, 4> kAdapterIp{192, 168, 1, 100};

Bytes Slice(const ProtocolFrame& f, std::size_t from, std::size_t to) {
    return Bytes(f.begin() + from, f.begin() + to);
}
bool ZeroFrom(const ProtocolFrame& f, std::size_t from) {
    return std::all_of(f.begin() + from, f.end(), [](std::uint8_t b) { return b == 0; });
}

// A block addressed to the unit at 192.168.1.50, 02:00:00:00:00:32.
ConfigBlock ConfigTo50() {
    ConfigBlock b{};
    const std::array<std::uint8_t, 10> unit{192, 168, 1, 50, 2, 0, 0, 0, 0, 0x32};
    std::copy(unit.begin(), unit.end(), b.begin());
    return b;
}
ConnectionBlock ConnectionTo50() {
    ConnectionBlock b{};
    const std::array<std::uint8_t, 20> pair{192, 168, 1, 51, 2, 0, 0, 0, 0, 0x33,
                                            192, 168, 1, 50, 2, 0, 0, 0, 0, 0x32};
    std::copy(pair.begin(), pair.end(), b.begin());
    return b;
}

ProtocolFrame Assemble(RequestKind kind, const std::uint8_t* block) {
    ProtocolFrame f{};
    EXPECT_TRUE(AssembleRequestFrame(kind, block, kAdapterMac, kAdapterIp, f));
    return f;
}

TEST(FrameAssembly, DiscoveryFrameBytes) {
    const ProtocolFrame f = Assemble(kDiscoveryRequest, nullptr);
    const Bytes expected{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00, 0x11, 0x22, 0x33,
                         0x44, 0x55, 0x08, 0x00, 0x45, 0x00, 0x00, 0x28, 0x23, 0x2e,
                         0x00, 0x00, 0x80, 0x11, 0x55, 0x8b, 0xc0, 0xa8, 0x01, 0x64,
                         0xff, 0xff, 0xff, 0xff, 0x08, 0x32, 0x08, 0x32, 0x00, 0x14,
                         0x00, 0x00, 0x18, 0x88, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01};
    EXPECT_EQ(Slice(f, 0, 50), expected);
    EXPECT_TRUE(ZeroFrom(f, 50));
}

TEST(FrameAssembly, ConfigurationFrames) {
    ConfigBlock block = ConfigTo50();
    SetNewIpAddress(block, {10, 0, 0, 5});
    SetTopologyMode(block, 1);  // Unicast
    SetNewName(block, "STUDIO4");
    const std::uint8_t operations[] = {1, 2, 3};
    for (const RequestKind kind : {kSetNameRequest, kSetIpRequest, kSetTopologyRequest}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const ProtocolFrame f = Assemble(kind, block.data());
        EXPECT_EQ(Slice(f, 0, 6), (Bytes{2, 0, 0, 0, 0, 0x32}));
        EXPECT_EQ(Slice(f, 16, 18), (Bytes{0x00, 0x48}));
        EXPECT_EQ(Slice(f, 24, 26), (Bytes{0x93, 0x90}));
        EXPECT_EQ(Slice(f, 30, 34), (Bytes{192, 168, 1, 50}));
        EXPECT_EQ(Slice(f, 38, 40), (Bytes{0x00, 0x34}));
        EXPECT_EQ(Slice(f, 46, 50),
                  (Bytes{0x00, 0x05, 0x00, operations[static_cast<int>(kind) - 2]}));
        EXPECT_EQ(Slice(f, 50, 54), (Bytes{0x20, 0x00, 0x00, 0x00}));
        EXPECT_EQ(Slice(f, 64, 68), (Bytes{10, 0, 0, 5}));
        EXPECT_EQ(Slice(f, 70, 86),
                  (Bytes{'S', 'T', 'U', 'D', 'I', 'O', '4', 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        EXPECT_TRUE(ZeroFrom(f, 86));
    }
    // The host-order mode word goes out big-endian, whatever the host.
    EXPECT_EQ(Slice(Assemble(kSetTopologyRequest, block.data()), 68, 70), (Bytes{0x00, 0x01}));
}

TEST(FrameAssembly, ConnectionFrames) {
    ConnectionBlock block = ConnectionTo50();
    for (const RequestKind kind : {kDeleteReceiverRequest, kAddReceiverRequest}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const ProtocolFrame f = Assemble(kind, block.data());
        EXPECT_EQ(Slice(f, 0, 6), (Bytes{2, 0, 0, 0, 0, 0x32}));
        EXPECT_EQ(Slice(f, 16, 18), (Bytes{0x00, 0x3e}));
        EXPECT_EQ(Slice(f, 24, 26), (Bytes{0x93, 0x9a}));
        EXPECT_EQ(Slice(f, 30, 34), (Bytes{192, 168, 1, 50}));
        EXPECT_EQ(Slice(f, 38, 40), (Bytes{0x00, 0x2a}));
        const std::uint8_t operation = kind == kAddReceiverRequest ? 1 : 2;
        EXPECT_EQ(Slice(f, 46, 54), (Bytes{0x00, 0x03, 0x00, operation, 0x16, 0, 0, 0}));
        EXPECT_EQ(Slice(f, 54, 74), Bytes(block.begin(), block.begin() + 20));
        EXPECT_EQ(Slice(f, 74, 76), (Bytes{0x00, 0x00}));
        EXPECT_TRUE(ZeroFrom(f, 76));
    }
    SetSelector(block, 2);
    EXPECT_EQ(Slice(Assemble(kAddReceiverRequest, block.data()), 74, 76), (Bytes{0x00, 0x02}));
}

// RFC 1071 the long way: fold carries until none is left.
std::uint16_t OnesComplementSum(const std::uint8_t* bytes, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    }
    while (sum > 0xffff) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(sum);
}

TEST(FrameAssembly, HeaderChecksumVerifiesToAllOnes) {
    // Summing a header together with its own checksum gives 0xffff for any input. The last
    // two rows carry out of the first fold again, so they need the second fold.
    struct Row {
        RequestKind kind;
        std::array<std::uint8_t, 4> source;
        std::array<std::uint8_t, 4> unit;
    };
    for (const Row& row : {Row{kDiscoveryRequest, {0, 0, 0, 0}, {}},
                           Row{kDiscoveryRequest, {255, 255, 255, 254}, {}},
                           Row{kDiscoveryRequest, {10, 1, 2, 3}, {}},
                           Row{kDiscoveryRequest, {192, 168, 86, 240}, {}},
                           Row{kSetNameRequest, kAdapterIp, {192, 168, 148, 195}}}) {
        SCOPED_TRACE(Ipv4Text(row.source) + " to " + Ipv4Text(row.unit));
        ConfigBlock block = ConfigTo50();
        std::copy(row.unit.begin(), row.unit.end(), block.begin());
        ProtocolFrame f{};
        ASSERT_TRUE(AssembleRequestFrame(row.kind, block.data(), kAdapterMac, row.source, f));
        EXPECT_EQ(OnesComplementSum(f.data() + kIpHeaderOffset, kIpHeaderSize), 0xffff);
    }
}

TEST(FrameAssembly, RefusesUnknownKindsAndMissingBlocks) {
    ProtocolFrame f;
    f.fill(0xab);
    const ProtocolFrame before = f;
    const ConfigBlock block{};
    EXPECT_FALSE(AssembleRequestFrame(static_cast<RequestKind>(0), block.data(), kAdapterMac,
                                      kAdapterIp, f));
    EXPECT_FALSE(AssembleRequestFrame(static_cast<RequestKind>(7), block.data(), kAdapterMac,
                                      kAdapterIp, f));
    EXPECT_FALSE(AssembleRequestFrame(kSetNameRequest, nullptr, kAdapterMac, kAdapterIp, f));
    EXPECT_FALSE(AssembleRequestFrame(kAddReceiverRequest, nullptr, kAdapterMac, kAdapterIp, f));
    EXPECT_EQ(f, before);
}

class SendersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        segment->SetAdapters({AdapterInfo{.name = "rpcap://veth0"}});
        std::string error;
        handle = segment->Open("rpcap://veth0", {}, error);
        ASSERT_TRUE(handle);
    }
    void TearDown() override { SetCurrentAdapter({}); }
    void OpenAdapter() { SetCurrentAdapter({std::move(handle), kAdapterMac, kAdapterIp}); }

    std::shared_ptr<MemorySegment> segment = std::make_shared<MemorySegment>();
    std::unique_ptr<CaptureHandle> handle;
};

TEST_F(SendersTest, NothingIsSentWithoutAnAdapter) {
    SetCurrentAdapter({nullptr, kAdapterMac, kAdapterIp});
    EXPECT_EQ(SendRequest(nullptr, kDiscoveryRequest), 0);
    ConnectionBlock block = ConnectionTo50();
    SetSelector(block, 1);
    EXPECT_FALSE(SendBackupRequest(block));
    EXPECT_TRUE(segment->SentFrames().empty());
}

TEST_F(SendersTest, SentFrameIsTheAssembledFrame) {
    OpenAdapter();
    const ConfigBlock block = ConfigTo50();
    EXPECT_EQ(SendRequest(nullptr, kDiscoveryRequest), 1);
    EXPECT_EQ(SendRequest(block.data(), kSetNameRequest), 1);
    EXPECT_EQ(SendRequest(block.data(), static_cast<RequestKind>(9)), 0);
    const auto sent = segment->SentFrames();
    ASSERT_EQ(sent.size(), 2u);
    const auto discovery = Assemble(kDiscoveryRequest, nullptr);
    const auto rename = Assemble(kSetNameRequest, block.data());
    EXPECT_EQ(sent[0], Bytes(discovery.begin(), discovery.end()));
    EXPECT_EQ(sent[1], Bytes(rename.begin(), rename.end()));
}

TEST_F(SendersTest, RefusalIsReportedAsFailure) {
    OpenAdapter();
    segment->SetSendRefused(true);
    EXPECT_EQ(SendRequest(nullptr, kDiscoveryRequest), 0);
    ConnectionBlock block = ConnectionTo50();
    SetSelector(block, 2);
    EXPECT_FALSE(SendBackupRequest(block));
    EXPECT_TRUE(segment->SentFrames().empty());
}

TEST_F(SendersTest, BackupRequestChecksItsSlot) {
    OpenAdapter();
    ConnectionBlock block = ConnectionTo50();
    for (const std::uint16_t bad : std::initializer_list<std::uint16_t>{0, 3, 0x0100}) {
        SetSelector(block, bad);
        EXPECT_FALSE(SendBackupRequest(block)) << bad;
    }
    EXPECT_TRUE(segment->SentFrames().empty());

    SetSelector(block, 2);
    EXPECT_TRUE(SendBackupRequest(block));
    const auto sent = segment->SentFrames();
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].size(), kProtocolFrameSize);
    const auto add = Assemble(kAddReceiverRequest, block.data());
    EXPECT_EQ(sent[0], Bytes(add.begin(), add.end()));
    EXPECT_EQ(Bytes(sent[0].begin() + 74, sent[0].begin() + 76), (Bytes{0x00, 0x02}));
}

TEST_F(SendersTest, ASendAfterTheHandleWasTakenSendsNothing) {
    OpenAdapter();
    const auto taken = TakeAdapterHandle();
    ASSERT_TRUE(taken);
    EXPECT_EQ(SendRequest(nullptr, kDiscoveryRequest), 0);
    EXPECT_EQ(CurrentAdapter().AdapterMac, kAdapterMac);  // address state stays
    EXPECT_TRUE(segment->SentFrames().empty());
}

}  // namespace
