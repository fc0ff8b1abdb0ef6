#pragma once

// What `assign` gives each unit, decided on one discovery before anything is sent: the units
// chosen (by kind, current name or address, MAC) in MAC order or in the order of a file of
// MACs, each a name from a pattern with a running number and the next free address of a range.
// What cannot be kept (a name the rule refuses, names that collide, a range that runs out) is
// refused with every reason.

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "protocol/device_table.h"
#include "protocol/installation_checks.h"

// "RX{n:02}": the text around one {n}, or {n:0W} for the number zero-padded to W digits.
struct NamePattern {
    std::string prefix;
    std::string suffix;
    bool numbered = false;  // without {n} every unit gets the same name
    int width = 0;          // 0: the number's own digits
    std::string Name(std::int64_t number) const;
};
// Nothing and why for any other brace, or {n} twice.
std::optional<NamePattern> ParseNamePattern(const std::string& text, std::string& error);

// START or START-END, both accepted addresses, END not below START.
struct AddressRange {
    Ipv4Bytes start{};
    std::optional<Ipv4Bytes> end;
};
std::optional<AddressRange> ParseAddressRange(const std::string& text, std::string& error);

// Which units: each criterion given must hold (one of its values, for a repeated one).
struct UnitChoice {
    bool receivers = false;
    bool transmitters = false;
    std::vector<std::string> names;  // --where name=TEXT, any case
    std::vector<Ipv4Bytes> ips;      // --where ip=A.B.C.D
    std::vector<MacBytes> macs;      // MACs on the command line
    // --order FILE: these first, in the file's order; they must all be chosen. Alone, they are
    // the choice.
    std::vector<MacBytes> order;
    std::string orderFile;  // for messages
    bool HasCriteria() const;
};
// Without criteria and without --order nothing is chosen.
inline constexpr char kNoChoiceText[] =
    "choose the units: --receivers, --transmitters, --where, MACs or --order";
// "name=TEXT" or "ip=A.B.C.D" added to choice; false and why for anything else.
bool AddWhere(const std::string& text, UnitChoice& choice, std::string& error);

// A thousand MACs are 18 KiB: a larger file is not a list of units.
inline constexpr std::size_t kMaxOrderFileBytes = 1024 * 1024;
// One MAC a line in any spelling UNIT takes, '#' comments, blank lines; no MAC twice.
std::optional<std::vector<MacBytes>> ReadMacOrder(std::istream& in, std::string& error);

struct AssignRequest {
    UnitChoice choice;
    std::optional<NamePattern> names;  // nothing: names stay
    std::int64_t first = 1;
    std::optional<AddressRange> addresses;  // nothing: addresses stay
    StationSubnet station;
    // Addresses past the station's subnet (an END stays a bound), and names that units not
    // being assigned have too.
    bool force = false;
};

struct AssignedUnit {
    DeviceRecord before;
    std::string name;  // as the unit will hold it (upper case), UTF-8
    Ipv4Bytes ip{};
};

struct Assignment {
    std::vector<AssignedUnit> units;  // in the order chosen
    std::vector<Ipv4Bytes> spares;    // a free address of the range to step aside to
    std::vector<std::string> notes;   // for people: how the order was made
    int status = 0;                   // not 0: refused (a CtlExit), why in error and details
    std::string error;
    std::vector<std::string> details;
};

Assignment ComputeAssignment(const std::vector<DeviceRecord>& devices,
                             const AssignRequest& request);
