#include "cli/ctl_lookup.h"

#include <algorithm>
#include <cctype>

#include "cli/ctl_text.h"
#include "views/labels.h"

namespace {

constexpr std::size_t kMacHexDigits = 12;

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Twelve hex digits, either bare or in pairs joined by one separator throughout.
std::optional<MacBytes> ParseHexPairs(const std::string& text, char separator) {
    const std::size_t expected = separator == '\0' ? kMacHexDigits : kMacHexDigits + 5;
    if (text.size() != expected) {
        return std::nullopt;
    }
    MacBytes mac{};
    std::size_t at = 0;
    for (std::size_t byte = 0; byte < mac.size(); ++byte) {
        if (byte > 0 && separator != '\0' && text[at++] != separator) {
            return std::nullopt;
        }
        const int high = HexValue(text[at]);
        const int low = HexValue(text[at + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        mac[byte] = static_cast<std::uint8_t>(high << 4 | low);
        at += 2;
    }
    return mac;
}

}  // namespace

std::optional<MacBytes> ParseMacSpelling(const std::string& text) {
    for (const char separator : {':', '-', '\0'}) {
        if (const auto mac = ParseHexPairs(text, separator)) {
            return mac;
        }
    }
    return std::nullopt;
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
