#pragma once

#include <cstdint>

inline constexpr std::uint32_t INADDR_NONE_VALUE = 0xFFFFFFFFu;

// The sockets library's dotted-address parser: INADDR_NONE_VALUE when the text is not an
// address, else the address in network byte order.
std::uint32_t inet_addr(const char* text);
