#include "sim_wire.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vxsim {

using namespace wire;

namespace {

struct RequestShape {
    std::uint16_t cls;
    std::uint16_t code;
    Operation op;
    std::size_t blockLength;  // 0 for discovery
};

// The request catalogue. The add-backup request shares add-receiver's class and code and is
// told apart by its selector.
constexpr std::array<RequestShape, 6> kRequestShapes{{
    {kClassDiscovery, 0x0001, Operation::Discovery, 0},
    {kClassConfiguration, 0x0001, Operation::SetName, kConfigBlockLength},
    {kClassConfiguration, 0x0002, Operation::SetIp, kConfigBlockLength},
    {kClassConfiguration, 0x0003, Operation::SetMode, kConfigBlockLength},
    {kClassConnection, 0x0001, Operation::AddReceiver, kConnectionBlockLength},
    {kClassConnection, 0x0002, Operation::DeleteReceiver, kConnectionBlockLength},
}};

// A discovery request's datagram ends right behind the data-length field.
constexpr std::size_t kDiscoveryTfdpLength = kTfdpHeaderLength;

template <std::size_t N>
std::array<std::uint8_t, N> Take(std::span<const std::uint8_t> bytes, std::size_t offset) {
    std::array<std::uint8_t, N> out{};
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), N, out.begin());
    return out;
}

std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

void WriteLe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

ParseResult Fail(std::string why) {
    ParseResult r;
    r.error = std::move(why);
    return r;
}

ParseResult NotTfdp() {
    ParseResult r;
    r.notTfdp = true;
    return r;
}

// Checks the TFDP header and picks the request shape, or says why it does not fit.
std::optional<RequestShape> MatchShape(std::span<const std::uint8_t> frame, std::string& error) {
    if (ReadBe16(frame, kTfdpFixedWord) != kFixedWord) {
        error = "fixed word is not 0001";
        return std::nullopt;
    }
    const std::uint16_t cls = ReadBe16(frame, kTfdpClass);
    const std::uint16_t code = ReadBe16(frame, kTfdpCode);
    for (const RequestShape& shape : kRequestShapes) {
        if (shape.cls == cls && shape.code == code) {
            return shape;
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "unknown class %04x operation %04x", cls, code);
    error = text;
    return std::nullopt;
}

}  // namespace

const char* OperationName(Operation op) {
    switch (op) {
        case Operation::Discovery:
            return "discovery";
        case Operation::SetName:
            return "set-name";
        case Operation::SetIp:
            return "set-ip";
        case Operation::SetMode:
            return "set-mode";
        case Operation::AddReceiver:
            return "add-receiver";
        case Operation::DeleteReceiver:
            return "delete-receiver";
        case Operation::AddBackup:
            return "add-backup";
    }
    return "?";
}

std::optional<Operation> OperationFromName(const std::string& name) {
    for (Operation op :
         {Operation::Discovery, Operation::SetName, Operation::SetIp, Operation::SetMode,
          Operation::AddReceiver, Operation::DeleteReceiver, Operation::AddBackup}) {
        if (name == OperationName(op)) {
            return op;
        }
    }
    return std::nullopt;
}

std::uint16_t ReadBe16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

void WriteBe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value >> 8);
    bytes[offset + 1] = static_cast<std::uint8_t>(value & 0xff);
}

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes, std::uint32_t initial) {
    std::uint32_t sum = initial;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    }
    if (i < bytes.size()) {
        sum += static_cast<std::uint32_t>(bytes[i] << 8);
    }
    while (sum >> 16) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum & 0xffff);
}

ParseResult ParseRequest(std::span<const std::uint8_t> frame) {
    if (frame.size() < kTfdpStart + kTfdpHeaderLength ||
        ReadBe16(frame, kEthType) != kEtherTypeIpv4 || frame[kIpProtocol] != kIpProtocolUdp ||
        ReadBe16(frame, kUdpDestinationPort) != kTfdpPort ||
        ReadBe16(frame, kTfdpMagic) != kMagic) {
        return NotTfdp();
    }
    const std::uint16_t cls = ReadBe16(frame, kTfdpClass);
    if (cls & kReplyBit) {
        return NotTfdp();  // another unit's reply, or our own seen on the wire
    }
    if (frame.size() != kRequestFrameLength) {
        return Fail("frame is " + std::to_string(frame.size()) + " bytes, not 128");
    }
    if (frame[kIpVersionIhl] != kIpVersion4Ihl5) {
        return Fail("IPv4 version/header length is not 45");
    }
    if (InternetChecksum(frame.subspan(kIpStart, kIpHeaderLength)) != 0) {
        return Fail("bad IPv4 header checksum");
    }
    if (ReadBe16(frame, kUdpSourcePort) != kTfdpPort) {
        return Fail("UDP source port is not 2098");
    }
    std::string error;
    const std::optional<RequestShape> shape = MatchShape(frame, error);
    if (!shape) {
        return Fail(error);
    }
    const std::size_t tfdpLength =
        shape->blockLength == 0 ? kDiscoveryTfdpLength : kTfdpHeaderLength + shape->blockLength;
    const std::size_t udpLength = kUdpHeaderLength + tfdpLength;
    if (ReadBe16(frame, kUdpLength) != udpLength) {
        return Fail("UDP length " + std::to_string(ReadBe16(frame, kUdpLength)) + ", expected " +
                    std::to_string(udpLength));
    }
    if (ReadBe16(frame, kIpTotalLength) != kIpHeaderLength + udpLength) {
        return Fail("IPv4 total length " + std::to_string(ReadBe16(frame, kIpTotalLength)) +
                    ", expected " + std::to_string(kIpHeaderLength + udpLength));
    }
    if (shape->blockLength != 0 && ReadLe32(frame, kTfdpDataLength) != shape->blockLength) {
        return Fail("data length field " + std::to_string(ReadLe32(frame, kTfdpDataLength)) +
                    ", expected " + std::to_string(shape->blockLength));
    }

    Request req;
    req.op = shape->op;
    req.destinationMac = Take<6>(frame, kEthDst);
    req.stationMac = Take<6>(frame, kEthSrc);
    req.stationIp = Take<4>(frame, kIpSource);
    req.destinationIp = Take<4>(frame, kIpDestination);
    const auto blockBegin = frame.begin() + static_cast<std::ptrdiff_t>(kTfdpData);
    req.block.assign(blockBegin, blockBegin + static_cast<std::ptrdiff_t>(shape->blockLength));

    if (req.op == Operation::Discovery) {
        if (req.destinationMac != Mac{0xff, 0xff, 0xff, 0xff, 0xff, 0xff} ||
            req.destinationIp != Ip4{0xff, 0xff, 0xff, 0xff}) {
            return Fail("discovery is not broadcast");
        }
    } else if (shape->blockLength == kConfigBlockLength) {
        if (Take<6>(req.block, kCfgUnitMac) != req.destinationMac ||
            Take<4>(req.block, kCfgUnitIp) != req.destinationIp) {
            return Fail("configuration block does not name the frame's destination");
        }
    } else {
        if (Take<6>(req.block, kConnAddressedMac) != req.destinationMac ||
            Take<4>(req.block, kConnAddressedIp) != req.destinationIp) {
            return Fail("connection block does not name the frame's destination");
        }
        req.selector = ReadBe16(req.block, kConnSelector);
        if (req.op == Operation::AddReceiver && req.selector != 0) {
            req.op = Operation::AddBackup;
        }
    }
    ParseResult result;
    result.request = std::move(req);
    return result;
}

Bytes BuildReply(const Endpoint& unit, const Endpoint& station, std::uint16_t replyClass,
                 std::uint16_t code, std::span<const std::uint8_t> payload,
                 std::uint16_t ipIdentification) {
    const std::size_t udpLength = kUdpHeaderLength + kTfdpHeaderLength + payload.size();
    const std::size_t ipLength = kIpHeaderLength + udpLength;
    Bytes frame(std::max(kEthHeaderLength + ipLength, kMinimumEthernetFrame), 0);
    std::span<std::uint8_t> f(frame);

    std::copy(station.mac.begin(), station.mac.end(), frame.begin() + kEthDst);
    std::copy(unit.mac.begin(), unit.mac.end(), frame.begin() + kEthSrc);
    WriteBe16(f, kEthType, kEtherTypeIpv4);

    frame[kIpVersionIhl] = kIpVersion4Ihl5;
    WriteBe16(f, kIpTotalLength, static_cast<std::uint16_t>(ipLength));
    WriteBe16(f, kIpIdentification, ipIdentification);
    frame[kIpTtl] = 64;
    frame[kIpProtocol] = kIpProtocolUdp;
    std::copy(unit.ip.begin(), unit.ip.end(), frame.begin() + kIpSource);
    std::copy(station.ip.begin(), station.ip.end(), frame.begin() + kIpDestination);
    WriteBe16(f, kIpChecksum, InternetChecksum(f.subspan(kIpStart, kIpHeaderLength)));

    WriteBe16(f, kUdpSourcePort, kTfdpPort);
    WriteBe16(f, kUdpDestinationPort, kTfdpPort);
    WriteBe16(f, kUdpLength, static_cast<std::uint16_t>(udpLength));

    WriteBe16(f, kTfdpMagic, kMagic);
    WriteBe16(f, kTfdpFixedWord, kFixedWord);
    WriteBe16(f, kTfdpClass, replyClass);
    WriteBe16(f, kTfdpCode, code);
    WriteLe32(f, kTfdpDataLength, static_cast<std::uint32_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), frame.begin() + kTfdpData);

    // UDP checksum over the pseudo-header (addresses, protocol, length) and the datagram.
    std::uint32_t pseudo = 0;
    for (std::size_t i = 0; i < 8; i += 2) {
        pseudo += static_cast<std::uint32_t>(frame[kIpSource + i] << 8 | frame[kIpSource + i + 1]);
    }
    pseudo += kIpProtocolUdp + static_cast<std::uint32_t>(udpLength);
    std::uint16_t udpSum = InternetChecksum(f.subspan(kUdpStart, udpLength), pseudo);
    WriteBe16(f, kUdpChecksum, udpSum == 0 ? 0xffff : udpSum);
    return frame;
}

std::string MacString(const Mac& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string Ip4String(const Ip4& ip) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3]);
    return text;
}

std::optional<Mac> ParseMac(const std::string& text) {
    Mac mac{};
    unsigned v[6];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &v[0], &v[1], &v[2], &v[3], &v[4],
                    &v[5], &tail) != 6) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < 6; ++i) {
        mac[i] = static_cast<std::uint8_t>(v[i]);
    }
    return mac;
}

std::optional<Ip4> ParseIp4(const std::string& text) {
    Ip4 ip{};
    unsigned v[4];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &v[0], &v[1], &v[2], &v[3], &tail) != 4) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        if (v[i] > 255) {
            return std::nullopt;
        }
        ip[i] = static_cast<std::uint8_t>(v[i]);
    }
    return ip;
}

}  // namespace vxsim
