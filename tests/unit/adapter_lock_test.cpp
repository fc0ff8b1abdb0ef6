// The per-adapter lock of vx418ctl: one holder at a time, a bounded wait, the holder's note for
// the one that gives up, adapters apart. In one process two opens of the file conflict as two
// processes do (flock per open file, LockFileEx per handle).

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>

#include "platform/adapter_lock.h"

namespace {

using namespace std::chrono_literals;

TEST(AdapterLock, OneHolderAtATimeAndTheOthersLearnWho) {
    const std::string adapter =
        "\\Device\\NPF_{test-" + std::to_string(std::random_device()()) + "}";
    auto first = std::make_unique<AdapterLock>(adapter, "pid 1, user a: first", 0ms);
    ASSERT_EQ(first->state(), AdapterLock::State::Held) << first->error();
    const std::string path = first->path();
    EXPECT_EQ(std::filesystem::path(path).filename().string().find_first_of("\\{}"),
              std::string::npos)
        << path;

    const AdapterLock waiting(adapter, "second", 50ms);
    EXPECT_EQ(waiting.state(), AdapterLock::State::Busy);
    EXPECT_EQ(waiting.holder(), "pid 1, user a: first");
    const AdapterLock elsewhere(adapter + "-other", "third", 0ms);
    EXPECT_EQ(elsewhere.state(), AdapterLock::State::Held);

    first.reset();
    const AdapterLock next(adapter, "fourth", 0ms);
    EXPECT_EQ(next.state(), AdapterLock::State::Held);
    EXPECT_NE(ProcessIdentity().find("pid "), std::string::npos);
    std::error_code ignored;
    std::filesystem::remove(elsewhere.path(), ignored);
    std::filesystem::remove(path, ignored);
}

}  // namespace
