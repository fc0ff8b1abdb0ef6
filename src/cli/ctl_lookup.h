#pragma once

// How a command names a unit: a MAC address in any of the usual spellings, or the unit's name
// in any case. Units store names in upper case, and a name is unique only among all the units
// that answered, so a name waits for the whole discovery while a MAC ends it early.

#include <optional>
#include <string>
#include <vector>

#include "protocol/device_table.h"

struct UnitSelector {
    std::string typed;
    // aa:bb:cc:dd:ee:ff, aa-bb-cc-dd-ee-ff or aabbccddeeff, either case.
    std::optional<MacBytes> mac;
    // Twelve hex digits may also be a unit's name: tried as a name when no unit has that MAC.
    bool mayBeName = true;
};

// Nothing (and why in error) for an empty text or one with ':' that is not a MAC.
std::optional<UnitSelector> ParseUnitSelector(const std::string& text, std::string& error);

// The MAC of any spelling above; nothing for any other text.
std::optional<MacBytes> ParseMacSpelling(const std::string& text);

struct UnitMatch {
    int index = -1;     // into the snapshot; -1 when not found or ambiguous
    std::string error;  // why, naming the candidates of an ambiguous name
};

UnitMatch FindUnit(const std::vector<DeviceRecord>& devices, const UnitSelector& selector);

// True when every selector names a unit by MAC that the table holds: the discovery may end.
bool AllFoundByMac(const DeviceTable& table, const std::vector<UnitSelector>& selectors);
