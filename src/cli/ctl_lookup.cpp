#include "cli/ctl_lookup.h"

#include <algorithm>

#include "cli/ctl_text.h"
#include "views/labels.h"

namespace {

constexpr std::size_t kMacHexDigits = 12;
constexpr std::size_t kMacTextLength = 17;

}  // namespace

// Folded into the table's own text form (lower case, colons) and read by its parser.
std::optional<MacBytes> ParseMacSpelling(const std::string& text) {
    std::string canonical;
    for (const char c : text) {
        canonical += c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (canonical.size() == kMacHexDigits) {
        for (std::size_t at = 2; at < canonical.size(); at += 3) {
            canonical.insert(at, 1, ':');
        }
    } else if (canonical.size() == kMacTextLength && canonical[2] == '-') {
        std::replace(canonical.begin(), canonical.end(), '-', ':');
    }
    return ParseMacText(canonical);
}

std::optional<UnitSelector> ParseUnitSelector(const std::string& text, std::string& error) {
    if (text.empty()) {
        error = "an empty unit name";
        return std::nullopt;
    }
    UnitSelector selector{text, ParseMacSpelling(text), true};
    if (selector.mac) {
        selector.mayBeName = text.size() == kMacHexDigits;
    } else if (text.find(':') != std::string::npos) {
        error = "'" + text + "' is not a MAC address";
        return std::nullopt;
    }
    return selector;
}

UnitMatch FindUnit(const std::vector<DeviceRecord>& devices, const UnitSelector& selector) {
    if (selector.mac) {
        const auto it = std::find_if(devices.begin(), devices.end(),
                                     [&](const DeviceRecord& r) { return r.Mac == *selector.mac; });
        if (it != devices.end()) {
            return {static_cast<int>(it - devices.begin()), {}};
        }
        if (!selector.mayBeName) {
            return {-1, "no unit " + MacText(*selector.mac) + " answered the discovery"};
        }
    }
    std::vector<int> matches;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (EqualsIgnoringAsciiCase(Latin1ToUtf8(NameText(devices[i].Name)), selector.typed)) {
            matches.push_back(static_cast<int>(i));
        }
    }
    if (matches.size() == 1) {
        return {matches.front(), {}};
    }
    if (matches.empty()) {
        return {-1, "no unit named " + selector.typed + " answered the discovery"};
    }
    std::string candidates;
    for (const int i : matches) {
        candidates += (candidates.empty() ? "" : ", ") + DisplayText(DeviceLabel(devices, i));
    }
    return {-1, std::to_string(matches.size()) + " units are named " + selector.typed + ": " +
                    candidates + "; name one by its MAC address"};
}

bool AllFoundByMac(const DeviceTable& table, const std::vector<UnitSelector>& selectors) {
    return std::all_of(selectors.begin(), selectors.end(), [&](const UnitSelector& s) {
        return s.mac && table.ContainsMac(MacText(*s.mac));
    });
}
