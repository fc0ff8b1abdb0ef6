#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/cvx418_app.h"
#include "net/pcap_backend.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Adapters are listed, opened and captured through libpcap.
    SetCaptureBackend(std::make_shared<PcapCaptureBackend>());
    CVX418App app;
    app.InitInstance();
    // Workers and the capture thread are not waited for: end the process at once, so no
    // detached thread can run into a half-destroyed window or library.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(EXIT_SUCCESS);
}
