#include "capture/send_policy.h"

#include <algorithm>
#include <optional>

#include "protocol/wire_format.h"

namespace {

std::uint16_t Be16(std::span<const std::uint8_t> frame, std::size_t offset) {
    return ReadBe16(frame.data() + offset);
}

// Where the datagram of a request of this class ends; nothing for a class no request has.
std::optional<std::size_t> RequestDatagramEnd(std::uint16_t messageClass) {
    switch (messageClass) {
        case kDiscoveryClass:
            return kDiscoveryDatagramEnd;
        case kConfigurationClass:
            return kConfigurationDatagramEnd;
        case kConnectionClass:
            return kConnectionDatagramEnd;
        default:
            return std::nullopt;
    }
}

// A member of the helper's group must not be able to slip fragments, or a datagram whose
// lengths reach into the filler, into other traffic: only a whole datagram of exactly a
// request's length leaves.
std::string_view DatagramRefusal(std::span<const std::uint8_t> frame) {
    if (Be16(frame, kIpFlagsFragmentOffset) != 0) {
        return "its IPv4 flags or fragment offset are set";
    }
    const auto end = RequestDatagramEnd(Be16(frame, kTfdpClassOffset));
    if (!end) {
        return "not a TFDP request class";
    }
    if (Be16(frame, kIpTotalLengthOffset) != *end - kIpHeaderOffset) {
        return "its IPv4 total length is not its request's";
    }
    if (Be16(frame, kUdpLengthOffset) != *end - kUdpHeaderOffset) {
        return "its UDP length is not its request's";
    }
    return {};
}

}  // namespace

std::string_view RefusalOf(std::span<const std::uint8_t> frame,
                           const std::array<std::uint8_t, 6>& adapterMac) {
    if (frame.size() != kProtocolFrameSize) {
        return "not 128 bytes long";
    }
    if (!std::equal(adapterMac.begin(), adapterMac.end(), frame.begin() + kEthSourceMacOffset)) {
        return "its source MAC address is not the adapter's";
    }
    if (Be16(frame, kEthTypeOffset) != kEtherTypeIpv4 ||
        frame[kIpVersionIhlOffset] != kIpVersionIhl) {
        return "not IPv4 without options";
    }
    if (frame[kIpProtocolOffset] != kIpProtocolUdp) {
        return "not UDP";
    }
    if (Be16(frame, kUdpSourcePortOffset) != kTfdpPort ||
        Be16(frame, kUdpDestPortOffset) != kTfdpPort) {
        return "not from and to UDP port 2098";
    }
    if (Be16(frame, kTfdpMagicOffset) != kTfdpMagic) {
        return "not a TFDP message";
    }
    return DatagramRefusal(frame);
}
