#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// The interface's current hardware address (the driver's "current address" query).
std::optional<std::array<std::uint8_t, 6>> QueryInterfaceMac(const std::string& interfaceName);
