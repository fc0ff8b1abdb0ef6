#pragma once

// The installation file: every unit of a venue keyed by MAC, with its name, address, kind, mode
// and Receivers, as `export` writes it and `apply` reads it.
//
// {"format": 1, "kind": "vx418-installation", "adapter": "eth0", "units": {
//    "02:18:00:00:01:01": {"name": "HALL", "ip": "198.18.1.11", "kind": "transmitter",
//                          "mode": "multicast", "receivers": ["02:18:00:00:02:01"]},
//    "02:18:00:00:01:02": {"name": "STAGE", "ip": "198.18.1.12", "kind": "transmitter",
//                          "mode": "unicast", "main": "02:18:00:00:02:03", "backup1": null,
//                          "backup2": null},
//    "02:18:00:00:02:01": {"name": "FOYER", "ip": "198.18.1.21", "kind": "receiver",
//                          "transmitter": "02:18:00:00:01:01"}}}
//
// A Transmitter's entry says which Receivers it has. A Receiver's "transmitter" must agree with
// that; it decides alone only for a Transmitter that is not in the file (the Receiver stays
// with it) or when null (the Receiver is free).

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "cli/ctl_output.h"
#include "protocol/device_table.h"
#include "protocol/operation_rules.h"

inline constexpr char kInstallationKind[] = "vx418-installation";

struct InstalledUnit {
    MacBytes mac{};
    std::string name;  // UTF-8, as in the file
    Ipv4Bytes ip{};
    bool transmitter = false;
    std::optional<Topology> mode;  // null in the file: left as it is
    // Unicast: main, backup 1, backup 2 (nothing: the slot is empty).
    std::array<std::optional<MacBytes>, 3> slots;
    std::vector<MacBytes> receivers;  // multicast
    // A Receiver's "transmitter": absent (outer nullopt), null, or a MAC.
    std::optional<std::optional<MacBytes>> transmitterOf;
};

struct Installation {
    std::vector<InstalledUnit> units;  // in the file's order
    const InstalledUnit* Find(const MacBytes& mac) const;
};

// The installation as the units describe themselves.
Json InstallationJson(const std::vector<DeviceRecord>& devices, const std::string& adapter);

// nullopt and why (naming the unit and field) when the document is not a valid installation.
std::optional<Installation> ParseInstallation(const Json& document, std::string& error);
