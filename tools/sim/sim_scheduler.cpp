#include "sim_scheduler.h"

#include <ctime>

#include "sim_link.h"

namespace vxsim {

std::uint64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

ReplyScheduler::ReplyScheduler(PacketLink& link, bool timestamps)
    : link_(link), timestamps_(timestamps), thread_([this] { Run(); }) {}

ReplyScheduler::~ReplyScheduler() {
    Stop();
}

void ReplyScheduler::Submit(OutFrame frame) {
    {
        const std::lock_guard lock(mutex_);
        queue_.push({Clock::now() + std::chrono::milliseconds(frame.delayMs), order_++,
                     std::move(frame.bytes)});
    }
    wake_.notify_one();
}

void ReplyScheduler::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ReplyScheduler::SendNow(Bytes& bytes) {
    if (timestamps_) {
        const std::uint64_t ns = MonotonicNanoseconds();
        for (std::size_t i = 0; i < kTimestampTrailerLength; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(ns >> (8 * i)));
        }
    }
    if (link_.Send(bytes)) {
        ++sent_;
    } else {
        ++failures_;
    }
}

void ReplyScheduler::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (queue_.empty()) {
            if (stopping_) {
                return;
            }
            wake_.wait(lock);
            continue;
        }
        const auto due = queue_.top().due;
        if (!stopping_ && due > Clock::now()) {
            wake_.wait_until(lock, due);
            continue;
        }
        Bytes bytes = std::move(const_cast<Item&>(queue_.top()).bytes);
        queue_.pop();
        lock.unlock();
        SendNow(bytes);
        lock.lock();
    }
}

}  // namespace vxsim
