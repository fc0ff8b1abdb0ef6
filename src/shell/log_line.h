#pragma once

#include <cstddef>
#include <string>

#include "protocol/line_sink.h"

class CVX418Dlg;

inline constexpr std::size_t kTraceBufferSize = 256;

// Appends one line (cut at 255 characters, then CR LF) to the dialog's Log pane and scrolls to
// it. Any thread; lines from concurrent callers are never lost, split or reordered per caller.
// A null dialog drops the line.
void LogLine(CVX418Dlg* dialog, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Composes "time stamp + message + CR LF" (at most 255 characters) into TraceBuffer and writes
// it to standard error; never to the Log pane.
void TraceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A copy of the latest trace line.
std::string TraceBufferText();

// The core's LineSink bound to the Log pane of MainDialog and to TraceLine.
LineSink& MainDialogLineSink();
