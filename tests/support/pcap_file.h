#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

// Writes frames as a classic libpcap capture file (Ethernet link type), so that outside tools
// can decode what the program builds.
inline bool WritePcapFile(const std::string& path,
                          const std::vector<std::vector<std::uint8_t>>& frames) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const auto put32 = [&](std::uint32_t v) {
        const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
        out.write(b, 4);
    };
    const auto put16 = [&](std::uint16_t v) {
        const char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
        out.write(b, 2);
    };
    constexpr std::uint32_t kMagic = 0xa1b2c3d4;  // microsecond time stamps
    constexpr std::uint32_t kLinkTypeEthernet = 1;
    constexpr std::uint32_t kSnapLength = 65535;
    put32(kMagic);
    put16(2);  // version 2.4
    put16(4);
    put32(0);  // GMT offset
    put32(0);  // time-stamp accuracy
    put32(kSnapLength);
    put32(kLinkTypeEthernet);
    std::uint32_t second = 1;
    for (const auto& frame : frames) {
        put32(second++);
        put32(0);
        put32(static_cast<std::uint32_t>(frame.size()));  // captured
        put32(static_cast<std::uint32_t>(frame.size()));  // on the wire
        out.write(reinterpret_cast<const char*>(frame.data()),
                  static_cast<std::streamsize>(frame.size()));
    }
    return static_cast<bool>(out);
}
