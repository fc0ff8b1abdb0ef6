#include "platform/inet_address.h"

#include <array>
#include <cstddef>
#include <cstring>

// The BSD dotted-address rules that the sockets library's parser follows: one to four numbers
// separated by dots, each decimal, octal (leading 0) or hexadecimal (leading 0x); the last
// number fills all remaining bytes (a, a.b with b 24 bits, a.b.c with c 16 bits, a.b.c.d).
// The text may end after a blank, whatever follows it.
namespace {

constexpr std::size_t kMaxParts = 4;
constexpr std::array<std::uint32_t, kMaxParts> kLastPartLimit{0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu,
                                                              0xFFu};
constexpr std::uint64_t kNumberLimit = 0xFFFFFFFFu;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int HexValue(char c) {
    if (IsDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads one number in C notation at p; false on overflow past 32 bits.
bool ReadNumber(const char*& p, std::uint64_t& value) {
    unsigned base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexValue(p[2]) >= 0) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }
    value = 0;
    for (;; ++p) {
        const int digit = HexValue(*p);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) {
            return true;
        }
        value = value * base + static_cast<unsigned>(digit);
        if (value > kNumberLimit) {
            return false;
        }
    }
}

}  // namespace

std::uint32_t inet_addr(const char* text) {
    if (text == nullptr) {
        return INADDR_NONE_VALUE;
    }
    std::array<std::uint8_t, kMaxParts> bytes{};
    std::size_t parts = 0;
    std::uint64_t value = 0;
    const char* p = text;
    for (;;) {
        if (!IsDigit(*p) || !ReadNumber(p, value)) {
            return INADDR_NONE_VALUE;
        }
        if (*p != '.') {
            break;
        }
        if (parts == kMaxParts - 1 || value > 0xFF) {
            return INADDR_NONE_VALUE;
        }
        bytes[parts++] = static_cast<std::uint8_t>(value);
        ++p;
    }
    if (*p != '\0' && !IsSpace(*p)) {
        return INADDR_NONE_VALUE;
    }
    if (value > kLastPartLimit[parts]) {
        return INADDR_NONE_VALUE;
    }
    // Network byte order: the first byte of the text is the first byte in memory.
    std::uint32_t host = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < parts; ++i) {
        host |= static_cast<std::uint32_t>(bytes[i]) << (24 - 8 * i);
    }
    const std::array<std::uint8_t, 4> wire{
        static_cast<std::uint8_t>(host >> 24), static_cast<std::uint8_t>(host >> 16),
        static_cast<std::uint8_t>(host >> 8), static_cast<std::uint8_t>(host)};
    std::uint32_t network = 0;
    std::memcpy(&network, wire.data(), wire.size());
    return network;
}
