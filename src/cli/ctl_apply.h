#pragma once

// `apply FILE`: makes the units match an installation file (ctl_install.h) by the plan of
// ctl_plan.h, each step sent, confirmed and read back like a single change, then the whole
// installation read back. Done only when it matches; units of the file that do not answer are
// reported, never invented.

#include <optional>
#include <string>
#include <vector>

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

// The installation file at path; nothing and why when it cannot be read or is not valid.
std::optional<Installation> ReadInstallation(const std::string& path, std::string& error);
// Every unit of the file, the Receivers it names and the units the answered ones name have
// answered: a discovery for the file may end.
bool AllConcernedAnswered(const Installation& installation, const DeviceTable& table);
