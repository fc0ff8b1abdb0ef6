#pragma once

#include <memory>

class CaptureBackend;

// The window program from start to end: its command line (the Qt front end's; vx418.exe takes
// none), the toolkit, the capture library (on Windows a message box naming Npcap when it is
// missing), then RunMainWindow. Returns only when the program must not start the window: the
// command line was answered, or nothing can be captured (status 4). vx418's main is this call,
// and so is the main of the test programs that drive the window as a user does. Each front end
// has its own (qt/window_program.cpp, win32/window_program.cpp).
int RunWindowProgram(int argc, char* argv[]);

// The end both front ends share: the single-instance rule, the dialog until it ends, then the
// process ends at once without waiting for workers.
[[noreturn]] void RunMainWindow(std::shared_ptr<CaptureBackend> backend);
