#pragma once

// What is wrong with the units as they describe themselves: addresses that collide or cannot
// work, shared names, links that name a silent unit or that the two ends tell differently, and
// kinds or modes this program does not know. Pure functions over the table's records:
// `vx418ctl check` reports every finding, the window logs the address errors after a Refresh.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/device_table.h"

enum class FindingSeverity { Error, Warning };

struct Finding {
    std::string code;  // stable kebab-case, e.g. "address-shared"
    FindingSeverity severity = FindingSeverity::Warning;
    std::vector<MacBytes> units;  // the units concerned, in table order
    std::string message;          // one sentence; unit names are the units' bytes
    bool operator==(const Finding&) const = default;
};

// The station's side of the segment: its IPv4 address and the adapter's prefix length. A
// prefix length of 0 (the adapter did not say) skips the subnet rules.
struct StationSubnet {
    Ipv4Bytes address{};
    std::uint8_t prefixLength = 0;
};

// "error" or "warning".
const char* SeverityText(FindingSeverity severity);

// An address as a number, its first byte highest, and back.
std::uint32_t Ipv4Value(const Ipv4Bytes& ip);
Ipv4Bytes Ipv4FromValue(std::uint32_t value);
// Why no unit can have this address, in the words of the address-unusable finding, or nothing
// when it can. The station's own address is not among them.
std::optional<std::string> AddressUnusableBecause(const Ipv4Bytes& ip,
                                                  const StationSubnet& station);
// The station's subnet from its network to its broadcast address; nothing when the prefix
// length is unknown.
struct SubnetSpan {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::string text;  // "198.18.0.0/15"
};
std::optional<SubnetSpan> StationSubnetSpan(const StationSubnet& station);

// Every finding, errors first, each group in table order.
std::vector<Finding> CheckInstallation(const std::vector<DeviceRecord>& units,
                                       const StationSubnet& station);
// Only the address errors: an address several units share, the station's own address, and one
// no unit can use (0.0.0.0, 255.255.255.255, 127/8, 224/4, the subnet's network or broadcast
// address). One finding per address.
std::vector<Finding> CheckAddresses(const std::vector<DeviceRecord>& units,
                                    const StationSubnet& station);

// The Log pane's lines for address findings: one per finding up to limit, then one that says
// how many more there are.
inline constexpr std::size_t kAddressConflictLogLimit = 8;
std::vector<std::string> AddressConflictLines(const std::vector<Finding>& findings,
                                              std::size_t limit = kAddressConflictLogLimit);
