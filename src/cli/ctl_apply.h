#pragma once

// `apply FILE`: makes the units match an installation file (ctl_install.h) by the plan of
// ctl_plan.h, each step sent, confirmed and read back like a single change, then the whole
// installation read back. Done only when it matches; units of the file that do not answer are
// reported, never invented.

#include "cli/ctl_commands.h"
#include "cli/ctl_report.h"

int Apply(const RunOptions& options, Reporter& report);
