#include "app/window_program.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "app/cvx418_app.h"
#include "net/capture_backend.h"

void RunMainWindow(std::shared_ptr<CaptureBackend> backend) {
    SetCaptureBackend(std::move(backend));
    CVX418App app;
    app.InitInstance();
    // Workers and the capture thread are not waited for: end the process at once, so no
    // detached thread can run into a half-destroyed window or library.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(EXIT_SUCCESS);
}
