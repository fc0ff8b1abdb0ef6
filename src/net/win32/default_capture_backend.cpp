#include "net/default_capture_backend.h"
#include "net/win32/wpcap_backend.h"

// Npcap's library, loaded when the backend is made.
std::shared_ptr<CaptureBackend> MakeDefaultCaptureBackend() {
    return std::make_shared<WpcapCaptureBackend>();
}
