#pragma once

// vx418ctl: the window's jobs from the command line, on the same wire, with each unit's own
// answer and a read-back in the exit status and the output. main() only sets the capture
// backend; tests run this with the in-memory segment.

#include <ostream>

// Exit statuses (also in --help, the man page and docs/cli.md).
enum CtlExit : int {
    kExitDone = 0,      // done, or already so; a listing worked
    kExitRefused = 1,   // the unit refused the change, or does not hold it afterwards; check:
                        // the installation has errors
    kExitBadInput = 2,  // usage, an invalid value, a change that needs --force
    kExitNoAnswer = 3,  // no answer: the outcome is unknown
    kExitAdapter = 4,   // the adapter could not be listed, locked, opened or sent on
    kExitNotFound = 5,  // a unit did not answer the discovery, or its name is ambiguous
    kExitOutput = 6,    // the result could not be written to standard output
};

// errIsTerminal: err is a terminal, where a status line may show how far a long run has come.
int RunCtl(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           bool errIsTerminal = false);
