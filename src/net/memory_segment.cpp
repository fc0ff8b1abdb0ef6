#include "net/memory_segment.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

// pcap_loop's result after pcap_breakloop.
constexpr int kLoopBroken = -2;
constexpr int kSendRefused = -1;

struct LoopQueue {
    std::deque<MemorySegment::Frame> frames;
    bool breakRequested = false;
};

}  // namespace

struct MemorySegment::Shared {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;

    std::vector<AdapterInfo> adapters;
    bool listingFails = false;
    std::map<std::string, std::array<std::uint8_t, 6>> macs;
    bool openFails = false;
    bool openNotPermitted = false;
    bool sendRefused = false;
    bool echoSent = false;
    CaptureDrops drops;

    std::vector<Frame> sent;
    std::vector<LoopQueue*> loops;  // queues of the loops running now
    int openHandles = 0;

    void DeliverLocked(const Frame& frame) {
        for (auto* loop : loops) {
            loop->frames.push_back(frame);
        }
        changed.notify_all();
    }
};

namespace {

class MemoryHandle final : public CaptureHandle {
  public:
    explicit MemoryHandle(std::shared_ptr<MemorySegment::Shared> shared)
        : shared_(std::move(shared)) {
        const std::lock_guard lock(shared_->mutex);
        ++shared_->openHandles;
        shared_->changed.notify_all();
    }
    ~MemoryHandle() override {
        const std::lock_guard lock(shared_->mutex);
        --shared_->openHandles;
        shared_->changed.notify_all();
    }
    MemoryHandle(const MemoryHandle&) = delete;
    MemoryHandle& operator=(const MemoryHandle&) = delete;

    int SendPacket(const std::uint8_t* frame, std::size_t length) override {
        const std::lock_guard lock(shared_->mutex);
        if (shared_->sendRefused) {
            return kSendRefused;
        }
        shared_->sent.emplace_back(frame, frame + length);
        if (shared_->echoSent) {
            shared_->DeliverLocked(shared_->sent.back());
        }
        shared_->changed.notify_all();
        return 0;
    }

    int Loop(const FrameCallback& onFrame) override {
        std::unique_lock lock(shared_->mutex);
        if (queue_.breakRequested) {  // a break before the loop ends it at once, as in pcap
            queue_.breakRequested = false;
            return kLoopBroken;
        }
        shared_->loops.push_back(&queue_);
        shared_->changed.notify_all();
        for (;;) {
            shared_->changed.wait(lock,
                                  [&] { return queue_.breakRequested || !queue_.frames.empty(); });
            if (queue_.breakRequested) {
                break;
            }
            const MemorySegment::Frame frame = std::move(queue_.frames.front());
            queue_.frames.pop_front();
            lock.unlock();  // the callback may send or inject
            onFrame(frame.data(), frame.size());
            lock.lock();
        }
        queue_.breakRequested = false;
        queue_.frames.clear();
        auto& loops = shared_->loops;
        loops.erase(std::remove(loops.begin(), loops.end(), &queue_), loops.end());
        shared_->changed.notify_all();
        return kLoopBroken;
    }

    void BreakLoop() override {
        const std::lock_guard lock(shared_->mutex);
        queue_.breakRequested = true;
        shared_->changed.notify_all();
    }

    std::optional<CaptureDrops> Drops() const override {
        const std::lock_guard lock(shared_->mutex);
        return shared_->drops;
    }

  private:
    std::shared_ptr<MemorySegment::Shared> shared_;
    LoopQueue queue_;  // guarded by shared_->mutex
};

}  // namespace

MemorySegment::MemorySegment() : shared_(std::make_shared<Shared>()) {}
MemorySegment::~MemorySegment() = default;

void MemorySegment::SetAdapters(std::vector<AdapterInfo> adapters) {
    const std::lock_guard lock(shared_->mutex);
    shared_->adapters = std::move(adapters);
}
void MemorySegment::SetListingFails(bool fails) {
    const std::lock_guard lock(shared_->mutex);
    shared_->listingFails = fails;
}
void MemorySegment::SetAdapterMac(const std::string& driverName,
                                  const std::array<std::uint8_t, 6>& mac) {
    const std::lock_guard lock(shared_->mutex);
    shared_->macs[driverName] = mac;
}
void MemorySegment::SetOpenFails(bool fails) {
    const std::lock_guard lock(shared_->mutex);
    shared_->openFails = fails;
}
void MemorySegment::SetOpenNotPermitted(bool notPermitted) {
    const std::lock_guard lock(shared_->mutex);
    shared_->openNotPermitted = notPermitted;
}
void MemorySegment::SetSendRefused(bool refused) {
    const std::lock_guard lock(shared_->mutex);
    shared_->sendRefused = refused;
}
void MemorySegment::SetEchoSent(bool echo) {
    const std::lock_guard lock(shared_->mutex);
    shared_->echoSent = echo;
}

void MemorySegment::AddDrops(const CaptureDrops& drops) {
    const std::lock_guard lock(shared_->mutex);
    shared_->drops.buffer += drops.buffer;
    shared_->drops.driver += drops.driver;
}

std::vector<MemorySegment::Frame> MemorySegment::SentFrames() const {
    const std::lock_guard lock(shared_->mutex);
    return shared_->sent;
}
bool MemorySegment::WaitForSentFrames(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(shared_->mutex);
    return shared_->changed.wait_for(lock, timeout, [&] { return shared_->sent.size() >= n; });
}
void MemorySegment::ClearSentFrames() {
    const std::lock_guard lock(shared_->mutex);
    shared_->sent.clear();
}

void MemorySegment::Inject(const Frame& frame) {
    const std::lock_guard lock(shared_->mutex);
    shared_->DeliverLocked(frame);
}

int MemorySegment::OpenHandles() const {
    const std::lock_guard lock(shared_->mutex);
    return shared_->openHandles;
}
int MemorySegment::RunningLoops() const {
    const std::lock_guard lock(shared_->mutex);
    return static_cast<int>(shared_->loops.size());
}
bool MemorySegment::WaitForRunningLoops(int n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(shared_->mutex);
    return shared_->changed.wait_for(lock, timeout,
                                     [&] { return static_cast<int>(shared_->loops.size()) == n; });
}

std::optional<std::vector<AdapterInfo>> MemorySegment::FindAllDevices(std::string& error) {
    const std::lock_guard lock(shared_->mutex);
    if (shared_->listingFails) {
        error = "listing refused by the test";
        return std::nullopt;
    }
    return shared_->adapters;
}

std::unique_ptr<CaptureHandle> MemorySegment::Open(const std::string& adapterName,
                                                   const OpenParameters& parameters,
                                                   std::string& error) {
    OpenOutcome outcome;
    return OpenWithOutcome(adapterName, parameters, error, outcome);
}

std::unique_ptr<CaptureHandle> MemorySegment::OpenWithOutcome(const std::string& adapterName,
                                                              const OpenParameters&,
                                                              std::string& error,
                                                              OpenOutcome& outcome) {
    outcome = {};
    {
        const std::lock_guard lock(shared_->mutex);
        if (shared_->openNotPermitted) {
            error =
                "pcap_activate: You don't have permission to perform this capture on that "
                "device (socket: Operation not permitted)";
            outcome.notPermitted = true;
            return nullptr;
        }
        if (shared_->openFails) {
            error = "open refused by the test";
            return nullptr;
        }
        const auto& adapters = shared_->adapters;
        const bool known = std::any_of(adapters.begin(), adapters.end(),
                                       [&](const AdapterInfo& a) { return a.name == adapterName; });
        if (!known) {
            error = adapterName + ": no such device";
            return nullptr;
        }
    }
    return std::make_unique<MemoryHandle>(shared_);
}

std::optional<std::array<std::uint8_t, 6>> MemorySegment::QueryCurrentAddress(
    const std::string& driverName) {
    const std::lock_guard lock(shared_->mutex);
    const auto it = shared_->macs.find(driverName);
    if (it == shared_->macs.end()) {
        return std::nullopt;
    }
    return it->second;
}
