#include "net/adapter.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

#include "app/cvx418_dlg.h"
#include "app/log_line.h"
#include "app/shell_state.h"
#include "net/adapter_state.h"
#include "protocol/device_table.h"
#include "protocol/messages.h"

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

// The capture loop of one successful Set Adapter. Stop makes the loop return and waits until
// it has; a loop that has not started yet never starts.
class CaptureSession {
  public:
    explicit CaptureSession(std::shared_ptr<CaptureHandle> handle) : handle_(std::move(handle)) {}

    // Runs on the capture thread; returns when the loop ends (Stop, or a capture error).
    int Run(const FrameCallback& onFrame) {
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

    void Stop() {
        std::unique_lock lock(mutex_);
        stopRequested_ = true;
        if (!looping_) {
            return;
        }
        // A break issued just before the library enters its loop is still honoured there.
        handle_->BreakLoop();
        loopEnded_.wait(lock, [this] { return !looping_; });
    }

    const CaptureHandle& Handle() const { return *handle_; }

  private:
    const std::shared_ptr<CaptureHandle> handle_;
    std::mutex mutex_;
    std::condition_variable loopEnded_;
    bool stopRequested_ = false;
    bool looping_ = false;
};

// Serialises whole Set Adapter runs (close of the old handle through open of the new one) and
// remembers the running capture session. Never held across a call that waits on the window.
struct SetAdapterState {
    std::mutex runMutex;
    std::shared_ptr<CaptureSession> session;
};

SetAdapterState& RunState() {
    static auto* const state = new SetAdapterState;
    return *state;
}

// The position-th adapter among those with a description (the ones the list offers).
std::optional<AdapterInfo> OfferedAdapterAt(int position) {
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

std::optional<std::array<std::uint8_t, 4>> FirstIpv4(const std::vector<AdapterAddress>& list) {
    for (const AdapterAddress& address : list) {
        if (address.isIpv4) {
            return address.ipv4;
        }
    }
    return std::nullopt;
}

void HandleFrame(const std::uint8_t* frame, std::size_t capturedLength) {
    HandleCapturedFrame(frame, capturedLength, Devices(), MainDialogLineSink());
}

// Close of the previous adapter, then open of the selected one, as one uninterrupted step.
std::shared_ptr<CaptureSession> ReplaceAdapter(CVX418Dlg* dialog, int position) {
    auto& state = RunState();
    const std::lock_guard run(state.runMutex);
    if (auto previous = std::exchange(state.session, nullptr)) {
        previous->Stop();
    }
    // AdapterHandle := none. Senders still holding the old handle finish their send; the
    // handle closes when the last of them and the ended loop have let go.
    TakeAdapterHandle();
    LogLine(dialog, "Setting the network adapter. Please wait.");
    if (!OpenSelectedAdapter(dialog, position)) {
        return nullptr;
    }
    state.session = std::make_shared<CaptureSession>(CurrentAdapter().AdapterHandle);
    return state.session;
}

}  // namespace

std::vector<AdapterInfo> AdapterList() {
    auto& state = ListState();
    const std::lock_guard lock(state.mutex);
    return state.adapters;
}

void FillAdapterList(CVX418Dlg* dialog) {
    std::string error;
    auto adapters = ActiveCaptureBackend().FindAllDevices(error);
    if (!adapters) {
        LogLine(dialog, "Unable to find any network card. Please check your network settings.");
        TraceLine("Listing the network adapters failed: %s", error.c_str());
        return;
    }
    {
        auto& state = ListState();
        const std::lock_guard lock(state.mutex);
        state.adapters = *adapters;
    }
    for (const AdapterInfo& adapter : *adapters) {
        if (adapter.description) {
            dialog->m_AdapterCombo.AddString(*adapter.description);
        } else {
            LogLine(dialog, "No description available.");
        }
    }
    dialog->m_AdapterCombo.SetCurSel(0);
}

unsigned SetAdapterWorker(CVX418Dlg* dialog) {
    // Read before the run lock: the window may be busy, and no lock is held while waiting on it.
    const int position = dialog->m_AdapterCombo.GetCurSel();
    const std::shared_ptr<CaptureSession> session = ReplaceAdapter(dialog, position);
    if (!session) {
        LogLine(dialog, "Failed to set the network adapter.");
        return 1;
    }
    EnableActionControls(dialog, 1);
    LogLine(dialog, "Succeed in setting the network adapter.");
    const int result = session->Run(HandleFrame);
    if (result == -1) {
        TraceLine("Capture loop ended: %s", session->Handle().LastError().c_str());
    }
    return 1;
}

bool OpenSelectedAdapter(CVX418Dlg* dialog, int position) {
    if (position < 0) {
        return false;
    }
    const std::optional<AdapterInfo> adapter = OfferedAdapterAt(position);
    if (!adapter) {
        return false;
    }
    if (!QueryAdapterMac(adapter->name)) {
        return false;
    }
    // The first IPv4 entry: on Linux the list starts with the link-layer address.
    const auto ip = FirstIpv4(adapter->addresses);
    if (!ip) {
        return false;
    }
    SetAdapterIp(*ip);

    std::string error;
    std::unique_ptr<CaptureHandle> handle =
        ActiveCaptureBackend().Open(adapter->name, OpenParameters{}, error);
    if (!handle) {
        // The adapter list stays: a later Set Adapter on a good adapter must still work.
        LogLine(dialog, "Unable open adapter");
        TraceLine("Opening %s failed: %s", adapter->name.c_str(), error.c_str());
        return false;
    }
    AdapterSnapshot snapshot = CurrentAdapter();
    snapshot.AdapterHandle = std::move(handle);
    SetCurrentAdapter(std::move(snapshot));
    LogLine(dialog, "%s %s\n", "Adaptor:", adapter->description->c_str());
    return true;
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
