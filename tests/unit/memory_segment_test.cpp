#include "net/memory_segment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <thread>

using namespace std::chrono_literals;

namespace {

class MemorySegmentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        segment.SetAdapters({AdapterInfo{.name = "rpcap://a", .description = "A"},
                             AdapterInfo{.name = "rpcap://b"}});
        segment.SetAdapterMac("a", {1, 2, 3, 4, 5, 6});
    }
    std::unique_ptr<CaptureHandle> OpenA() {
        std::string error;
        return segment.Open("rpcap://a", {}, error);
    }

    MemorySegment segment;
};

// Runs a capture loop on its own thread and collects what it is given there.
struct LoopThread {
    explicit LoopThread(CaptureHandle& h)
        : result(std::async(std::launch::async, [this, &h] {
              const auto self = std::this_thread::get_id();
              return h.Loop([this, self](const std::uint8_t* f, std::size_t n) {
                  const std::lock_guard lock(mutex);
                  frames.emplace_back(f, f + n);
                  onLoopThread = onLoopThread && std::this_thread::get_id() == self;
                  arrived.notify_all();
              });
          })) {}
    bool WaitFor(std::size_t n) {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, 5s, [&] { return frames.size() >= n; });
    }

    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::vector<std::uint8_t>> frames;
    bool onLoopThread = true;
    std::future<int> result;
};

TEST_F(MemorySegmentTest, ListingOpeningAndAddressQueries) {
    std::string error;
    ASSERT_TRUE(segment.FindAllDevices(error).has_value());
    EXPECT_EQ(segment.FindAllDevices(error)->size(), 2u);
    EXPECT_EQ(segment.QueryCurrentAddress("a"), (std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(segment.QueryCurrentAddress("b").has_value());
    EXPECT_FALSE(segment.Open("rpcap://zz", {}, error));

    segment.SetListingFails(true);
    EXPECT_FALSE(segment.FindAllDevices(error).has_value());
    segment.SetOpenFails(true);
    EXPECT_FALSE(OpenA());
    EXPECT_FALSE(error.empty());
    segment.SetOpenFails(false);
    {
        const auto h1 = OpenA();
        const auto h2 = OpenA();
        EXPECT_EQ(segment.OpenHandles(), 2);
    }
    EXPECT_EQ(segment.OpenHandles(), 0);
}

TEST_F(MemorySegmentTest, InjectReachesEveryRunningLoopOnItsThread) {
    const auto h1 = OpenA();
    const auto h2 = OpenA();
    segment.Inject({9});  // no loop yet: nobody captures it
    LoopThread l1(*h1);
    LoopThread l2(*h2);
    ASSERT_TRUE(segment.WaitForRunningLoops(2, 5s));
    segment.Inject({1, 2, 3});
    segment.Inject({4});
    for (auto* l : {&l1, &l2}) {
        ASSERT_TRUE(l->WaitFor(2));
    }
    h1->BreakLoop();
    EXPECT_EQ(l1.result.get(), -2);
    EXPECT_EQ(segment.RunningLoops(), 1);
    segment.Inject({5});  // only the loop still running gets it
    ASSERT_TRUE(l2.WaitFor(3));
    h2->BreakLoop();
    EXPECT_EQ(l2.result.get(), -2);
    EXPECT_EQ(segment.RunningLoops(), 0);

    using F = std::vector<std::vector<std::uint8_t>>;
    EXPECT_EQ(l1.frames, (F{{1, 2, 3}, {4}}));
    EXPECT_EQ(l2.frames, (F{{1, 2, 3}, {4}, {5}}));
    EXPECT_TRUE(l1.onLoopThread);
    EXPECT_TRUE(l2.onLoopThread);
}

TEST_F(MemorySegmentTest, FramesAreDeliveredBeforeABreakThatFollowsThem) {
    const auto h = OpenA();
    std::atomic<int> seen{0};
    auto loop = std::async(std::launch::async, [&] {
        return h->Loop([&](const std::uint8_t*, std::size_t) {
            if (++seen == 3) {
                h->BreakLoop();  // from inside the callback, as pcap allows
            }
        });
    });
    ASSERT_TRUE(segment.WaitForRunningLoops(1, 5s));
    for (int i = 0; i < 3; ++i) {
        segment.Inject({static_cast<std::uint8_t>(i)});
    }
    EXPECT_EQ(loop.get(), -2);
    EXPECT_EQ(seen, 3);
}

TEST_F(MemorySegmentTest, SendsAreRecordedRefusedOrEchoed) {
    const auto h = OpenA();
    const std::uint8_t frame[] = {0xaa, 0xbb};
    EXPECT_EQ(h->SendPacket(frame, 2), 0);
    segment.SetSendRefused(true);
    EXPECT_EQ(h->SendPacket(frame, 2), -1);
    segment.SetSendRefused(false);
    EXPECT_TRUE(segment.WaitForSentFrames(1, 1s));
    EXPECT_FALSE(segment.WaitForSentFrames(2, 10ms));
    EXPECT_EQ(segment.SentFrames().size(), 1u);

    segment.SetEchoSent(true);
    const auto listener = OpenA();
    std::promise<std::vector<std::uint8_t>> echoed;
    auto loop = std::async(std::launch::async, [&] {
        return listener->Loop([&](const std::uint8_t* f, std::size_t n) {
            echoed.set_value({f, f + n});
            listener->BreakLoop();
        });
    });
    ASSERT_TRUE(segment.WaitForRunningLoops(1, 5s));
    EXPECT_EQ(h->SendPacket(frame, 2), 0);
    EXPECT_EQ(echoed.get_future().get(), (std::vector<std::uint8_t>{0xaa, 0xbb}));
    loop.get();
    segment.ClearSentFrames();
    EXPECT_TRUE(segment.SentFrames().empty());
}

TEST_F(MemorySegmentTest, BreakBeforeLoopEndsTheNextLoopAtOnce) {
    const auto h = OpenA();
    h->BreakLoop();
    EXPECT_EQ(h->Loop([](const std::uint8_t*, std::size_t) {}), -2);
}

TEST(MemorySegmentLifetime, HandleOutlivesTheSegment) {
    std::unique_ptr<CaptureHandle> h;
    {
        MemorySegment segment;
        segment.SetAdapters({AdapterInfo{.name = "rpcap://a"}});
        std::string error;
        h = segment.Open("rpcap://a", {}, error);
    }
    const std::uint8_t frame[] = {1};
    EXPECT_EQ(h->SendPacket(frame, 1), 0);
}

}  // namespace
