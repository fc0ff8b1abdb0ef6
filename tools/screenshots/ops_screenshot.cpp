// Takes the screenshot of the window after an Add for the docs: the demo lab, Set Adapter,
// Refresh, SPARE3 added to the multicast Transmitter HALL and shown under it. Needs root (the
// lab) and a display, e.g.
//
//   xvfb-run -a -s "-screen 0 1280x800x24"
//       build/hops/tools/screenshots/ops_screenshot docs/screenshots/add.png

#include "screenshot_main.h"

int main(int argc, char** argv) {
    using namespace opslab;
    return ScreenshotMain(argc, argv, "ops_screenshot", [](CVX418Dlg& dialog) {
        if (!SelectUnit(dialog.m_ConnectionsTree, kHall) ||
            !Pick(dialog.m_ConnectPicker, kSpare3)) {
            return std::string("HALL or SPARE3 is not offered");
        }
        Press(dialog.m_AddConnectButton);
        if (!WaitUntil([&] { return HasLine(dialog, "Succeeded in adding the Receiver."); }, 5s) ||
            !WorkersDone()) {
            return std::string("the Add did not succeed");
        }
        // The new Receiver selected under its Transmitter, as after the user's next click.
        SelectUnit(dialog.m_ConnectionsTree, kSpare3);
        return std::string();
    });
}
