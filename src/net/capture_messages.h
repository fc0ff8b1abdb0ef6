#pragma once

// The messages between a program and its capture helper vx418-capture (docs/capture-helper.md).
// Each message starts with its whole length (4 bytes, big-endian) and its type (1 byte); the
// fields follow in order. Pure C++: the helper and the capture backend both link it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/capture_backend.h"

enum class CaptureMessage : std::uint8_t {
    // Caller to helper, on the control socket.
    List = 0x01,   // (nothing)
    Open = 0x02,   // text adapter name
    Send = 0x03,   // the frame: every byte after the header
    Drops = 0x04,  // (nothing)
    // Helper to caller, on the control socket: one answer per request.
    Adapters = 0x81,    // u16 count, then per adapter (see EncodeAdapters)
    ListFailed = 0x82,  // text error
    Opened = 0x83,      // text warnings
    OpenFailed = 0x84,  // u8 not permitted, text error
    Sent = 0x85,        // i32 status (0: on the wire), u32 frames refused so far, text error
    Dropped = 0x86,     // u8 known, u32 lost for want of buffer, u32 lost by the interface
    // Helper to caller, on the frame socket.
    Frames = 0x90,        // captured frames, each a u32 length and its bytes
    CaptureEnded = 0x91,  // i32 library status, text error
};

inline constexpr std::size_t kCaptureLengthSize = 4;
inline constexpr std::size_t kCaptureHeaderSize = kCaptureLengthSize + 1;
// A Frames message is flushed before it grows past this; one frame alone may exceed it.
inline constexpr std::size_t kCaptureBatchBytes = 32 * 1024;
// The largest message: one frame of the full snapshot length.
inline constexpr std::size_t kCaptureMaxMessage = kCaptureHeaderSize + kCaptureLengthSize + 65536;

// Builds one message field by field.
class MessageWriter {
  public:
    explicit MessageWriter(CaptureMessage type);
    MessageWriter& U8(std::uint8_t value);
    MessageWriter& U16(std::uint16_t value);
    MessageWriter& U32(std::uint32_t value);
    MessageWriter& I32(std::int32_t value);
    // u16 length and the bytes; longer texts are cut at 65535 bytes.
    MessageWriter& Text(std::string_view text);
    // u32 length and the bytes.
    MessageWriter& Block(std::span<const std::uint8_t> bytes);
    // The bytes alone, to the end of the message.
    MessageWriter& Rest(std::span<const std::uint8_t> bytes);
    std::size_t Size() const { return bytes_.size(); }
    bool HasFields() const { return bytes_.size() > kCaptureHeaderSize; }
    // The message with its length written; the writer starts over with the same type.
    std::vector<std::uint8_t> Finish();

  private:
    void Start();

    CaptureMessage type_;
    std::vector<std::uint8_t> bytes_;
};

// Reads one received message. Every read checks the length left; after a failed read all
// further reads fail too, so a decoder checks once at its end.
class MessageReader {
  public:
    // nullopt unless bytes are exactly one message: its length field equals bytes.size().
    static std::optional<MessageReader> Of(std::span<const std::uint8_t> bytes);
    CaptureMessage Type() const { return type_; }
    bool U8(std::uint8_t& value);
    bool U16(std::uint16_t& value);
    bool U32(std::uint32_t& value);
    bool I32(std::int32_t& value);
    bool Text(std::string& text);
    bool Block(std::span<const std::uint8_t>& bytes);
    // count bytes as they are.
    bool Take(std::size_t count, std::span<const std::uint8_t>& bytes);
    // Every byte not read yet.
    std::span<const std::uint8_t> Rest();
    // True when every read so far worked and nothing is left.
    bool Complete() const { return ok_ && at_ == bytes_.size(); }
    bool AtEnd() const { return at_ == bytes_.size(); }

  private:
    MessageReader(std::span<const std::uint8_t> bytes, CaptureMessage type)
        : bytes_(bytes), type_(type), at_(kCaptureHeaderSize) {}

    std::span<const std::uint8_t> bytes_;
    CaptureMessage type_;
    std::size_t at_;
    bool ok_ = true;
};

// The answer to Drops: the open adapter's counters, or unknown (nullopt).
std::vector<std::uint8_t> EncodeDropped(const std::optional<CaptureDrops>& drops);
// nullopt when the message is not a whole, well-formed Dropped message; an inner nullopt when
// the helper could not tell.
std::optional<std::optional<CaptureDrops>> DecodeDropped(MessageReader message);

std::vector<std::uint8_t> EncodeAdapters(const std::vector<AdapterInfo>& adapters);
// nullopt when the message is not a whole, well-formed Adapters message.
std::optional<std::vector<AdapterInfo>> DecodeAdapters(MessageReader message);
