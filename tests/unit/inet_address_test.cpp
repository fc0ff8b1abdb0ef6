#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "platform/inet_address.h"

namespace {

// The address in memory order, as the parser hands it back (network byte order).
std::array<std::uint8_t, 4> Bytes(std::uint32_t address) {
    std::array<std::uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &address, bytes.size());
    return bytes;
}

using Quad = std::array<std::uint8_t, 4>;

TEST(InetAddr, AcceptsTheDottedForms) {
    EXPECT_EQ(Bytes(inet_addr("192.168.1.20")), (Quad{192, 168, 1, 20}));
    EXPECT_EQ(Bytes(inet_addr("0.0.0.0")), (Quad{0, 0, 0, 0}));
    // Short forms: the last number fills the remaining bytes.
    EXPECT_EQ(Bytes(inet_addr("10.1")), (Quad{10, 0, 0, 1}));
    EXPECT_EQ(Bytes(inet_addr("10.1.258")), (Quad{10, 1, 1, 2}));
    EXPECT_EQ(Bytes(inet_addr("3232235777")), (Quad{192, 168, 1, 1}));
    // Octal and hexadecimal numbers.
    EXPECT_EQ(Bytes(inet_addr("192.168.001.010")), (Quad{192, 168, 1, 8}));
    EXPECT_EQ(Bytes(inet_addr("0xC0.0xa8.0X1.0x14")), (Quad{192, 168, 1, 20}));
    // A blank ends the address, whatever follows.
    EXPECT_EQ(Bytes(inet_addr("1.2.3.4 junk")), (Quad{1, 2, 3, 4}));
    EXPECT_EQ(Bytes(inet_addr("1.2.3.4\t")), (Quad{1, 2, 3, 4}));
}

TEST(InetAddr, RefusesWhatIsNoAddress) {
    for (const char* text : {"", " 1.2.3.4", "192.168.1.256", "a.b.c.d", "1.2.3.4.5", "1..2",
                             "1.2.3.", "08", "1.2.3.09", "0x", "1.2.3.4x", "4294967296", "256.1",
                             "1.65536.1", "1.2.-3.4", "99999999999999999999"}) {
        EXPECT_EQ(inet_addr(text), INADDR_NONE_VALUE) << '"' << text << '"';
    }
    EXPECT_EQ(inet_addr(nullptr), INADDR_NONE_VALUE);
    // Valid, but indistinguishable from the error value.
    EXPECT_EQ(inet_addr("255.255.255.255"), INADDR_NONE_VALUE);
}

}  // namespace
