#include "app/window_program.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/cvx418_app.h"
#include "net/win32/wpcap_backend.h"
#include "platform/message_box.h"

namespace {

// As vx418ctl's exit status when the adapters cannot be listed.
constexpr int kExitNoCapture = 4;
constexpr char kNoCaptureCaption[] = "VX418: Npcap is needed";

}  // namespace

int RunWindowProgram() {
    auto backend = std::make_shared<WpcapCaptureBackend>();
    if (!backend->Loaded()) {
        // vx418ctl's words: what is missing and where it comes from.
        const std::string text = "Cannot list the adapters: " + backend->LoadError();
        MessageBoxA(nullptr, text.c_str(), kNoCaptureCaption, MB_OK | MB_ICONERROR);
        return kExitNoCapture;
    }
    SetCaptureBackend(std::move(backend));
    CVX418App app;
    app.InitInstance();
    // Workers and the capture thread are not waited for: end the process at once, so no
    // detached thread can run into a half-destroyed window or library.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(EXIT_SUCCESS);
}
