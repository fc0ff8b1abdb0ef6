#pragma once

// The commands of vx418ctl that read the units: discover, show and export. The changing
// commands are in ctl_change.h, apply in ctl_apply.h.

#include <chrono>
#include <string>

#include "cli/ctl_adapter.h"
#include "cli/ctl_report.h"
#include "cli/ctl_session.h"

struct RunOptions {
    AdapterChoice adapter;
    std::chrono::milliseconds wait{5000};     // the window's Refresh
    std::chrono::milliseconds timeout{1000};  // a unit's reply to a request
    bool force = false;
    bool dryRun = false;
    std::string outputFile;  // export -o
    bool dot = false;        // export --format dot
    std::string inputFile;   // apply FILE
};

// Discovers until done holds or the whole wait has passed; false after reporting an adapter that
// refused the broadcast (status in status).
bool DiscoverUnits(CtlSession& session, const RunOptions& options, const CtlSession::Done& done,
                   Reporter& report, int& status);

// Writes text to path through a temporary file beside it, so a failed write never leaves half a
// file where a good one was. False and why otherwise.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error);

int Discover(const RunOptions& options, Reporter& report);
int Show(const RunOptions& options, const std::string& unit, Reporter& report);
int Export(const RunOptions& options, Reporter& report);
