#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/capture_backend.h"

// An in-memory Ethernet segment behind the capture interface, for tests: it offers a
// configurable adapter list, records every frame sent on any of its handles, and delivers
// injected frames to every running capture loop on that loop's own thread.
// Handles may outlive the segment object; they share its state.
class MemorySegment : public CaptureBackend {
  public:
    using Frame = std::vector<std::uint8_t>;
    using Clock = std::chrono::steady_clock;

    MemorySegment();
    ~MemorySegment() override;

    // Configuration; takes effect for later calls.
    void SetAdapters(std::vector<AdapterInfo> adapters);
    void SetListingFails(bool fails);
    // The address QueryCurrentAddress reports for a driver name (adapter name minus "rpcap://");
    // a driver name without one cannot be queried.
    void SetAdapterMac(const std::string& driverName, const std::array<std::uint8_t, 6>& mac);
    void SetOpenFails(bool fails);
    // Opens fail as they do for a process without capture privileges.
    void SetOpenNotPermitted(bool notPermitted);
    // SendPacket returns -1 and records nothing while set.
    void SetSendRefused(bool refused);
    // Delivers every accepted frame to the running loops too, as a real adapter captures its
    // own transmissions.
    void SetEchoSent(bool echo);

    // Counts lost frames, as a capture buffer that overflows would: every handle's Drops()
    // reports the segment's totals (zero until then).
    void AddDrops(const CaptureDrops& drops);

    // Frames accepted by SendPacket on any handle, in order.
    std::vector<Frame> SentFrames() const;
    // True once at least n frames have been sent, false on time-out.
    bool WaitForSentFrames(std::size_t n, std::chrono::milliseconds timeout) const;
    void ClearSentFrames();

    // Queues a copy of frame for every loop running now; each loop runs its callback with it.
    void Inject(const Frame& frame);

    int OpenHandles() const;
    int RunningLoops() const;
    // True once exactly n loops run, false on time-out.
    bool WaitForRunningLoops(int n, std::chrono::milliseconds timeout) const;

    // CaptureBackend
    std::optional<std::vector<AdapterInfo>> FindAllDevices(std::string& error) override;
    std::unique_ptr<CaptureHandle> Open(const std::string& adapterName,
                                        const OpenParameters& parameters,
                                        std::string& error) override;
    std::unique_ptr<CaptureHandle> OpenWithOutcome(const std::string& adapterName,
                                                   const OpenParameters& parameters,
                                                   std::string& error,
                                                   OpenOutcome& outcome) override;
    std::optional<std::array<std::uint8_t, 6>> QueryCurrentAddress(
        const std::string& driverName) override;

    struct Shared;

  private:
    std::shared_ptr<Shared> shared_;
};
