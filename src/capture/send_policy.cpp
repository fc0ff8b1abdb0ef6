#include "capture/send_policy.h"

#include <algorithm>

#include "protocol/wire_format.h"

namespace {

std::uint16_t Be16(std::span<const std::uint8_t> frame, std::size_t offset) {
    return static_cast<std::uint16_t>(frame[offset] << 8 | frame[offset + 1]);
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
    return {};
}
