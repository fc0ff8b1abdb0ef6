#include "shell/log_line.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

#include "shell/cvx418_dlg.h"
#include "shell/shell_state.h"

namespace {

constexpr std::size_t kLineBufferSize = 256;  // 255 characters and the terminating NUL
constexpr const char* kLineEnd = "\r\n";
constexpr const char* kTimeStampFormat = "%d-%02d-%02d %02d:%02d:%02d  ";
constexpr int kYearBase = 1900;

// Formats into a zeroed buffer of kLineBufferSize; longer text is cut at 255 characters.
std::string FormatCut(const char* format, va_list values) {
    char buffer[kLineBufferSize] = {};
    std::vsnprintf(buffer, sizeof buffer, format, values);
    return buffer;
}

// TraceBuffer is written from several threads. Never destroyed: detached workers and the
// capture thread may trace while the process exits.
std::mutex& TraceMutex() {
    static auto* const mutex = new std::mutex;
    return *mutex;
}

// The latest trace line: time stamp, message, CR LF; at most 255 characters and a NUL.
// Read it through TraceBufferText(), which takes the lock.
char TraceBuffer[kTraceBufferSize] = {};

// Texts handed in by length; the line is cut at 255 characters anyway.
int PrintLength(std::string_view text) {
    return static_cast<int>(std::min(text.size(), kLineBufferSize - 1));
}

}  // namespace

void LogLine(CVX418Dlg* dialog, const char* format, ...) {
    va_list values;
    va_start(values, format);
    std::string line = FormatCut(format, values);
    va_end(values);
    if (dialog == nullptr) {
        return;
    }
    line += kLineEnd;
    // One append of the whole line on the window thread: concurrent callers cannot split or
    // lose lines, and a worker never waits for a busy window.
    dialog->AppendLogText(std::move(line));
}

void TraceLine(const char* format, ...) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[kLineBufferSize] = {};
    std::snprintf(stamp, sizeof stamp, kTimeStampFormat, local.tm_year + kYearBase,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);

    va_list values;
    va_start(values, format);
    const std::string message = FormatCut(format, values) + kLineEnd;
    va_end(values);

    std::string composed = std::string(stamp) + message;
    if (composed.size() > kTraceBufferSize - 1) {
        composed.resize(kTraceBufferSize - 1);
    }

    const std::lock_guard lock(TraceMutex());
    std::snprintf(TraceBuffer, sizeof TraceBuffer, "%s", composed.c_str());
    // Diagnostics for whoever runs the program from a terminal; never the Log pane.
    std::string shown = composed;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) {
        shown.pop_back();
    }
    std::fprintf(stderr, "%s\n", shown.c_str());
}

std::string TraceBufferText() {
    const std::lock_guard lock(TraceMutex());
    return TraceBuffer;
}

namespace {

class MainDialogSink final : public LineSink {
  public:
    void Log(std::string_view text) override {
        LogLine(MainDialog.load(), "%.*s", PrintLength(text), text.data());
    }
    void Trace(std::string_view text) override {
        TraceLine("%.*s", PrintLength(text), text.data());
    }
};

}  // namespace

LineSink& MainDialogLineSink() {
    // Never destroyed: the capture thread may still hand it a reply while the process exits.
    static auto* const sink = new MainDialogSink;
    return *sink;
}
