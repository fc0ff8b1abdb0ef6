// vx418ctl: the window's jobs from the command line. See docs/cli.md.

#include <iostream>
#include <memory>

#include "cli/ctl_run.h"
#include "net/default_capture_backend.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
    SetCaptureBackend(MakeDefaultCaptureBackend());
    return RunCtl(argc, argv, std::cout, std::cerr, StandardErrorIsTerminal());
}
