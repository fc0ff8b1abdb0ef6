// Not a test on its own: privilege_lab_test copies this program, gives the copy an owner, a
// mode and file capabilities as the package gives vx418, and runs it as other users in the
// station namespace of a lab. It opens the lab adapter directly (saying whether the capture
// library refused for lack of privileges), then drives the real dialog offscreen: Set Adapter,
// Refresh, and prints the units found and the Log pane.
//
// Exit status: 0 units were found, 3 Set Adapter failed, 4 no lab adapter listed, 5 no Refresh.
#include <QAbstractButton>
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "adapter_test_support.h"
#include "app/command_dispatch.h"
#include "net/pcap_backend.h"
#include "protocol/device_table.h"

namespace {

constexpr int kSetAdapter = 9;

[[noreturn]] void Finish(CVX418Dlg& dialog, int status) {
    for (const std::string& line : adaptertest::LogLines(dialog)) {
        std::printf("log: %s\n", line.c_str());
    }
    std::fflush(stdout);
    std::_Exit(status);  // as the program does: workers are not waited for
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    {
        PcapCaptureBackend backend;
        std::string error;
        OpenOutcome outcome;
        const auto handle = backend.OpenWithOutcome("rpcap://vxst0", {}, error, outcome);
        std::printf("open: %s%s\n",
                    handle                 ? "ok"
                    : outcome.notPermitted ? "not permitted: "
                                           : "failed: ",
                    error.c_str());
    }
    SetCaptureBackend(std::make_shared<PcapCaptureBackend>());
    auto dialog = CreateMainDialog();
    dialog->show();
    if (!adaptertest::SelectAdapter(*dialog, "vxst0 (198.18.0.1)")) {
        Finish(*dialog, 4);
    }
    DispatchCommand(dialog.get(), kSetAdapter);
    const bool settled = adaptertest::WaitFor(
        [&] {
            return adaptertest::HasLine(*dialog, "Succeed in setting the network adapter.") ||
                   adaptertest::HasLine(*dialog, "Failed to set the network adapter.");
        },
        std::chrono::seconds(10));
    if (!settled || !adaptertest::HasLine(*dialog, "Succeed in setting the network adapter.")) {
        adaptertest::WaitFor([] { return false; }, std::chrono::milliseconds(300));  // late lines
        Finish(*dialog, 3);
    }
    qobject_cast<QAbstractButton*>(dialog->m_RefreshButton.widget())->click();
    if (!adaptertest::WaitFor(
            [&] { return adaptertest::HasLine(*dialog, "Finished searching for VX418."); },
            std::chrono::seconds(20))) {
        Finish(*dialog, 5);
    }
    std::printf("units: %d\n", Devices().DeviceCount());
    Finish(*dialog, 0);
}
