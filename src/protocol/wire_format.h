#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Sizes of the frames and data blocks on the wire. Field offsets live beside them (below) so
// that every reader and writer names the same constant.
inline constexpr std::size_t kProtocolFrameSize = 128;
inline constexpr std::size_t kConfigBlockSize = 32;
inline constexpr std::size_t kConnectionBlockSize = 22;

using ProtocolFrame = std::array<std::uint8_t, kProtocolFrameSize>;
// The 16-bit mode word (bytes 14..15) is kept in host order until the sender writes it.
using ConfigBlock = std::array<std::uint8_t, kConfigBlockSize>;
// The 16-bit selector word (bytes 20..21) is kept in host order until the sender writes it.
using ConnectionBlock = std::array<std::uint8_t, kConnectionBlockSize>;

// Every 16-bit field travels big-endian; the TFDP data length is the one 32-bit little-endian
// field. Addresses are byte strings in transmission order.

inline constexpr std::size_t kMacSize = 6;
inline constexpr std::size_t kIpv4Size = 4;

// Ethernet II header.
inline constexpr std::size_t kEthDestMacOffset = 0;
inline constexpr std::size_t kEthSourceMacOffset = 6;
inline constexpr std::size_t kEthTypeOffset = 12;
inline constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;

// IPv4 header, 20 bytes without options.
inline constexpr std::size_t kIpHeaderOffset = 14;
inline constexpr std::size_t kIpHeaderSize = 20;
inline constexpr std::size_t kIpVersionIhlOffset = 14;
inline constexpr std::size_t kIpTosOffset = 15;
inline constexpr std::size_t kIpTotalLengthOffset = 16;
inline constexpr std::size_t kIpIdentificationOffset = 18;
inline constexpr std::size_t kIpFlagsFragmentOffset = 20;
inline constexpr std::size_t kIpTtlOffset = 22;
inline constexpr std::size_t kIpProtocolOffset = 23;
inline constexpr std::size_t kIpChecksumOffset = 24;
inline constexpr std::size_t kIpSourceOffset = 26;
inline constexpr std::size_t kIpDestOffset = 30;
inline constexpr std::uint8_t kIpVersionIhl = 0x45;         // IPv4, five 32-bit header words
inline constexpr std::uint16_t kIpIdentification = 0x232e;  // the same in every request
inline constexpr std::uint8_t kIpTtl = 0x80;
inline constexpr std::uint8_t kIpProtocolUdp = 0x11;

// UDP header.
inline constexpr std::size_t kUdpHeaderOffset = 34;
inline constexpr std::size_t kUdpHeaderSize = 8;
inline constexpr std::size_t kUdpSourcePortOffset = 34;
inline constexpr std::size_t kUdpDestPortOffset = 36;
inline constexpr std::size_t kUdpLengthOffset = 38;
inline constexpr std::size_t kUdpChecksumOffset = 40;
inline constexpr std::uint16_t kTfdpPort = 2098;

// TFDP message header (12 bytes) and data block.
inline constexpr std::size_t kTfdpHeaderOffset = 42;
inline constexpr std::size_t kTfdpHeaderSize = 12;
inline constexpr std::size_t kTfdpMagicOffset = 42;
inline constexpr std::size_t kTfdpFixedWordOffset = 44;
inline constexpr std::size_t kTfdpClassOffset = 46;
inline constexpr std::size_t kTfdpCodeOffset = 48;
inline constexpr std::size_t kTfdpDataLengthOffset = 50;
inline constexpr std::size_t kTfdpDataOffset = 54;
inline constexpr std::uint16_t kTfdpMagic = 0x1888;
inline constexpr std::uint16_t kTfdpFixedWord = 0x0001;

// Message classes; a reply carries the request's class with the high bit set.
inline constexpr std::uint16_t kReplyClassBit = 0x8000;
inline constexpr std::uint16_t kDiscoveryClass = 0x0001;
inline constexpr std::uint16_t kConnectionClass = 0x0003;
inline constexpr std::uint16_t kConfigurationClass = 0x0005;
inline constexpr std::uint16_t kDiscoveryReplyClass = kReplyClassBit | kDiscoveryClass;
inline constexpr std::uint16_t kConnectionReplyClass = kReplyClassBit | kConnectionClass;
inline constexpr std::uint16_t kConfigurationReplyClass = kReplyClassBit | kConfigurationClass;

// Operations (bytes 48..49 of a request).
inline constexpr std::uint16_t kDiscoverOperation = 0x0001;
inline constexpr std::uint16_t kSetNameOperation = 0x0001;
inline constexpr std::uint16_t kSetIpOperation = 0x0002;
inline constexpr std::uint16_t kSetTopologyOperation = 0x0003;
inline constexpr std::uint16_t kAddReceiverOperation = 0x0001;
inline constexpr std::uint16_t kDeleteReceiverOperation = 0x0002;

// The one result code of a discovery reply that carries a record.
inline constexpr std::uint16_t kDiscoveryRecordCode = 0x0001;

// Where each datagram ends: the IPv4 and UDP lengths cover the message header and data block.
inline constexpr std::size_t kDiscoveryDatagramEnd = kTfdpDataOffset;
inline constexpr std::size_t kConfigurationDatagramEnd = kTfdpDataOffset + kConfigBlockSize;
inline constexpr std::size_t kConnectionDatagramEnd = kTfdpDataOffset + kConnectionBlockSize;

// ConfigBlock fields.
inline constexpr std::size_t kConfigUnitIpOffset = 0;
inline constexpr std::size_t kConfigUnitMacOffset = 4;
inline constexpr std::size_t kConfigNewIpOffset = 10;
inline constexpr std::size_t kConfigModeOffset = 14;
inline constexpr std::size_t kConfigNameOffset = 16;
inline constexpr std::size_t kConfigNameSize = 16;

// ConnectionBlock fields.
inline constexpr std::size_t kConnectionOtherIpOffset = 0;
inline constexpr std::size_t kConnectionOtherMacOffset = 4;
inline constexpr std::size_t kConnectionAddressedIpOffset = 10;
inline constexpr std::size_t kConnectionAddressedMacOffset = 14;
inline constexpr std::size_t kConnectionSelectorOffset = 20;

// DeviceRecord fields, relative to the record's start (frame byte 54 of a discovery reply).
inline constexpr std::size_t kRecordNameOffset = 0;
inline constexpr std::size_t kRecordNameSize = 16;
inline constexpr std::size_t kRecordFirmwareOffset = 16;
inline constexpr std::size_t kRecordTfdpVersionOffset = 18;
inline constexpr std::size_t kRecordReservedOffset = 20;
inline constexpr std::size_t kRecordIpOffset = 22;
inline constexpr std::size_t kRecordMacOffset = 26;
inline constexpr std::size_t kRecordKindOffset = 32;
inline constexpr std::size_t kRecordModeOffset = 34;
inline constexpr std::size_t kRecordPeerIpOffset = 36;
inline constexpr std::size_t kRecordBackup1IpOffset = 40;
inline constexpr std::size_t kRecordBackup2IpOffset = 44;
inline constexpr std::size_t kRecordT1MacOffset = 48;
inline constexpr std::size_t kRecordT2MacOffset = 54;
inline constexpr std::size_t kRecordT3MacOffset = 60;
inline constexpr std::size_t kRecordWireSize = 66;

// Shortest captures the reply handler reads: the class and code end at byte 50, a discovery
// record at byte 120.
inline constexpr std::size_t kMinReplyLength = kTfdpCodeOffset + 2;
inline constexpr std::size_t kMinDiscoveryReplyLength = kTfdpDataOffset + kRecordWireSize;

// Big-endian 16-bit access to a byte buffer.
inline std::uint16_t ReadBe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline void WriteBe16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value & 0xff);
}
