#pragma once

// `check`: discovers like `discover` and reports what is wrong with the installation, one
// finding per problem (src/protocol/installation_checks.h). Exit 1 when any is an error.

#include "cli/ctl_commands.h"

int Check(const RunOptions& options, Reporter& report);
