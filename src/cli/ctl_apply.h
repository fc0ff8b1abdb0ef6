#pragma once

// `apply FILE`: makes the units match an installation file (ctl_install.h) by the plan of
// ctl_plan.h, each step sent, confirmed and read back like a single change, then the whole
// installation read back. Done only when it matches; units of the file that do not answer are
// reported, never invented.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/ctl_adapter.h"
#include "cli/ctl_commands.h"
#include "cli/ctl_install.h"
#include "cli/ctl_report.h"

int Apply(const RunOptions& options, Reporter& report);

// What the units are to match, and how messages name it ("the units match the file").
struct ApplyTarget {
    const Installation& installation;
    std::string subject = "the file";
    std::vector<Ipv4Bytes> spares;  // where units may step aside (ComputePlan)
};
// Apply on units the session has discovered: plans target, prints the plan, carries each step
// out (not with --dry-run) and reads the units back. Returns apply's exit status.
int ApplyInstallation(const RunOptions& options, Reporter& report, CtlSession& session,
                      const ApplyTarget& target);

// The installation file of options and the adapter, discovered until every unit the file
// concerns has answered (or the wait ended).
struct FileRun {
    Installation installation;
    std::unique_ptr<AdapterRunScope> scope;
};
// Nothing when the file cannot be read or the adapter not used; the failure is reported and
// status set.
std::optional<FileRun> DiscoverForFile(const RunOptions& options, Reporter& report, int& status);
