// Takes the screenshot of a populated window for the docs: the demo lab, Set Adapter, Refresh,
// a unicast Transmitter selected. Needs root (the lab) and a display, e.g.
//
//   xvfb-run -a -s "-screen 0 1280x800x24"
//       build/views/tools/screenshots/views_screenshot docs/screenshots/populated.png

#include <QAbstractButton>
#include <QApplication>
#include <QPixmap>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "adapter_test_support.h"
#include "app/command_dispatch.h"
#include "dialog_support.h"
#include "lab_fixture.h"
#include "net/adapter_state.h"
#include "net/posix/pcap_backend.h"
#include "shell/cvx418_dlg.h"

namespace {

int Fail(const std::string& why) {
    std::fprintf(stderr, "views_screenshot: %s\n", why.c_str());
    return EXIT_FAILURE;
}

int Run(const char* output) {
    using namespace views_test;
    std::string error;
    const std::string why = vxlab::LabUnavailableReason();
    if (!why.empty()) {
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
    const std::unique_ptr<CVX418Dlg> dialog = CreateMainDialog();
    dialog->show();
    if (!adaptertest::SelectAdapter(*dialog, "vxst0")) {
        return Fail("no lab adapter in the list");
    }
    DispatchCommand(dialog.get(), 9);
    if (!WaitUntil(
            [&] {
                return adaptertest::HasLine(*dialog, "Succeed in setting the network adapter.");
            },
            10s)) {
        return Fail("Set Adapter did not succeed");
    }
    qobject_cast<QAbstractButton*>(dialog->m_RefreshButton.widget())->click();
    if (!WaitUntil([&] { return adaptertest::HasLine(*dialog, "Finished searching for VX418."); },
                   15s)) {
        return Fail("Refresh did not finish");
    }
    WaitUntil([&] { return dialog->m_RefreshButton.IsWindowEnabled(); }, 5s);
    if (!Select(dialog->m_ConnectionsTree, "STAGE: Unicast (198.18.1.12) [02:18:00:00:01:02]")) {
        return Fail("STAGE is not in the Connections tree");
    }
    return adaptertest::SaveWindowPicture(*dialog, dialog->m_ConnectionsTree, output)
               ? EXIT_SUCCESS
               : Fail("cannot write the picture");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: views_screenshot OUTPUT.png\n");
        return EXIT_FAILURE;
    }
    QApplication app(argc, argv);
    return Run(argv[1]);
}
