#include "protocol/operation_rules.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/inet_address.h"
#include "protocol/messages.h"

namespace {

bool IsAsciiAlnum(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Maximal runs of characters other than '.'; dots at either end or in a row give no field.
std::vector<std::string_view> DotFields(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t dot = std::min(text.find('.', start), text.size());
        if (dot > start) {
            fields.push_back(text.substr(start, dot - start));
        }
        start = dot + 1;
    }
    return fields;
}

// strtol with base 10 on the field, saturating at the 32-bit limits whatever the width of long
// here, so every platform sends the same bytes for the same text; no digits give 0.
std::int32_t DecimalField(std::string_view field) {
    const std::string copy(field);
    errno = 0;
    const long long value = std::strtoll(copy.c_str(), nullptr, 10);
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

// "0" or 1 to 3 digits without a leading zero, at most 255.
bool IsCanonicalByte(std::string_view field) {
    constexpr std::size_t kMaxDigits = 3;
    constexpr int kMaxByte = 255;
    if (field.empty() || field.size() > kMaxDigits || (field.size() > 1 && field[0] == '0') ||
        !std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    return DecimalField(field) <= kMaxByte;
}

}  // namespace

NameCheck CheckDeviceName(std::string_view typed) {
    NameCheck check;
    if (typed.size() > kDeviceNameMaxLength) {
        check.verdict = NameVerdict::TooLong;
        return check;
    }
    for (std::size_t i = 0; i < typed.size(); ++i) {
        const char c = typed[i];
        if (!IsAsciiAlnum(c)) {
            check.verdict = NameVerdict::FormatError;
            check.field = {};
            return check;
        }
        check.field[i] = static_cast<std::uint8_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return check;
}

std::optional<std::string_view> NameRefusalText(NameVerdict verdict) {
    switch (verdict) {
        case NameVerdict::TooLong:
            return kNameTooLongText;
        case NameVerdict::FormatError:
            return kNameFormatErrorText;
        case NameVerdict::Accepted:
            break;
    }
    return std::nullopt;
}

bool IsAcceptedIpText(std::string_view text) {
    const std::string copy(text);
    if (inet_addr(copy.c_str()) == INADDR_NONE_VALUE) {
        return false;
    }
    std::string_view trimmed = text;
    while (!trimmed.empty() && IsBlank(trimmed.back())) {
        trimmed.remove_suffix(1);
    }
    // Counting the dots as well: DotFields makes no field of ".." or a dot at either end.
    const std::vector<std::string_view> fields = DotFields(trimmed);
    return fields.size() == kIpv4Size &&
           std::count(trimmed.begin(), trimmed.end(), '.') == kIpv4Size - 1 &&
           std::all_of(fields.begin(), fields.end(), IsCanonicalByte);
}

std::optional<Ipv4Bytes> ParseAcceptedIpText(std::string_view text) {
    if (!IsAcceptedIpText(text)) {
        return std::nullopt;
    }
    return IpFieldsOf(text);
}

Ipv4Bytes IpFieldsOf(std::string_view text) {
    const std::vector<std::string_view> fields = DotFields(text);
    Ipv4Bytes ip{};
    for (std::size_t i = 0; i < ip.size(); ++i) {
        const std::int32_t value = i < fields.size() ? DecimalField(fields[i]) : 0;
        ip[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) & 0xffu);
    }
    return ip;
}

bool ParseIpText(ConfigBlock& block, std::string_view text) {
    SetNewIpAddress(block, IpFieldsOf(text));
    return true;
}

RequestTarget MainReceiverTarget(std::uint8_t transmitterModeLowByte,
                                 const std::string& transmitterMac,
                                 const std::string& receiverMac) {
    if (transmitterModeLowByte != kModeMulticastLowByte) {
        return {transmitterMac, receiverMac};
    }
    return {receiverMac, transmitterMac};
}

RecordTarget MainReceiverTarget(const DeviceRecord& transmitter, const DeviceRecord& receiver) {
    if (static_cast<std::uint8_t>(transmitter.Mode & 0xffu) != kModeMulticastLowByte) {
        return {transmitter, receiver};
    }
    return {receiver, transmitter};
}

RequestTarget BackupReceiverTarget(const std::string& transmitterMac,
                                   const std::string& receiverMac) {
    return {transmitterMac, receiverMac};
}

ConfigBlock NameRequestBlock(const DeviceRecord& unit, const NameField& name) {
    ConfigBlock block{};
    std::copy(name.begin(), name.end(), block.begin() + kConfigNameOffset);
    BuildConfigBlock(unit, block);
    return block;
}

ConfigBlock IpRequestBlock(const DeviceRecord& unit, const Ipv4Bytes& ip) {
    ConfigBlock block{};
    SetNewIpAddress(block, ip);
    BuildConfigBlock(unit, block);
    return block;
}

ConfigBlock TopologyRequestBlock(const DeviceRecord& unit, Topology mode) {
    ConfigBlock block{};
    BuildConfigBlock(unit, block);
    SetTopologyMode(block, static_cast<std::uint16_t>(mode));
    return block;
}

ConnectionBlock ConnectionRequestBlock(const DeviceRecord& addressed, const DeviceRecord& other,
                                       PeerSlot selector) {
    ConnectionBlock block{};
    BuildConnectionBlock(addressed, other, block);
    SetSelector(block, static_cast<std::uint16_t>(selector));
    return block;
}

ConfigBlock NameRequestBlock(DeviceTable& table, const std::string& mac, const NameField& name) {
    return NameRequestBlock(table.RecordByMac(mac), name);
}

ConfigBlock IpRequestBlock(DeviceTable& table, const std::string& mac, std::string_view ipText) {
    return IpRequestBlock(table.RecordByMac(mac), IpFieldsOf(ipText));
}

ConfigBlock TopologyRequestBlock(DeviceTable& table, const std::string& mac, Topology mode) {
    return TopologyRequestBlock(table.RecordByMac(mac), mode);
}

ConnectionBlock ConnectionRequestBlock(DeviceTable& table, const RequestTarget& target,
                                       PeerSlot selector) {
    return ConnectionRequestBlock(table.RecordByMac(target.addressed),
                                  table.RecordByMac(target.other), selector);
}
