// The pace of a Refresh's discovery broadcasts, from the moments the sends reach the adapter.

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "forwarding_capture.h"
#include "net/adapter_state.h"
#include "net/memory_segment.h"
#include "ops/refresh_worker.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Passes sends on to the in-memory segment and notes when each was accepted.
class StampingHandle final : public vxtest::ForwardingHandle {
  public:
    using ForwardingHandle::ForwardingHandle;
    int SendPacket(const std::uint8_t* frame, std::size_t length) override {
        const int result = ForwardingHandle::SendPacket(frame, length);
        const std::lock_guard lock(mutex_);
        times_.push_back(Clock::now());
        return result;
    }
    std::vector<Clock::time_point> Times() const {
        const std::lock_guard lock(mutex_);
        return times_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Clock::time_point> times_;
};

TEST(BroadcastDiscovery, ThreeBroadcastsTwoHundredMillisecondsApartAndAfterTheLast) {
    MemorySegment segment;
    segment.SetAdapters({AdapterInfo{.name = "rpcap://veth0"}});
    std::string error;
    auto handle = std::make_shared<StampingHandle>(segment.Open("rpcap://veth0", {}, error));
    SetCurrentAdapter({handle, {0, 0x11, 0x22, 0x33, 0x44, 0x55}, {198, 18, 0, 1}});

    BroadcastDiscovery();
    const auto end = Clock::now();
    SetCurrentAdapter({});

    ASSERT_EQ(segment.SentFrames().size(), 3u);
    const auto times = handle->Times();
    ASSERT_EQ(times.size(), 3u);
    // Sleeps on a loaded machine run long, never short: a wide upper bound.
    const std::vector<std::pair<const char*, Clock::duration>> gaps{
        {"first to second", times[1] - times[0]},
        {"second to third", times[2] - times[1]},
        {"third to return", end - times[2]},
    };
    for (const auto& [what, gap] : gaps) {
        EXPECT_GE(gap, 190ms) << what;
        EXPECT_LT(gap, 1000ms) << what;
    }
}

}  // namespace
