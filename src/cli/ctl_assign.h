#pragma once

// `assign`: unique names and addresses for many units in one command (ctl_assign_choice.h
// decides them on one whole discovery). With -o FILE the result is written as an installation
// file to review and `apply`; otherwise apply's plan carries it out on the units discovered,
// each step confirmed and read back, and a unit only ever moves to an address nobody holds.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/ctl_assign_choice.h"
#include "cli/ctl_commands.h"
#include "cli/ctl_report.h"

struct AssignOptions {
    std::string names;       // --names PATTERN
    std::int64_t first = 1;  // --first N
    std::string addresses;   // --addresses START[-END]
    bool receivers = false;
    bool transmitters = false;
    std::vector<std::string> where;  // --where name=TEXT | ip=A.B.C.D
    std::vector<std::string> macs;
    std::string orderFile;  // --order FILE
};

int Assign(const RunOptions& options, const AssignOptions& assign, Reporter& report);

// The command line as a request (the station's subnet still to fill in); nothing and why when
// it does not make sense: nothing is opened then.
std::optional<AssignRequest> ReadAssignRequest(const AssignOptions& typed, bool force,
                                               std::string& error);
