#include "protocol/messages.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "protocol/replies.h"

namespace {

void CopyUnit(const DeviceRecord& unit, std::uint8_t* ipAt, std::uint8_t* macAt) {
    std::memcpy(ipAt, unit.Ip.data(), unit.Ip.size());
    std::memcpy(macAt, unit.Mac.data(), unit.Mac.size());
}

struct ReplyLine {
    std::uint16_t messageClass;
    std::uint16_t code;
    std::string_view text;
};

constexpr std::array<ReplyLine, 10> kReplyLines{{
    {kConnectionReplyClass, 1, "Succeeded in adding the Receiver."},
    {kConnectionReplyClass, 2, "Failed to add the Receiver."},
    {kConnectionReplyClass, 3, "Succeeded in deleting the Receiver."},
    {kConnectionReplyClass, 4, "Failed to delete the Receiver."},
    {kConfigurationReplyClass, 1, "Succeeded in updating device's name."},
    {kConfigurationReplyClass, 2, "Failed to update device's name."},
    {kConfigurationReplyClass, 3,
     "Succeeded in updating device's IP address. Please wait 3 seconds to refresh"},
    {kConfigurationReplyClass, 4, "Failed to update device's IP address."},
    {kConfigurationReplyClass, 5,
     "Succeeded in updating device's topology mode. Please wait 3 seconds to refresh"},
    {kConfigurationReplyClass, 6, "Failed to update device's topology mode."},
}};

}  // namespace

void BuildConfigBlock(const DeviceRecord& unit, ConfigBlock& block) {
    CopyUnit(unit, block.data() + kConfigUnitIpOffset, block.data() + kConfigUnitMacOffset);
}

void BuildConnectionBlock(const DeviceRecord& addressed, const DeviceRecord& other,
                          ConnectionBlock& block) {
    CopyUnit(other, block.data() + kConnectionOtherIpOffset,
             block.data() + kConnectionOtherMacOffset);
    CopyUnit(addressed, block.data() + kConnectionAddressedIpOffset,
             block.data() + kConnectionAddressedMacOffset);
}

void BuildConfigBlock(DeviceTable& table, const std::string& macText, ConfigBlock& block) {
    BuildConfigBlock(table.RecordByMac(macText), block);
}

void BuildConnectionBlock(DeviceTable& table, const std::string& addressedMacText,
                          const std::string& otherMacText, ConnectionBlock& block) {
    const DeviceRecord other = table.RecordByMac(otherMacText);
    const DeviceRecord addressed = table.RecordByMac(addressedMacText);
    BuildConnectionBlock(addressed, other, block);
}

void SetTopologyMode(ConfigBlock& block, std::uint16_t mode) {
    std::memcpy(block.data() + kConfigModeOffset, &mode, sizeof mode);
}
std::uint16_t TopologyMode(const ConfigBlock& block) {
    std::uint16_t mode = 0;
    std::memcpy(&mode, block.data() + kConfigModeOffset, sizeof mode);
    return mode;
}
void SetNewIpAddress(ConfigBlock& block, const Ipv4Bytes& ip) {
    std::memcpy(block.data() + kConfigNewIpOffset, ip.data(), ip.size());
}
void SetNewName(ConfigBlock& block, std::string_view name) {
    const std::size_t length = std::min(name.size(), kConfigNameSize);
    std::memcpy(block.data() + kConfigNameOffset, name.data(), length);
}
void SetSelector(ConnectionBlock& block, std::uint16_t selector) {
    std::memcpy(block.data() + kConnectionSelectorOffset, &selector, sizeof selector);
}
std::uint16_t Selector(const ConnectionBlock& block) {
    std::uint16_t selector = 0;
    std::memcpy(&selector, block.data() + kConnectionSelectorOffset, sizeof selector);
    return selector;
}

std::optional<std::string_view> ReplyLogText(std::uint16_t messageClass, std::uint16_t code) {
    for (const auto& line : kReplyLines) {
        if (line.messageClass == messageClass && line.code == code) {
            return line.text;
        }
    }
    return std::nullopt;
}

bool HandleCapturedFrame(const std::uint8_t* frame, std::size_t capturedLength, DeviceTable& table,
                         LineSink& sink, const MacBytes& station) {
    if (frame == nullptr || capturedLength < kMinReplyLength) {
        return false;
    }
    if (ReadBe16(frame + kTfdpMagicOffset) != kTfdpMagic) {
        return false;  // by far the common case: any other traffic on the segment
    }
    const std::uint16_t messageClass = ReadBe16(frame + kTfdpClassOffset);
    const std::uint16_t code = ReadBe16(frame + kTfdpCodeOffset);
    if (messageClass == kDiscoveryReplyClass) {
        if (code == kDiscoveryRecordCode && capturedLength >= kMinDiscoveryReplyLength) {
            table.StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize>(
                                            frame + kTfdpDataOffset, kDeviceRecordSize),
                                        sink);
        }
        return false;
    }
    if (const auto text = ReplyLogText(messageClass, code)) {
        sink.Log(*text);
    }
    const auto verdict = VerdictOf(messageClass, code);
    // Another station's refusal says nothing about the change this station is waiting on.
    if (!verdict || !std::equal(station.begin(), station.end(), frame + kEthDestMacOffset)) {
        return false;
    }
    MacBytes source{};
    std::memcpy(source.data(), frame + kEthSourceMacOffset, kMacSize);
    return table.SettleAnswer(source, verdict->operation, verdict->accepted);
}
