#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/wire_format.h"

// Request kinds as the senders take them (the numbers are the kinds' own).
enum class RequestKind : int {
    Discovery = 1,
    SetName = 2,
    SetIp = 3,
    SetTopology = 4,
    DeleteReceiver = 5,
    AddReceiver = 6,
};
inline constexpr RequestKind kDiscoveryRequest = RequestKind::Discovery;
inline constexpr RequestKind kSetNameRequest = RequestKind::SetName;
inline constexpr RequestKind kSetIpRequest = RequestKind::SetIp;
inline constexpr RequestKind kSetTopologyRequest = RequestKind::SetTopology;
inline constexpr RequestKind kDeleteReceiverRequest = RequestKind::DeleteReceiver;
inline constexpr RequestKind kAddReceiverRequest = RequestKind::AddReceiver;

// RFC 1071 checksum of the 20-byte IPv4 header; the result is the value to store big-endian.
std::uint16_t Ipv4HeaderChecksum(std::span<const std::uint8_t, 20> header);

// Builds the whole 128-byte frame for kinds 1..6. block is ignored for kind 1 and must hold
// 32 bytes for kinds 2..4 and 22 bytes for kinds 5..6; the 16-bit mode and selector words in it
// are in host order. Returns false (frame untouched) for an unknown kind or a short block.
bool AssembleRequestFrame(RequestKind kind, const std::uint8_t* block,
                          const std::array<std::uint8_t, 6>& adapterMac,
                          const std::array<std::uint8_t, 4>& adapterIp, ProtocolFrame& frame);

// 1 when the capture library accepted the frame, 0 when it refused it or no adapter is open.
int SendRequest(const std::uint8_t* block, RequestKind kind);
// false when the selector is not 1 or 2, no adapter is open, or the library refused the frame.
bool SendBackupRequest(const ConnectionBlock& block);
