#include "net/frame_builder.h"

#include <cstring>

namespace {

// What distinguishes the three frame shapes.
struct FrameShape {
    std::uint16_t messageClass;
    std::uint16_t operation;
    std::size_t blockSize;  // 0 for discovery
    std::size_t destIpInBlock;
    std::size_t destMacInBlock;
    std::size_t wordInBlock;  // the host-order mode or selector word, written big-endian
    bool hasWord;
};

bool ShapeOf(RequestKind kind, FrameShape& shape) {
    switch (kind) {
        case kDiscoveryRequest:
            shape = {kDiscoveryClass, kDiscoverOperation, 0, 0, 0, 0, false};
            return true;
        case kSetNameRequest:
        case kSetIpRequest:
        case kSetTopologyRequest: {
            constexpr std::uint16_t kOperations[] = {kSetNameOperation, kSetIpOperation,
                                                     kSetTopologyOperation};
            shape = {kConfigurationClass,
                     kOperations[static_cast<int>(kind) - static_cast<int>(kSetNameRequest)],
                     kConfigBlockSize,
                     kConfigUnitIpOffset,
                     kConfigUnitMacOffset,
                     kConfigModeOffset,
                     kind == kSetTopologyRequest};
            return true;
        }
        case kDeleteReceiverRequest:
        case kAddReceiverRequest:
            shape = {kConnectionClass,
                     kind == kAddReceiverRequest ? kAddReceiverOperation : kDeleteReceiverOperation,
                     kConnectionBlockSize,
                     kConnectionAddressedIpOffset,
                     kConnectionAddressedMacOffset,
                     kConnectionSelectorOffset,
                     true};
            return true;
        default:
            return false;
    }
}

void Put16(ProtocolFrame& frame, std::size_t offset, std::uint16_t value) {
    WriteBe16(frame.data() + offset, value);
}

void PutBytes(ProtocolFrame& frame, std::size_t offset, const std::uint8_t* bytes,
              std::size_t length) {
    std::memcpy(frame.data() + offset, bytes, length);
}

void PutLe32(ProtocolFrame& frame, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        frame[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace

std::uint16_t Ipv4HeaderChecksum(std::span<const std::uint8_t, 20> header) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < header.size(); i += 2) {
        sum += ReadBe16(header.data() + i);
    }
    sum = (sum & 0xffff) + (sum >> 16);
    sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xffff);
}

bool AssembleRequestFrame(RequestKind kind, const std::uint8_t* block,
                          const std::array<std::uint8_t, 6>& adapterMac,
                          const std::array<std::uint8_t, 4>& adapterIp, ProtocolFrame& frame) {
    FrameShape shape{};
    if (!ShapeOf(kind, shape) || (shape.blockSize != 0 && block == nullptr)) {
        return false;
    }
    ProtocolFrame out{};  // unassigned bytes, the filler behind the datagram included, stay zero

    // Fields common to every request.
    PutBytes(out, kEthSourceMacOffset, adapterMac.data(), kMacSize);
    Put16(out, kEthTypeOffset, kEtherTypeIpv4);
    out[kIpVersionIhlOffset] = kIpVersionIhl;
    Put16(out, kIpIdentificationOffset, kIpIdentification);
    out[kIpTtlOffset] = kIpTtl;
    out[kIpProtocolOffset] = kIpProtocolUdp;
    PutBytes(out, kIpSourceOffset, adapterIp.data(), kIpv4Size);
    Put16(out, kUdpSourcePortOffset, kTfdpPort);
    Put16(out, kUdpDestPortOffset, kTfdpPort);
    Put16(out, kTfdpMagicOffset, kTfdpMagic);
    Put16(out, kTfdpFixedWordOffset, kTfdpFixedWord);
    Put16(out, kTfdpClassOffset, shape.messageClass);
    Put16(out, kTfdpCodeOffset, shape.operation);

    // The datagram ends behind the data-length field for discovery, behind the block otherwise.
    const std::size_t datagramEnd =
        shape.blockSize == 0 ? kDiscoveryDatagramEnd : kTfdpDataOffset + shape.blockSize;
    Put16(out, kIpTotalLengthOffset, static_cast<std::uint16_t>(datagramEnd - kIpHeaderOffset));
    Put16(out, kUdpLengthOffset, static_cast<std::uint16_t>(datagramEnd - kUdpHeaderOffset));

    if (shape.blockSize == 0) {
        std::memset(out.data() + kEthDestMacOffset, 0xff, kMacSize);
        std::memset(out.data() + kIpDestOffset, 0xff, kIpv4Size);
    } else {
        PutBytes(out, kEthDestMacOffset, block + shape.destMacInBlock, kMacSize);
        PutBytes(out, kIpDestOffset, block + shape.destIpInBlock, kIpv4Size);
        PutLe32(out, kTfdpDataLengthOffset, static_cast<std::uint32_t>(shape.blockSize));
        PutBytes(out, kTfdpDataOffset, block, shape.blockSize);
        if (shape.hasWord) {
            std::uint16_t word = 0;
            std::memcpy(&word, block + shape.wordInBlock, sizeof word);
            Put16(out, kTfdpDataOffset + shape.wordInBlock, word);
        }
    }

    const std::span<const std::uint8_t, kIpHeaderSize> header(out.data() + kIpHeaderOffset,
                                                              kIpHeaderSize);
    Put16(out, kIpChecksumOffset, Ipv4HeaderChecksum(header));
    frame = out;
    return true;
}
