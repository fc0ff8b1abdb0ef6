#include "cli/ctl_report.h"

#include <cstdio>

#include "cli/ctl_run.h"
#include "cli/ctl_text.h"

namespace {

constexpr char kProgram[] = "vx418ctl";
constexpr int kDocumentFormat = 1;
constexpr int kJsonIndent = 2;
// A status line longer than the terminal would wrap, and "\r" would redraw only its last row.
constexpr std::size_t kProgressWidth = 79;
constexpr char kEraseToEndOfLine[] = "\033[K";

// The first count characters of UTF-8 text, never half of one.
std::string FirstCharacters(const std::string& text, std::size_t count) {
    constexpr unsigned char kContinuationMask = 0xc0, kContinuation = 0x80;
    std::size_t at = 0;
    for (std::size_t n = 0; at < text.size() && n < count; ++n) {
        do {
            ++at;
        } while (at < text.size() &&
                 (static_cast<unsigned char>(text[at]) & kContinuationMask) == kContinuation);
    }
    return text.substr(0, at);
}

}  // namespace

Reporter::Reporter(const OutputOptions& options, std::ostream& out, std::ostream& err)
    : options_(options), out_(out), err_(err), document_{{"format", kDocumentFormat}} {}

void Reporter::SetCommand(const std::string& command) {
    document_["command"] = command;
}

void Reporter::Line(const std::string& text) {
    lines_.push_back(text);
}

void Reporter::Note(const std::string& text) {
    if (!options_.quiet) {
        ToErr(std::string(kProgram) + ": " + text);
    }
}

int Reporter::Fail(int status, const std::string& message) {
    ToErr(std::string(kProgram) + ": " + message);
    document_["error"] = {{"status", status}, {"message", message}};
    return status;
}

void Reporter::Detail(const std::string& text) {
    ToErr(std::string(kProgram) + ":   " + text);
    // A script reads the reasons from the document, not from standard error.
    if (document_.contains("error")) {
        document_["error"]["details"].push_back(text);
    }
}

void Reporter::Progress(const std::string& text) {
    if (!options_.terminal || options_.json || options_.quiet) {
        return;
    }
    const std::string line = FirstCharacters(text, kProgressWidth);
    const std::lock_guard lock(errMutex_);
    err_ << '\r' << line << kEraseToEndOfLine << std::flush;
    progressShown_ = true;
}

void Reporter::ClearProgressLocked() {
    if (progressShown_) {
        err_ << '\r' << kEraseToEndOfLine;
        progressShown_ = false;
    }
}

void Reporter::Trace(const std::string& text) {
    if (!options_.verbose) {
        return;
    }
    const std::string line = DisplayText(text);
    // Stamped under the lock, so the lines of two threads are in time order.
    const std::lock_guard lock(errMutex_);
    const std::chrono::duration<double, std::milli> since =
        std::chrono::steady_clock::now() - start_;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "+%.1f ms ", since.count());
    ClearProgressLocked();
    err_ << kProgram << ": " << stamp << line << '\n' << std::flush;
}

void Reporter::TraceLines::Log(std::string_view line) {
    reporter_.Trace(std::string(line));
}

void Reporter::TraceLines::Trace(std::string_view line) {
    reporter_.Trace(std::string(line));
}

void Reporter::ToErr(const std::string& line) {
    const std::lock_guard lock(errMutex_);
    ClearProgressLocked();
    err_ << line << '\n' << std::flush;
}

int Reporter::Finish(int status) {
    {
        const std::lock_guard lock(errMutex_);
        ClearProgressLocked();
        err_.flush();
    }
    if (options_.json || (documentIsResult_ && status == kExitDone)) {
        // Names are Latin-1 decoded, so every string is valid UTF-8; replace anyway rather than
        // throw on anything a future field might carry.
        out_ << document_.dump(kJsonIndent, ' ', false, Json::error_handler_t::replace) << '\n';
    } else if (textResult_ && status == kExitDone) {
        out_ << *textResult_;
    } else if (!options_.quiet || status != kExitDone) {
        for (const std::string& line : lines_) {
            out_ << line << '\n';
        }
    }
    out_.flush();
    if (!out_) {
        const int why = Fail(kExitOutput, "cannot write the result to standard output");
        return status == kExitDone ? why : status;
    }
    return status;
}
