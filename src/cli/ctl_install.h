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
// Each field is what that unit itself reports: a Receiver's "transmitter" is its own link, a
// unicast Transmitter's "main", "backup1" and "backup2" its own slots. The two ends need not
// agree (a backup's own link may be empty or name another Transmitter). A multicast
// Transmitter names no Receiver itself: its "receivers" are the Receivers whose own link names
// it, so they must agree with those Receivers' "transmitter". A Receiver without "transmitter"
// keeps its link as it is.

#include <array>
#include <map>
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
    std::vector<MacBytes> receivers;  // multicast: the Receivers whose own link names it
    // A Receiver's own link: absent (outer nullopt: left as it is), null (empty), or a MAC.
    std::optional<std::optional<MacBytes>> transmitterOf;
};

struct Installation {
    std::vector<InstalledUnit> units;  // in the file's order
    const InstalledUnit* Find(const MacBytes& mac) const;
    // The own link the file wants for each Receiver that it says something about: its
    // "transmitter", or the multicast Transmitter that lists it (empty optional: no link).
    std::map<MacBytes, std::optional<MacBytes>> WantedLinks() const;
};

// The installation as the units describe themselves.
Json InstallationJson(const std::vector<DeviceRecord>& devices, const std::string& adapter);
// The same as a Graphviz graph: Transmitters and Receivers, an edge for each Receiver a
// multicast Transmitter feeds and each slot of a unicast one. A main slot whose Receiver's own
// link names another Transmitter, and a link that the unicast Transmitter it names does not
// return, are dashed; a slot naming a unit that did not answer points to an "UNKNOWN" node.
std::string InstallationDot(const std::vector<DeviceRecord>& devices);

// nullopt and why (naming the unit and field) when the document is not a valid installation.
std::optional<Installation> ParseInstallation(const Json& document, std::string& error);
