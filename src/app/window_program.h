#pragma once

// The window program on Windows from start to end: the capture library (a message box naming
// Npcap when it is missing), the single-instance rule, the dialog until it ends; then the
// process ends without waiting for workers. Returns only when it cannot start (status 4).
// vx418.exe's main is this call, and so is the main of the test programs that drive the
// window as a user does.
int RunWindowProgram();
