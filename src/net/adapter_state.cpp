#include "net/adapter_state.h"

#include <mutex>

namespace {

struct AdapterState {
    std::mutex mutex;
    AdapterSnapshot current;
};

AdapterState& State() {
    // Never destroyed: senders and the capture loop may still run while the process exits.
    static auto* const state = new AdapterState;
    return *state;
}

}  // namespace

AdapterSnapshot CurrentAdapter() {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    return state.current;
}

void SetCurrentAdapter(AdapterSnapshot snapshot) {
    auto& state = State();
    std::shared_ptr<CaptureHandle> previous;
    {
        const std::lock_guard lock(state.mutex);
        previous = std::move(state.current.AdapterHandle);
        state.current = std::move(snapshot);
    }
    // previous is let go here, outside the lock: closing a handle may take a while.
}

std::shared_ptr<CaptureHandle> TakeAdapterHandle() {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    return std::move(state.current.AdapterHandle);
}

void SetAdapterMac(const std::array<std::uint8_t, 6>& mac) {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    state.current.AdapterMac = mac;
}

void SetAdapterIp(const std::array<std::uint8_t, 4>& ip, std::uint8_t prefixLength) {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    state.current.AdapterIp = ip;
    state.current.AdapterPrefixLength = prefixLength;
}
