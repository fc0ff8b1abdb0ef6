#include "net/adapter.h"

#include <utility>

#include "net/adapter_state.h"

namespace {

// Adapter names are "rpcap://" + the driver's name; the prefix is dropped without comparing.
constexpr std::size_t kAdapterNamePrefixLength = 8;

struct AdapterListState {
    std::mutex mutex;
    std::vector<AdapterInfo> adapters;
};

// Never destroyed: detached Set Adapter workers may still read it while the process exits.
AdapterListState& ListState() {
    static auto* const state = new AdapterListState;
    return *state;
}

struct SetAdapterState {
    std::mutex runMutex;
    std::shared_ptr<CaptureSession> session;
};

SetAdapterState& RunState() {
    static auto* const state = new SetAdapterState;
    return *state;
}

}  // namespace

std::vector<AdapterInfo> AdapterList() {
    auto& state = ListState();
    const std::lock_guard lock(state.mutex);
    return state.adapters;
}

std::optional<std::vector<AdapterInfo>> LoadAdapterList(std::string& error) {
    auto adapters = ActiveCaptureBackend().FindAllDevices(error);
    if (adapters) {
        auto& state = ListState();
        const std::lock_guard lock(state.mutex);
        state.adapters = *adapters;
    }
    return adapters;
}

std::optional<AdapterInfo> OfferedAdapterAt(int position) {
    if (position < 0) {
        return std::nullopt;
    }
    auto& state = ListState();
    const std::lock_guard lock(state.mutex);
    int offered = 0;
    for (const AdapterInfo& adapter : state.adapters) {
        if (!adapter.description) {
            continue;
        }
        if (offered++ == position) {
            return adapter;
        }
    }
    return std::nullopt;
}

std::optional<std::array<std::uint8_t, 4>> FirstIpv4Address(
    const std::vector<AdapterAddress>& addresses) {
    const auto entry = FirstIpv4Entry(addresses);
    return entry ? std::optional(entry->ipv4) : std::nullopt;
}

std::optional<AdapterAddress> FirstIpv4Entry(const std::vector<AdapterAddress>& addresses) {
    for (const AdapterAddress& address : addresses) {
        if (address.isIpv4) {
            return address;
        }
    }
    return std::nullopt;
}

bool QueryAdapterMac(const std::string& adapterName) {
    const std::string driverName = adapterName.size() > kAdapterNamePrefixLength
                                       ? adapterName.substr(kAdapterNamePrefixLength)
                                       : std::string();
    const auto mac = ActiveCaptureBackend().QueryCurrentAddress(driverName);
    if (!mac) {
        return false;
    }
    SetAdapterMac(*mac);
    return true;
}

// ---- CaptureSession ----

CaptureSession::CaptureSession(std::shared_ptr<CaptureHandle> handle)
    : handle_(std::move(handle)) {}

int CaptureSession::Run(const FrameCallback& onFrame) {
    {
        const std::lock_guard lock(mutex_);
        if (stopRequested_) {
            return 0;
        }
        looping_ = true;
    }
    // The session keeps the handle open for as long as the loop runs.
    const int result = handle_->Loop(onFrame);
    {
        const std::lock_guard lock(mutex_);
        looping_ = false;
    }
    loopEnded_.notify_all();
    return result;
}

void CaptureSession::Stop() {
    std::unique_lock lock(mutex_);
    stopRequested_ = true;
    if (!looping_) {
        return;
    }
    // A break issued just before the library enters its loop is still honoured there.
    handle_->BreakLoop();
    loopEnded_.wait(lock, [this] { return !looping_; });
}

// ---- AdapterRun ----

AdapterRun::AdapterRun() : lock_(RunState().runMutex) {}

void AdapterRun::CloseCurrent() {
    if (auto previous = std::exchange(RunState().session, nullptr)) {
        previous->Stop();
    }
    TakeAdapterHandle();
}

std::shared_ptr<CaptureSession> AdapterRun::StartSession() {
    auto handle = CurrentAdapter().AdapterHandle;
    if (!handle) {
        return nullptr;
    }
    RunState().session = std::make_shared<CaptureSession>(std::move(handle));
    return RunState().session;
}
