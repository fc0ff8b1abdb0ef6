#include "net/capture_backend.h"

#include <mutex>

namespace {

// Stands in until a backend is set: lists nothing and opens nothing.
class NoCaptureBackend final : public CaptureBackend {
  public:
    std::optional<std::vector<AdapterInfo>> FindAllDevices(std::string&) override {
        return std::vector<AdapterInfo>{};
    }
    std::unique_ptr<CaptureHandle> Open(const std::string&, const OpenParameters&,
                                        std::string& error) override {
        error = "no capture backend";
        return nullptr;
    }
    std::optional<std::array<std::uint8_t, 6>> QueryCurrentAddress(const std::string&) override {
        return std::nullopt;
    }
};

struct Backends {
    std::mutex mutex;
    std::shared_ptr<CaptureBackend> active = std::make_shared<NoCaptureBackend>();
    // Every backend ever set stays alive: a caller may still hold the reference that
    // ActiveCaptureBackend handed out when a test swaps in a new one.
    std::vector<std::shared_ptr<CaptureBackend>> retired;
};

Backends& State() {
    // Never destroyed, for the same reason: detached threads may use a backend at exit.
    static auto* const backends = new Backends;
    return *backends;
}

}  // namespace

CaptureBackend& ActiveCaptureBackend() {
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    return *state.active;
}

void SetCaptureBackend(std::shared_ptr<CaptureBackend> backend) {
    if (!backend) {
        backend = std::make_shared<NoCaptureBackend>();
    }
    auto& state = State();
    const std::lock_guard lock(state.mutex);
    state.retired.push_back(std::move(state.active));
    state.active = std::move(backend);
}

std::uint8_t NetmaskPrefixLength(const std::array<std::uint8_t, 4>& netmask) {
    std::uint8_t length = 0;
    for (const std::uint8_t byte : netmask) {
        for (int bit = 7; bit >= 0; --bit) {
            if ((byte >> bit & 1) == 0) {
                return length;
            }
            ++length;
        }
    }
    return length;
}
