#pragma once

// What one run of vx418ctl says. With --json it prints exactly one document on standard output,
// whatever happens (an error is {"error": {"status", "message", "details"}} in it); otherwise lines
// for people or, with --terse, tab-separated fields. Errors always also go to standard error, one
// line each; -v adds time-stamped trace lines there. On a terminal a status line there shows
// how far a long run has come.

#include <chrono>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "protocol/line_sink.h"

struct OutputOptions {
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    bool terse = false;
    bool terminal = false;  // standard error is a terminal: a status line may show progress
};

class Reporter {
  public:
    using Json = nlohmann::ordered_json;

    Reporter(const OutputOptions& options, std::ostream& out, std::ostream& err);

    const OutputOptions& Options() const { return options_; }
    // The run's document: {"format": 1, "command": ...} and what the command adds.
    Json& Document() { return document_; }
    void SetCommand(const std::string& command);
    // The document is the result also without --json (export to standard output).
    void ResultIsDocument() { documentIsResult_ = true; }
    // Without --json, the result is this text as it stands (export --format dot).
    void ResultIsText(std::string text) { textResult_ = std::move(text); }

    // A line of the result on standard output (not with --json; not with --quiet on success).
    void Line(const std::string& text);
    // A note for people on standard error (not with --quiet).
    void Note(const std::string& text);
    // An error: a line on standard error and the document's "error". Returns status.
    int Fail(int status, const std::string& message);
    // A line after an error's that explains it: on standard error, and in the document's
    // error as one of its "details".
    void Detail(const std::string& text);
    // How far the run has come, as one status line on standard error that each call redraws;
    // only on a terminal, and not with --json or --quiet. Any other line there clears it first.
    // text is shown as it is: names in it must already be DisplayText.
    void Progress(const std::string& text);
    // -v: "vx418ctl: +12.3 ms text" on standard error.
    void Trace(const std::string& text);
    LineSink& TraceSink() { return traceSink_; }

    // Prints the document or the lines and flushes; a failed write turns status into
    // kExitOutput. Returns the run's exit status.
    int Finish(int status);

  private:
    class TraceLines final : public LineSink {
      public:
        explicit TraceLines(Reporter& reporter) : reporter_(reporter) {}
        void Log(std::string_view line) override;
        void Trace(std::string_view line) override;

      private:
        Reporter& reporter_;
    };

    void ToErr(const std::string& line);
    // Under errMutex_: takes the status line away, so the next line starts on a clean row.
    void ClearProgressLocked();

    const OutputOptions options_;
    std::optional<std::string> textResult_;
    std::ostream& out_;
    std::ostream& err_;
    std::mutex errMutex_;  // the capture thread traces too
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    Json document_;
    std::vector<std::string> lines_;
    bool documentIsResult_ = false;
    bool progressShown_ = false;  // guarded by errMutex_
    TraceLines traceSink_{*this};
};
