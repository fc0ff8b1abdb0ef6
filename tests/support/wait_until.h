#pragma once

// Waiting in tests for something another thread does, with a time-out.

#include <chrono>
#include <thread>

namespace vxtest {

// Calls between() until pred() holds; false on time-out.
template <typename Pred, typename Between>
bool PollUntil(Pred pred, std::chrono::milliseconds timeout, Between between) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        between();
    }
    return true;
}

// For tests without a window: sleeps between the checks.
template <typename Pred>
bool SleepUntil(Pred pred, std::chrono::milliseconds timeout) {
    return PollUntil(pred, timeout,
                     [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
}

}  // namespace vxtest
