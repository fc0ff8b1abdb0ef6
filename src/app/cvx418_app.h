#pragma once

#include <memory>

class CVX418Dlg;
class InstanceLock;

inline constexpr const char* kMainWindowTitle = "VX418 Management Utility";

// The application object: the single-instance rule, then the main dialog until it ends.
class CVX418App {
  public:
    CVX418App();
    ~CVX418App();

    // Needs the toolkit started (RunWindowProgram). Returns false when the program must end
    // without a window (another copy holds the lock of this user and display, or another window
    // with the title exists where the window system can be asked); otherwise runs the dialog
    // until Escape or the close box ends it, then returns true.
    bool InitInstance();

    // The dialog while it runs (for tests that drive a running instance); else null.
    CVX418Dlg* MainWindow() const { return dialog_.get(); }

  private:
    std::unique_ptr<InstanceLock> lock_;  // held until the process ends
    std::unique_ptr<CVX418Dlg> dialog_;
};
