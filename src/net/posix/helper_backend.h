#pragma once

#include <memory>
#include <optional>
#include <string>

#include "net/capture_backend.h"

// The capture interface through the capture helper vx418-capture (docs/capture-helper.md): the
// one program with a capability (cap_net_raw), so the window and vx418ctl run with none.
//
// Each open adapter has a helper of its own, started over two socket pairs (requests and
// answers; captured frames) and ended by closing them; listing the adapters starts one for the
// list alone. The helper captures with its own fixed filter and sends only TFDP requests: a
// frame it refuses is a failed send here, with its reason in LastError.

class HelperCaptureBackend final : public CaptureBackend {
  public:
    explicit HelperCaptureBackend(std::string helperPath);

    // The helper's list; when the helper cannot be started at all, the list read here (which
    // needs no privilege), so the window still offers the adapters and an open says why not.
    std::optional<std::vector<AdapterInfo>> FindAllDevices(std::string& error) override;
    std::unique_ptr<CaptureHandle> Open(const std::string& adapterName,
                                        const OpenParameters& parameters,
                                        std::string& error) override;
    // The parameters are the helper's own (those of OpenParameters{}). A helper that may not
    // capture, or that this user may not run, sets outcome.notPermitted.
    std::unique_ptr<CaptureHandle> OpenWithOutcome(const std::string& adapterName,
                                                   const OpenParameters& parameters,
                                                   std::string& error,
                                                   OpenOutcome& outcome) override;
    // Read here: the interface query needs no privilege.
    std::optional<std::array<std::uint8_t, 6>> QueryCurrentAddress(
        const std::string& driverName) override;

  private:
    std::string helperPath_;
};

inline constexpr char kCaptureHelperName[] = "vx418-capture";

// The helper installed beside the running program, if there is one.
std::optional<std::string> CaptureHelperBesideProgram();
// Whether this process may capture itself (it holds CAP_NET_RAW in its effective set).
bool ProcessMayCapture();
