#pragma once

// The units' side of TFDP: parsing the station's requests and building the units' replies.
// Written from the protocol's wire tables on purpose, without the station's frame builder, so
// that each side checks the other in the lab.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vxsim {

using Mac = std::array<std::uint8_t, 6>;
using Ip4 = std::array<std::uint8_t, 4>;
using Bytes = std::vector<std::uint8_t>;

namespace wire {
// Ethernet II
inline constexpr std::size_t kEthDst = 0;
inline constexpr std::size_t kEthSrc = 6;
inline constexpr std::size_t kEthType = 12;
inline constexpr std::size_t kEthHeaderLength = 14;
inline constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
inline constexpr std::size_t kMinimumEthernetFrame = 60;  // without the FCS
// IPv4, no options
inline constexpr std::size_t kIpStart = 14;
inline constexpr std::size_t kIpVersionIhl = 14;
inline constexpr std::size_t kIpTos = 15;
inline constexpr std::size_t kIpTotalLength = 16;
inline constexpr std::size_t kIpIdentification = 18;
inline constexpr std::size_t kIpFlagsFragment = 20;
inline constexpr std::size_t kIpTtl = 22;
inline constexpr std::size_t kIpProtocol = 23;
inline constexpr std::size_t kIpChecksum = 24;
inline constexpr std::size_t kIpSource = 26;
inline constexpr std::size_t kIpDestination = 30;
inline constexpr std::size_t kIpHeaderLength = 20;
inline constexpr std::uint8_t kIpVersion4Ihl5 = 0x45;
inline constexpr std::uint8_t kIpProtocolUdp = 17;
// UDP
inline constexpr std::size_t kUdpStart = 34;
inline constexpr std::size_t kUdpSourcePort = 34;
inline constexpr std::size_t kUdpDestinationPort = 36;
inline constexpr std::size_t kUdpLength = 38;
inline constexpr std::size_t kUdpChecksum = 40;
inline constexpr std::size_t kUdpHeaderLength = 8;
inline constexpr std::uint16_t kTfdpPort = 2098;
// TFDP message header
inline constexpr std::size_t kTfdpStart = 42;
inline constexpr std::size_t kTfdpMagic = 42;
inline constexpr std::size_t kTfdpFixedWord = 44;
inline constexpr std::size_t kTfdpClass = 46;
inline constexpr std::size_t kTfdpCode = 48;
inline constexpr std::size_t kTfdpDataLength = 50;  // 32-bit little-endian
inline constexpr std::size_t kTfdpData = 54;
inline constexpr std::size_t kTfdpHeaderLength = 12;
inline constexpr std::uint16_t kMagic = 0x1888;
inline constexpr std::uint16_t kFixedWord = 0x0001;
inline constexpr std::uint16_t kReplyBit = 0x8000;
inline constexpr std::uint16_t kClassDiscovery = 0x0001;
inline constexpr std::uint16_t kClassConnection = 0x0003;
inline constexpr std::uint16_t kClassConfiguration = 0x0005;
// Every request the station sends is this long, trailing filler included.
inline constexpr std::size_t kRequestFrameLength = 128;
inline constexpr std::size_t kConfigBlockLength = 32;
inline constexpr std::size_t kConnectionBlockLength = 22;
inline constexpr std::size_t kRecordLength = 66;
// ConfigBlock
inline constexpr std::size_t kCfgUnitIp = 0;
inline constexpr std::size_t kCfgUnitMac = 4;
inline constexpr std::size_t kCfgNewIp = 10;
inline constexpr std::size_t kCfgMode = 14;
inline constexpr std::size_t kCfgName = 16;
inline constexpr std::size_t kNameLength = 16;
// ConnectionBlock
inline constexpr std::size_t kConnOtherIp = 0;
inline constexpr std::size_t kConnOtherMac = 4;
inline constexpr std::size_t kConnAddressedIp = 10;
inline constexpr std::size_t kConnAddressedMac = 14;
inline constexpr std::size_t kConnSelector = 20;
// DeviceRecord
inline constexpr std::size_t kRecName = 0;
inline constexpr std::size_t kRecFirmware = 16;
inline constexpr std::size_t kRecTfdpVersion = 18;
inline constexpr std::size_t kRecReserved = 20;
inline constexpr std::size_t kRecIp = 22;
inline constexpr std::size_t kRecMac = 26;
inline constexpr std::size_t kRecKind = 32;
inline constexpr std::size_t kRecMode = 34;
inline constexpr std::size_t kRecPeerIp = 36;
inline constexpr std::size_t kRecBackup1Ip = 40;
inline constexpr std::size_t kRecBackup2Ip = 44;
inline constexpr std::size_t kRecT1Mac = 48;
inline constexpr std::size_t kRecT2Mac = 54;
inline constexpr std::size_t kRecT3Mac = 60;
}  // namespace wire

enum class Operation {
    Discovery,
    SetName,
    SetIp,
    SetMode,
    AddReceiver,
    DeleteReceiver,
    AddBackup,
};
const char* OperationName(Operation op);
std::optional<Operation> OperationFromName(const std::string& name);

struct Request {
    Operation op = Operation::Discovery;
    Mac destinationMac{};
    Mac stationMac{};
    Ip4 stationIp{};
    Ip4 destinationIp{};
    Bytes block;                 // 32 or 22 bytes; empty for discovery
    std::uint16_t selector = 0;  // connection requests: 0 main, 1/2 backup slot
};

// Either a request or the reason the frame is not one. notTfdp is set for frames that are
// simply other traffic (not UDP 2098 with the magic), as opposed to a malformed request.
struct ParseResult {
    std::optional<Request> request;
    bool notTfdp = false;
    std::string error;
};

// Checks every header field against the request tables: lengths, checksum, ports, magic,
// class/operation and data-length field.
ParseResult ParseRequest(std::span<const std::uint8_t> frame);

// Internet checksum (RFC 1071) over bytes, as a big-endian value to store.
std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes, std::uint32_t initial = 0);

struct Endpoint {
    Mac mac{};
    Ip4 ip{};
};

// One Ethernet/IPv4/UDP 2098 frame with a TFDP reply header and the given payload; padded to
// the Ethernet minimum. ipIdentification differs per frame as a real stack's would.
Bytes BuildReply(const Endpoint& unit, const Endpoint& station, std::uint16_t replyClass,
                 std::uint16_t code, std::span<const std::uint8_t> payload,
                 std::uint16_t ipIdentification);

std::uint16_t ReadBe16(std::span<const std::uint8_t> bytes, std::size_t offset);
void WriteBe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value);
std::string MacString(const Mac& mac);
std::string Ip4String(const Ip4& ip);
std::optional<Mac> ParseMac(const std::string& text);
std::optional<Ip4> ParseIp4(const std::string& text);

}  // namespace vxsim
