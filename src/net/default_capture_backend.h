#pragma once

#include <memory>

#include "net/capture_backend.h"

// The capture library of the platform the program is built for: libpcap on Linux, Npcap's
// wpcap.dll on Windows. Each backend's source defines it.
std::shared_ptr<CaptureBackend> MakeDefaultCaptureBackend();
