#include "sim_foreign.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "sim_link.h"

namespace vxsim {

using namespace wire;

namespace {

constexpr Endpoint kForeignUnit{{0x02, 0xfe, 0x00, 0x00, 0x00, 0x01}, {198, 18, 200, 1}};
constexpr Endpoint kSomeStation{{0x02, 0xfe, 0x00, 0x00, 0x00, 0x02}, {198, 18, 200, 2}};
constexpr std::uint16_t kExperimentalEtherType = 0x88b5;
constexpr std::uint16_t kOtherUdpPort = 9;  // discard

Bytes TfdpFrame(std::uint16_t cls, std::uint16_t code, std::size_t payloadLength) {
    const Bytes payload(payloadLength, 0x5a);
    return BuildReply(kForeignUnit, kSomeStation, cls, code, payload, 0x4242);
}

Bytes Truncated(Bytes frame, std::size_t length) {
    frame.resize(length);
    return frame;
}

}  // namespace

std::vector<Bytes> ForeignFrameMix() {
    std::vector<Bytes> mix;
    // Another EtherType.
    Bytes other(kMinimumEthernetFrame, 0x11);
    std::fill_n(other.begin(), 6, 0xff);
    std::copy(kForeignUnit.mac.begin(), kForeignUnit.mac.end(), other.begin() + kEthSrc);
    WriteBe16(other, kEthType, kExperimentalEtherType);
    mix.push_back(other);
    // Ordinary UDP to other ports. The station reads any frame with the magic at byte 42
    // whatever its ports, so these carry other payloads, as other services' datagrams do.
    Bytes otherPort = TfdpFrame(kClassConfiguration | kReplyBit, 1, 0);
    WriteBe16(otherPort, kUdpSourcePort, kOtherUdpPort);
    WriteBe16(otherPort, kUdpDestinationPort, kOtherUdpPort);
    WriteBe16(otherPort, kTfdpMagic, 0xdead);
    mix.push_back(otherPort);
    // TFDP classes and codes the station ignores.
    mix.push_back(TfdpFrame(0x8002, 1, 0));
    mix.push_back(TfdpFrame(kClassConfiguration | kReplyBit, 7, 0));
    mix.push_back(TfdpFrame(kClassConnection | kReplyBit, 0, 0));
    mix.push_back(TfdpFrame(kClassDiscovery | kReplyBit, 2, kRecordLength));
    // Truncated replies that would count if read past their end: a success code cut off, and
    // a discovery record one byte short.
    mix.push_back(Truncated(TfdpFrame(kClassConfiguration | kReplyBit, 1, 0), kTfdpCode + 1));
    mix.push_back(Truncated(TfdpFrame(kClassDiscovery | kReplyBit, 1, kRecordLength),
                            kTfdpData + kRecordLength - 1));
    mix.push_back(Truncated(TfdpFrame(kClassConnection | kReplyBit, 1, 0), kTfdpClass + 1));
    return mix;
}

void RunForeignTraffic(PacketLink& link, double framesPerSecond, const std::atomic<bool>& stop,
                       ForeignStats& stats, const ForeignProgress& progress) {
    using Clock = std::chrono::steady_clock;
    constexpr std::size_t kMaxBatch = 64;
    std::vector<Bytes> mix = ForeignFrameMix();
    const auto start = Clock::now();
    std::uint64_t due = 0;
    std::uint32_t sequence = 0;
    std::size_t next = 0;
    std::uint64_t nextReport = kForeignProgressStep;
    std::vector<Bytes> batch;
    while (!stop.load(std::memory_order_relaxed)) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        due = static_cast<std::uint64_t>(elapsed * framesPerSecond);
        const std::uint64_t done = stats.sent + stats.refused;
        if (due <= done) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(due - done, kMaxBatch));
        batch.clear();
        for (std::size_t i = 0; i < count; ++i) {
            Bytes frame = mix[next];
            next = (next + 1) % mix.size();
            // A changing source MAC: every frame is new to any cache on the way.
            frame[kEthSrc + 4] = static_cast<std::uint8_t>(sequence >> 8);
            frame[kEthSrc + 5] = static_cast<std::uint8_t>(sequence);
            ++sequence;
            batch.push_back(std::move(frame));
        }
        const std::size_t sent = link.SendBatch(batch);
        stats.sent += sent;
        // What the socket would not take counts as refused, so the schedule does not run ahead.
        stats.refused += count - sent;
        if (stats.sent >= nextReport) {
            nextReport += kForeignProgressStep;
            progress(stats.sent, std::chrono::duration<double>(Clock::now() - start).count());
        }
    }
}

}  // namespace vxsim
