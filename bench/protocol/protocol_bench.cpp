// Cost of the capture thread's per-frame work and of building a request frame. A 1 GbE link
// carries at most 1.488 million minimum-size frames per second, about 672 ns per frame.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <vector>

#include "net/frame_builder.h"
#include "protocol/messages.h"

namespace {

class NullSink final : public LineSink {
  public:
    void Log(std::string_view text) override { benchmark::DoNotOptimize(text.data()); }
    void Trace(std::string_view text) override { benchmark::DoNotOptimize(text.data()); }
};

constexpr double kLineRateFramesPerSecond = 1.488e6;
// The replies below go to 00:00:00:00:00:00: as this station's, they take the whole path.
constexpr MacBytes kStation{};

std::vector<std::uint8_t> Reply(std::uint16_t messageClass, std::uint16_t code) {
    std::vector<std::uint8_t> frame(128, 0);
    WriteBe16(frame.data() + kTfdpMagicOffset, kTfdpMagic);
    WriteBe16(frame.data() + kTfdpFixedWordOffset, kTfdpFixedWord);
    WriteBe16(frame.data() + kTfdpClassOffset, messageClass);
    WriteBe16(frame.data() + kTfdpCodeOffset, code);
    return frame;
}

// A unicast Transmitter's discovery reply, the longest trace; unit n has MAC 02:..:n.
std::vector<std::uint8_t> DiscoveryReply(std::uint8_t n) {
    auto frame = Reply(kDiscoveryReplyClass, kDiscoveryRecordCode);
    std::uint8_t* record = frame.data() + kTfdpDataOffset;
    std::memcpy(record + kRecordNameOffset, "STUDIO4", 7);
    WriteBe16(record + kRecordFirmwareOffset, 0x0012);
    WriteBe16(record + kRecordTfdpVersionOffset, 0x0001);
    const std::array<std::uint8_t, 4> ip{192, 168, 1, n};
    std::memcpy(record + kRecordIpOffset, ip.data(), ip.size());
    const std::array<std::uint8_t, 6> mac{0x02, 0, 0, 0, 0, n};
    std::memcpy(record + kRecordMacOffset, mac.data(), mac.size());
    WriteBe16(record + kRecordKindOffset, 1);
    WriteBe16(record + kRecordModeOffset, 1);
    return frame;
}

// items_per_second is frames per second; x_line_rate is that as a multiple of 1 GbE's rate.
void SetRates(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations());
    state.counters["x_line_rate"] =
        benchmark::Counter(static_cast<double>(state.iterations()) / kLineRateFramesPerSecond,
                           benchmark::Counter::kIsRate);
}

void BM_HandleForeignFrame(benchmark::State& state) {
    // A full-size TCP segment: no magic at byte 42.
    std::vector<std::uint8_t> frame(1514, 0x5a);
    DeviceTable table;
    NullSink sink;
    for (auto _ : state) {
        HandleCapturedFrame(frame.data(), frame.size(), table, sink, kStation);
        benchmark::ClobberMemory();
    }
    SetRates(state);
}
BENCHMARK(BM_HandleForeignFrame);

void BM_HandleNewDiscoveryReply(benchmark::State& state) {
    std::vector<std::vector<std::uint8_t>> replies;
    for (std::uint8_t n = 0; n < kDeviceTableCapacity; ++n) {
        replies.push_back(DiscoveryReply(n));
    }
    DeviceTable table;
    NullSink sink;
    std::size_t next = 0;
    for (auto _ : state) {
        if (next == replies.size()) {
            table.Clear();  // so that every reply is a new unit; costs one lock
            next = 0;
        }
        const auto& frame = replies[next++];
        HandleCapturedFrame(frame.data(), frame.size(), table, sink, kStation);
    }
    SetRates(state);
}
BENCHMARK(BM_HandleNewDiscoveryReply);

void BM_HandleDuplicateDiscoveryReply(benchmark::State& state) {
    DeviceTable table;
    NullSink sink;
    for (std::uint8_t n = 0; n < kDeviceTableCapacity; ++n) {
        const auto frame = DiscoveryReply(n);
        HandleCapturedFrame(frame.data(), frame.size(), table, sink, kStation);
    }
    // The last unit in a full table: the longest search.
    const auto frame = DiscoveryReply(kDeviceTableCapacity - 1);
    for (auto _ : state) {
        HandleCapturedFrame(frame.data(), frame.size(), table, sink, kStation);
    }
    SetRates(state);
}
BENCHMARK(BM_HandleDuplicateDiscoveryReply);

void BM_HandleConfigurationReply(benchmark::State& state) {
    const auto frame = Reply(kConfigurationReplyClass, 1);
    DeviceTable table;
    NullSink sink;
    for (auto _ : state) {
        HandleCapturedFrame(frame.data(), frame.size(), table, sink, kStation);
    }
    SetRates(state);
}
BENCHMARK(BM_HandleConfigurationReply);

void BM_AssembleRequestFrame(benchmark::State& state) {
    const auto kind = static_cast<RequestKind>(state.range(0));
    const std::array<std::uint8_t, 6> mac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const std::array<std::uint8_t, 4> ip{192, 168, 1, 100};
    ConfigBlock block{192, 168, 1, 50, 0x02, 0, 0, 0, 0, 0x32};
    ProtocolFrame frame{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(AssembleRequestFrame(kind, block.data(), mac, ip, frame));
        benchmark::ClobberMemory();
    }
    SetRates(state);
}
BENCHMARK(BM_AssembleRequestFrame)
    ->Arg(static_cast<int>(kDiscoveryRequest))
    ->Arg(static_cast<int>(kSetNameRequest))
    ->Arg(static_cast<int>(kAddReceiverRequest));

}  // namespace

BENCHMARK_MAIN();
