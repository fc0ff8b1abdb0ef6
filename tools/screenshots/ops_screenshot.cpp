// Takes the screenshot of the window after an Add for the docs: the demo lab, Set Adapter,
// Refresh, SPARE3 added to the multicast Transmitter HALL and shown under it. Needs root (the
// lab) and a display, e.g.
//
//   xvfb-run -a -s "-screen 0 1280x800x24"
//       build/hops/tools/screenshots/ops_screenshot docs/screenshots/add.png

#include <QApplication>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lab_fixture.h"
#include "net/adapter_state.h"
#include "net/posix/pcap_backend.h"
#include "ops_lab_support.h"

namespace {

int Fail(const std::string& why) {
    std::fprintf(stderr, "ops_screenshot: %s\n", why.c_str());
    return EXIT_FAILURE;
}

int Run(const char* output) {
    using namespace opslab;
    std::string error;
    if (const std::string why = vxlab::LabUnavailableReason(); !why.empty()) {
        return Fail(why);
    }
    auto lab = vxlab::Lab::Create(error);
    if (!lab || !lab->StartSim({}, error)) {
        return Fail(error);
    }
    auto inStation = lab->EnterStation(error);
    if (!inStation) {
        return Fail(error);
    }
    SetCaptureBackend(std::make_shared<PcapCaptureBackend>());
    const std::unique_ptr<CVX418Dlg> dialog = OpenOnLab();
    if (!dialog) {
        return Fail("Set Adapter on the lab link did not succeed");
    }
    if (!PressRefresh(*dialog)) {
        return Fail("Refresh did not finish");
    }
    if (!SelectUnit(dialog->m_ConnectionsTree, kHall) || !Pick(dialog->m_ConnectPicker, kSpare3)) {
        return Fail("HALL or SPARE3 is not offered");
    }
    Press(dialog->m_AddConnectButton);
    if (!WaitUntil([&] { return HasLine(*dialog, "Succeeded in adding the Receiver."); }, 5s) ||
        !WorkersDone()) {
        return Fail("the Add did not succeed");
    }
    // The new Receiver selected under its Transmitter, as after the user's next click.
    SelectUnit(dialog->m_ConnectionsTree, kSpare3);
    return adaptertest::SaveWindowPicture(*dialog, dialog->m_ConnectionsTree, output)
               ? EXIT_SUCCESS
               : Fail("cannot write the picture");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ops_screenshot OUTPUT.png\n");
        return EXIT_FAILURE;
    }
    QApplication app(argc, argv);
    return Run(argv[1]);
}
