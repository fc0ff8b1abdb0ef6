#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/capture_backend.h"

// The adapter list and the capture session, without any window: the Set Adapter worker above
// composes these with its Log pane lines.

// The capture library's adapter list as last read by LoadAdapterList (a copy). It is kept for
// the whole run, also after a failed open.
std::vector<AdapterInfo> AdapterList();
// Reads the library's list and keeps it; nullopt (and the library's text in error) when the
// library cannot list adapters, in which case the kept list is unchanged.
std::optional<std::vector<AdapterInfo>> LoadAdapterList(std::string& error);
// The position-th adapter among those with a description (the ones the window offers).
std::optional<AdapterInfo> OfferedAdapterAt(int position);
// The first IPv4 entry: on Linux the list starts with the link-layer address, on Windows often
// with IPv6.
std::optional<std::array<std::uint8_t, 4>> FirstIpv4Address(
    const std::vector<AdapterAddress>& addresses);
// The same entry with its prefix length.
std::optional<AdapterAddress> FirstIpv4Entry(const std::vector<AdapterAddress>& addresses);
// Learns AdapterMac from the interface behind "rpcap://" + driver name.
bool QueryAdapterMac(const std::string& adapterName);

// The capture loop of one successful Set Adapter. Stop makes the loop return and waits until
// it has; a loop that has not started yet never starts.
class CaptureSession {
  public:
    explicit CaptureSession(std::shared_ptr<CaptureHandle> handle);

    // Runs on the capture thread; returns when the loop ends (Stop, or a capture error).
    int Run(const FrameCallback& onFrame);
    void Stop();
    const CaptureHandle& Handle() const { return *handle_; }

  private:
    const std::shared_ptr<CaptureHandle> handle_;
    std::mutex mutex_;
    std::condition_variable loopEnded_;
    bool stopRequested_ = false;
    bool looping_ = false;
};

// One Set Adapter run, from the close of the previous adapter to the start of the new capture
// session, as one uninterrupted step: runs are serialised for the lifetime of this object.
// The window thread never creates one, so a run may wait on the window while it holds it.
class AdapterRun {
  public:
    AdapterRun();
    // Stops the previous capture loop, waits until it has returned, and sets AdapterHandle to
    // none. Senders still holding the old handle finish their send; it closes after them.
    void CloseCurrent();
    // Makes the open adapter's handle the running capture session (nullptr when none is open).
    std::shared_ptr<CaptureSession> StartSession();

  private:
    std::unique_lock<std::mutex> lock_;
};
