#pragma once

// Traffic that is not for the station and must leave no trace there: other EtherTypes, other
// UDP ports, TFDP frames of classes and codes the station ignores, and truncated TFDP replies.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim_wire.h"

namespace vxsim {

class PacketLink;

// The repeating mix; each frame differs (source MAC, sequence bytes) so nothing is cached away.
std::vector<Bytes> ForeignFrameMix();

struct ForeignStats {
    std::atomic<std::uint64_t> sent{0};
    std::atomic<std::uint64_t> refused{0};  // the socket would not take them (queue full)
};

// Called with the frames sent so far and the seconds since the start, every kProgressStep.
using ForeignProgress = std::function<void(std::uint64_t sent, double seconds)>;
inline constexpr std::uint64_t kForeignProgressStep = 25000;

// Sends the mix round-robin at framesPerSecond until stop is set. Paced against the clock in
// small batches, so the rate holds on average without a busy wait.
void RunForeignTraffic(PacketLink& link, double framesPerSecond, const std::atomic<bool>& stop,
                       ForeignStats& stats, const ForeignProgress& progress);

}  // namespace vxsim
