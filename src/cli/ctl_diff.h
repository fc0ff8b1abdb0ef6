#pragma once

// `diff FILE`: per unit and field, the file's value and the unit's, and the units of the file
// that did not answer. Changes nothing. Exit 0 when they match, 1 when they differ, 5 when
// units of the file are missing.

#include "cli/ctl_commands.h"
#include "cli/ctl_report.h"

int Diff(const RunOptions& options, Reporter& report);
