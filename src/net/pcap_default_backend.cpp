#include "net/default_capture_backend.h"
#include "net/pcap_backend.h"

std::shared_ptr<CaptureBackend> MakeDefaultCaptureBackend() {
    return std::make_shared<PcapCaptureBackend>();
}
