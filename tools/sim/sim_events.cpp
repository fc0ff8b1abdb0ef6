#include "sim_events.h"

#include "sim_units.h"

namespace vxsim {

std::string JsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b >= 0x7f) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", b);
            out += esc;
        } else {
            out += c;
        }
    }
    return out;
}

void JsonLine::Key(std::string_view key) {
    if (body_.size() > 1) {
        body_ += ',';
    }
    body_ += '"';
    body_ += key;
    body_ += "\":";
}

JsonLine& JsonLine::Str(std::string_view key, std::string_view value) {
    Key(key);
    body_ += '"';
    body_ += JsonEscape(value);
    body_ += '"';
    return *this;
}

JsonLine& JsonLine::Num(std::string_view key, long long value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Bool(std::string_view key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

JsonLine UnitEvent(const SimUnit& unit) {
    JsonLine line;
    line.Str("event", "unit")
        .Str("mac", MacString(unit.mac))
        .Str("name", unit.NameText())
        .Str("ip", Ip4String(unit.ip))
        .Num("kind", unit.kind)
        .Num("mode", unit.mode)
        .Str("peer", Ip4String(unit.peerIp))
        .Str("backup1", Ip4String(unit.backup1Ip))
        .Str("backup2", Ip4String(unit.backup2Ip))
        .Str("t1", MacString(unit.t1))
        .Str("t2", MacString(unit.t2))
        .Str("t3", MacString(unit.t3));
    return line;
}

void StreamEventSink::Emit(const JsonLine& line) {
    const std::string text = line.Text() + "\n";
    const std::lock_guard lock(mutex_);
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
}

}  // namespace vxsim
