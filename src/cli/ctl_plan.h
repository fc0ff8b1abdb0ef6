#pragma once

// What `apply` does to make the units match an installation file, in a safe order: names,
// then addresses (a unit moves to an address only once its holder has left it), then modes
// (which drop attachments), then the attachments. Each unit's own fields are set with the
// requests the units take, played on a model of the units that changes as the window's table
// does (request_effects.h): a unicast Transmitter's wrong slots are emptied from the last one
// down (so no backup moves up) and links that should be empty are cleared; then Receivers are
// linked to multicast Transmitters, a unicast Transmitter's main Receiver is set (after any
// Receiver whose own link should name it without being its main), and its backups last. The
// plan is known to reach the file on the model before anything is sent; units that behave
// otherwise are read back and planned for again.

#include <optional>
#include <string>
#include <vector>

#include "cli/ctl_install.h"
#include "cli/ctl_operations.h"
#include "cli/ctl_session.h"

struct PlanStep {
    OperationInput input;
    MacBytes unit{};                // the unit, or the Transmitter of attach and detach
    std::optional<MacBytes> other;  // the Receiver of attach and detach
};

struct Plan {
    std::vector<PlanStep> steps;
    std::vector<MacBytes> missing;      // units of the file that did not answer
    std::vector<std::string> skipped;   // changes left out: a unit they need did not answer
    std::vector<std::string> problems;  // what cannot be done; nothing is sent when there is any
};

// spares: free addresses where a unit may step aside when addresses go round in a circle
// (each is used only while nobody holds it and no unit of the file wants it); without them a
// circle is a problem.
Plan ComputePlan(const Installation& installation, const std::vector<DeviceRecord>& current,
                 const std::vector<Ipv4Bytes>& spares = {});

// One field of a unit where the units and the file differ: name, ip, kind, mode, main,
// backup1, backup2 or transmitter (a Receiver's own link, also as a multicast Transmitter's
// "receivers" want it), each value as the file writes it.
struct FieldDifference {
    MacBytes unit{};
    std::string field;
    Json file;
    Json units;
};
// Every difference, unit by unit in the file's order; units that did not answer are left out.
std::vector<FieldDifference> InstallationDifferences(const Installation& installation,
                                                     const UnitRecords& units);

// True when every unit of the file among units is as the file says; difference names the
// first one that is not.
bool InstallationHolds(const Installation& installation, const UnitRecords& units,
                       std::string* difference);

// The units as the step leaves them, as the window's table records the request.
void ApplyStep(const PlanStep& step, std::vector<DeviceRecord>& units);
