#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

// What vx418-capture puts on the wire for its caller: the units' requests and nothing else. A
// request is one 128-byte Ethernet II frame of IPv4 (no options, not a fragment) and UDP from
// port 2098 to port 2098 carrying the TFDP magic and a request class, whose IPv4 and UDP lengths
// are those of that class's request, sent from the adapter's own MAC address.

// Why the frame may not be sent; empty when it may.
std::string_view RefusalOf(std::span<const std::uint8_t> frame,
                           const std::array<std::uint8_t, 6>& adapterMac);
