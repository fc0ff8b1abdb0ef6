#pragma once

// vx418ctl: the window's jobs from the command line, on the same wire, with each unit's own
// answer in the exit status and the output. main() only sets the capture backend; tests run
// this with the in-memory segment.

#include <ostream>

// Exit statuses (also in --help and the man page).
enum CtlExit : int {
    kExitConfirmed = 0,  // the unit confirmed the change (or a listing worked)
    kExitRefused = 1,    // the unit answered with its failure code
    kExitBadInput = 2,   // usage, name or address rule, unknown unit, wrong kind of unit
    kExitNoAnswer = 3,   // no answer from the unit within --timeout
    kExitAdapter = 4,    // the adapter could not be listed, opened or sent on
};

int RunCtl(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
