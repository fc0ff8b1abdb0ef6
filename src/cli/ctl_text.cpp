#include "cli/ctl_text.h"

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7f;
constexpr unsigned char kFirstAfterC1 = 0xa0;

void AppendLatin1(std::string& out, unsigned char b) {
    if (b < 0x80) {
        out += static_cast<char>(b);
        return;
    }
    out += static_cast<char>(0xc0 | (b >> 6));
    out += static_cast<char>(0x80 | (b & 0x3f));
}

char FoldAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        AppendLatin1(out, static_cast<unsigned char>(c));
    }
    return out;
}

std::string DisplayText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        const bool control = b < kFirstPrintable || (b >= kDelete && b < kFirstAfterC1);
        AppendLatin1(out, control ? static_cast<unsigned char>('?') : b);
    }
    return out;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}
