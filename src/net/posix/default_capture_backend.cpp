#include "net/default_capture_backend.h"
#include "net/posix/helper_backend.h"
#include "net/posix/pcap_backend.h"

// A process that may capture (root, or a program given cap_net_raw by hand) captures itself;
// any other goes through the capture helper beside it. Without a helper, the in-process
// backend's open says that capture is not permitted.
std::shared_ptr<CaptureBackend> MakeDefaultCaptureBackend() {
    if (!ProcessMayCapture()) {
        if (auto helper = CaptureHelperBesideProgram()) {
            return std::make_shared<HelperCaptureBackend>(std::move(*helper));
        }
    }
    return std::make_shared<PcapCaptureBackend>();
}
