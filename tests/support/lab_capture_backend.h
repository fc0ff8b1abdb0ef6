// The capture backend of the lab tests that can run either way: in-process libpcap, or the
// capture helper built with the tests when ctest runs them as "helper.*" (VX_LAB_CAPTURE=helper).
#pragma once

#include <cstdlib>
#include <memory>
#include <string_view>

#include "net/posix/helper_backend.h"
#include "net/posix/pcap_backend.h"

inline bool LabCapturesThroughHelper() {
    const char* choice = std::getenv("VX_LAB_CAPTURE");
    return choice != nullptr && std::string_view(choice) == "helper";
}

// The helper always has the default options; the tests of other options run in-process only.
inline std::shared_ptr<CaptureBackend> LabCaptureBackend(PcapOptions options = {}) {
    if (LabCapturesThroughHelper()) {
        return std::make_shared<HelperCaptureBackend>(VX_CAPTURE_HELPER);
    }
    return std::make_shared<PcapCaptureBackend>(options);
}
