// Takes the screenshot of a populated window for the docs: the demo lab, Set Adapter, Refresh,
// a unicast Transmitter selected. Needs root (the lab) and a display, e.g.
//
//   xvfb-run -a -s "-screen 0 1280x800x24"
//       build/views/tools/screenshots/views_screenshot docs/screenshots/populated.png

#include "screenshot_main.h"

int main(int argc, char** argv) {
    return ScreenshotMain(argc, argv, "views_screenshot", [](CVX418Dlg& dialog) {
        return opslab::SelectUnit(dialog.m_ConnectionsTree, opslab::kStage)
                   ? std::string()
                   : std::string("STAGE is not in the Connections tree");
    });
}
