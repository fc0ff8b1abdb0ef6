#pragma once

#include <string_view>

// The core's only way to reach the Log pane and the trace line, so that it stays free of Qt.
// Implementations must accept calls from any thread.
class LineSink {
public:
    virtual ~LineSink() = default;
    // One line for the user; the text carries no line terminator.
    virtual void Log(std::string_view text) = 0;
    // One diagnostic line; the text carries no line terminator.
    virtual void Trace(std::string_view text) = 0;
};
