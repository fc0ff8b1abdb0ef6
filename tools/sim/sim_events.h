#pragma once

// The simulator's state changes as JSON lines, one flat object per line, for the tests.

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace vxsim {

struct SimUnit;

// Builds one flat JSON object: {"key":"text","key":123,...}.
class JsonLine {
  public:
    JsonLine& Str(std::string_view key, std::string_view value);
    JsonLine& Num(std::string_view key, long long value);
    JsonLine& Bool(std::string_view key, bool value);
    std::string Text() const { return body_ + "}"; }

  private:
    void Key(std::string_view key);
    std::string body_ = "{";
};

// Escapes every byte outside printable ASCII as \u00XX, so names with any bytes stay valid JSON.
std::string JsonEscape(std::string_view text);

// The "unit" event with every field of a unit's record.
JsonLine UnitEvent(const SimUnit& unit);

class EventSink {
  public:
    virtual ~EventSink() = default;
    virtual void Emit(const JsonLine& line) = 0;
};

// Writes whole lines to a stdio stream and flushes each, so a reader sees every line at once.
class StreamEventSink : public EventSink {
  public:
    explicit StreamEventSink(std::FILE* out) : out_(out) {}
    void Emit(const JsonLine& line) override;

  private:
    std::mutex mutex_;
    std::FILE* out_;
};

}  // namespace vxsim
