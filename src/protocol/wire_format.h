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
