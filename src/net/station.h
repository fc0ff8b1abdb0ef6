#pragma once

// The station without a window: one adapter opened the way Set Adapter opens it (the
// interface's MAC, the adapter's first IPv4 address, the capture handle made the current adapter
// for SendRequest/SendBackupRequest) and a capture thread that hands every frame to a callback.
// The command-line tool runs on this.

#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "net/adapter.h"
#include "net/capture_backend.h"

struct StationOpenFailure {
    std::string reason;
    bool notPermitted = false;  // neither the process nor its capture helper may capture
};

class Station {
  public:
    // nullptr and failure when the adapter's MAC or IPv4 address is unknown or the open fails.
    // warnings receives the capture library's warnings on an open that worked.
    static std::unique_ptr<Station> Open(const AdapterInfo& adapter, FrameCallback onFrame,
                                         StationOpenFailure& failure, std::string& warnings);
    // Stops the capture thread and closes the adapter.
    ~Station();
    // Frames the adapter lost since the open; nothing when the library cannot tell.
    std::optional<CaptureDrops> Drops() const { return session_->Handle().Drops(); }
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

  private:
    Station() = default;

    FrameCallback onFrame_;
    std::shared_ptr<CaptureSession> session_;
    std::thread loop_;
};
