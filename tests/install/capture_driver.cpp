// Not a test on its own: privilege_lab_test copies this program beside a copy of the capture
// helper, as the package installs vx418 beside vx418-capture, and runs it as other users in
// the station namespace of a lab. It takes the program's capture backend (the helper, since it
// holds no capability), then drives the real dialog offscreen: Set Adapter, Refresh, and prints
// the units found and the Log pane. With --hold it then waits to be killed.
//
// Exit status: 0 units were found, 3 Set Adapter failed, 4 no lab adapter listed, 5 no Refresh.
#include <QAbstractButton>
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "adapter_test_support.h"
#include "app/command_dispatch.h"
#include "net/default_capture_backend.h"
#include "protocol/device_table.h"

namespace {

[[noreturn]] void Finish(CVX418Dlg& dialog, int status, bool hold) {
    for (const std::string& line : adaptertest::LogLines(dialog)) {
        std::printf("log: %s\n", line.c_str());
    }
    std::printf("%s\n", hold ? "holding" : "done");
    std::fflush(stdout);
    while (hold) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    std::_Exit(status);  // as the program does: workers are not waited for
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool hold = argc > 1 && std::string(argv[1]) == "--hold";
    QApplication application(argc, argv);
    SetCaptureBackend(MakeDefaultCaptureBackend());
    auto dialog = CreateMainDialog();
    dialog->GetSafeHwnd()->show();
    if (!adaptertest::SelectAdapter(*dialog, "vxst0 (198.18.0.1)")) {
        Finish(*dialog, 4, false);
    }
    DispatchCommand(dialog.get(), Command::SetAdapter);
    const bool settled = adaptertest::WaitFor(
        [&] {
            return adaptertest::HasLine(*dialog, "Succeed in setting the network adapter.") ||
                   adaptertest::HasLine(*dialog, "Failed to set the network adapter.");
        },
        std::chrono::seconds(10));
    if (!settled || !adaptertest::HasLine(*dialog, "Succeed in setting the network adapter.")) {
        adaptertest::WaitFor([] { return false; }, std::chrono::milliseconds(300));  // late lines
        Finish(*dialog, 3, false);
    }
    qobject_cast<QAbstractButton*>(dialog->m_RefreshButton.widget())->click();
    if (!adaptertest::WaitFor(
            [&] { return adaptertest::HasLine(*dialog, "Finished searching for VX418."); },
            std::chrono::seconds(20))) {
        Finish(*dialog, 5, false);
    }
    std::printf("units: %d\n", Devices().DeviceCount());
    Finish(*dialog, 0, hold);
}
