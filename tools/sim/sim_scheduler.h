#pragma once

// Sends replies now or after their delay, in due order, from one thread so a delayed reply
// never holds up the receive loop.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

#include "sim_engine.h"

namespace vxsim {

class PacketLink;

// Appended behind a reply when time stamps are on: CLOCK_MONOTONIC in nanoseconds, taken just
// before the frame is handed to the socket, little-endian. No length field covers it, so the
// station's handling is unaffected; the latency measurement reads it.
inline constexpr std::size_t kTimestampTrailerLength = 8;
std::uint64_t MonotonicNanoseconds();

class ReplyScheduler {
  public:
    ReplyScheduler(PacketLink& link, bool timestamps);
    ~ReplyScheduler();
    void Submit(OutFrame frame);
    // Sends what is still queued and ends the thread.
    void Stop();
    std::uint64_t Sent() const { return sent_; }
    std::uint64_t Failures() const { return failures_; }

  private:
    using Clock = std::chrono::steady_clock;
    struct Item {
        Clock::time_point due;
        std::uint64_t order;
        Bytes bytes;
        bool operator>(const Item& o) const { return due != o.due ? due > o.due : order > o.order; }
    };
    void Run();
    void SendNow(Bytes& bytes);

    PacketLink& link_;
    const bool timestamps_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::priority_queue<Item, std::vector<Item>, std::greater<>> queue_;
    std::uint64_t order_ = 0;
    bool stopping_ = false;
    std::atomic<std::uint64_t> sent_{0};
    std::atomic<std::uint64_t> failures_{0};
    std::thread thread_;
};

}  // namespace vxsim
