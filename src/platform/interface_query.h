#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// The interface's current hardware address (the driver's "current address" query). nullopt
// when the interface does not exist or has no Ethernet address.
std::optional<std::array<std::uint8_t, 6>> QueryInterfaceMac(const std::string& interfaceName);

// How an interface frames its traffic, so the adapter list can offer only the interfaces that
// carry Ethernet frames (where units can be reached).
enum class InterfaceLinkType {
    Ethernet,
    Loopback,
    Other,
};
// nullopt when no network interface has that name (for example a capture library's
// pseudo-device such as "any" or "nflog").
std::optional<InterfaceLinkType> QueryInterfaceLinkType(const std::string& interfaceName);
