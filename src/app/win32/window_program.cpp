#include "app/window_program.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "net/win32/wpcap_backend.h"
#include "platform/message_box.h"
#include "platform/win32/common_controls.h"

namespace {

// As vx418ctl's exit status when the adapters cannot be listed.
constexpr int kExitNoCapture = 4;
constexpr char kNoCaptureCaption[] = "VX418: Npcap is needed";

}  // namespace

int RunWindowProgram(int /*argc*/, char* /*argv*/[]) {
    auto backend = std::make_shared<WpcapCaptureBackend>();
    if (!backend->Loaded()) {
        // vx418ctl's words: what is missing and where it comes from.
        const std::string text = "Cannot list the adapters: " + backend->LoadError();
        MessageBoxA(nullptr, text.c_str(), kNoCaptureCaption, MB_OK | MB_ICONERROR);
        return kExitNoCapture;
    }
    if (!InitializeCommonControls()) {
        std::fprintf(stderr, "vx418: the common controls could not be registered\n");
    }
    RunMainWindow(std::move(backend));
}
