#include "net/capture_messages.h"

#include <algorithm>
#include <utility>

namespace {

void AppendBe(std::vector<std::uint8_t>& out, std::uint32_t value, std::size_t size) {
    for (std::size_t i = size; i-- > 0;) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::uint32_t ReadBe(std::span<const std::uint8_t> bytes) {
    std::uint32_t value = 0;
    for (const std::uint8_t b : bytes) {
        value = value << 8 | b;
    }
    return value;
}

}  // namespace

// ---- MessageWriter ----

MessageWriter::MessageWriter(CaptureMessage type) : type_(type) {
    Start();
}

void MessageWriter::Start() {
    bytes_.clear();
    AppendBe(bytes_, 0, kCaptureLengthSize);  // written by Finish
    bytes_.push_back(static_cast<std::uint8_t>(type_));
}

MessageWriter& MessageWriter::U8(std::uint8_t value) {
    bytes_.push_back(value);
    return *this;
}

MessageWriter& MessageWriter::U16(std::uint16_t value) {
    AppendBe(bytes_, value, 2);
    return *this;
}

MessageWriter& MessageWriter::U32(std::uint32_t value) {
    AppendBe(bytes_, value, 4);
    return *this;
}

MessageWriter& MessageWriter::I32(std::int32_t value) {
    return U32(static_cast<std::uint32_t>(value));
}

MessageWriter& MessageWriter::Text(std::string_view text) {
    const std::size_t length = std::min<std::size_t>(text.size(), 0xffff);
    U16(static_cast<std::uint16_t>(length));
    bytes_.insert(bytes_.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
    return *this;
}

MessageWriter& MessageWriter::Block(std::span<const std::uint8_t> bytes) {
    U32(static_cast<std::uint32_t>(bytes.size()));
    return Rest(bytes);
}

MessageWriter& MessageWriter::Rest(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

std::vector<std::uint8_t> MessageWriter::Finish() {
    std::vector<std::uint8_t> message = std::move(bytes_);
    const auto length = static_cast<std::uint32_t>(message.size());
    for (std::size_t i = 0; i < kCaptureLengthSize; ++i) {
        message[i] = static_cast<std::uint8_t>(length >> (8 * (kCaptureLengthSize - 1 - i)));
    }
    Start();
    return message;
}

// ---- MessageReader ----

std::optional<MessageReader> MessageReader::Of(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kCaptureHeaderSize ||
        ReadBe(bytes.first(kCaptureLengthSize)) != bytes.size()) {
        return std::nullopt;
    }
    return MessageReader(bytes, static_cast<CaptureMessage>(bytes[kCaptureLengthSize]));
}

bool MessageReader::Take(std::size_t count, std::span<const std::uint8_t>& out) {
    ok_ = ok_ && count <= bytes_.size() - at_;
    if (!ok_) {
        return false;
    }
    out = bytes_.subspan(at_, count);
    at_ += count;
    return true;
}

bool MessageReader::U8(std::uint8_t& value) {
    std::span<const std::uint8_t> field;
    if (!Take(1, field)) {
        return false;
    }
    value = field[0];
    return true;
}

bool MessageReader::U16(std::uint16_t& value) {
    std::span<const std::uint8_t> field;
    if (!Take(2, field)) {
        return false;
    }
    value = static_cast<std::uint16_t>(ReadBe(field));
    return true;
}

bool MessageReader::U32(std::uint32_t& value) {
    std::span<const std::uint8_t> field;
    if (!Take(4, field)) {
        return false;
    }
    value = ReadBe(field);
    return true;
}

bool MessageReader::I32(std::int32_t& value) {
    std::uint32_t raw = 0;
    if (!U32(raw)) {
        return false;
    }
    value = static_cast<std::int32_t>(raw);
    return true;
}

bool MessageReader::Text(std::string& text) {
    std::uint16_t length = 0;
    std::span<const std::uint8_t> field;
    if (!U16(length) || !Take(length, field)) {
        return false;
    }
    text.assign(field.begin(), field.end());
    return true;
}

bool MessageReader::Block(std::span<const std::uint8_t>& bytes) {
    std::uint32_t length = 0;
    return U32(length) && Take(length, bytes);
}

std::span<const std::uint8_t> MessageReader::Rest() {
    std::span<const std::uint8_t> rest;
    Take(bytes_.size() - at_, rest);
    return rest;
}

// ---- The adapter list ----
// Per adapter: text name, u8 has description, text description, u32 flags, u16 address count,
// then per address u8 is IPv4, its 4 bytes and u8 prefix length.

std::vector<std::uint8_t> EncodeAdapters(const std::vector<AdapterInfo>& adapters) {
    MessageWriter out(CaptureMessage::Adapters);
    out.U16(static_cast<std::uint16_t>(std::min<std::size_t>(adapters.size(), 0xffff)));
    for (std::size_t i = 0; i < adapters.size() && i < 0xffff; ++i) {
        const AdapterInfo& a = adapters[i];
        out.Text(a.name).U8(a.description ? 1 : 0).Text(a.description.value_or(""));
        out.U32(a.flags).U16(
            static_cast<std::uint16_t>(std::min<std::size_t>(a.addresses.size(), 0xffff)));
        for (std::size_t j = 0; j < a.addresses.size() && j < 0xffff; ++j) {
            out.U8(a.addresses[j].isIpv4 ? 1 : 0)
                .Rest(a.addresses[j].ipv4)
                .U8(a.addresses[j].prefixLength);
        }
    }
    return out.Finish();
}

std::optional<std::vector<AdapterInfo>> DecodeAdapters(MessageReader message) {
    std::uint16_t count = 0;
    if (message.Type() != CaptureMessage::Adapters || !message.U16(count)) {
        return std::nullopt;
    }
    std::vector<AdapterInfo> adapters(count);
    for (AdapterInfo& a : adapters) {
        std::uint8_t described = 0;
        std::string description;
        std::uint32_t flags = 0;
        std::uint16_t addresses = 0;
        if (!message.Text(a.name) || !message.U8(described) || !message.Text(description) ||
            !message.U32(flags) || !message.U16(addresses)) {
            return std::nullopt;
        }
        a.description = described != 0 ? std::optional(description) : std::nullopt;
        a.flags = flags;
        a.addresses.resize(addresses);
        for (AdapterAddress& address : a.addresses) {
            std::uint8_t isIpv4 = 0;
            std::span<const std::uint8_t> ipv4;
            if (!message.U8(isIpv4) || !message.Take(address.ipv4.size(), ipv4) ||
                !message.U8(address.prefixLength)) {
                return std::nullopt;
            }
            address.isIpv4 = isIpv4 != 0;
            std::copy(ipv4.begin(), ipv4.end(), address.ipv4.begin());
        }
    }
    if (!message.Complete()) {
        return std::nullopt;
    }
    return adapters;
}

// ---- The adapter's losses ----

std::vector<std::uint8_t> EncodeDropped(const std::optional<CaptureDrops>& drops) {
    const CaptureDrops counted = drops.value_or(CaptureDrops{});
    return MessageWriter(CaptureMessage::Dropped)
        .U8(drops ? 1 : 0)
        .U32(counted.buffer)
        .U32(counted.driver)
        .Finish();
}

std::optional<std::optional<CaptureDrops>> DecodeDropped(MessageReader message) {
    std::uint8_t known = 0;
    CaptureDrops drops;
    if (message.Type() != CaptureMessage::Dropped || !message.U8(known) ||
        !message.U32(drops.buffer) || !message.U32(drops.driver) || !message.Complete()) {
        return std::nullopt;
    }
    return known != 0 ? std::optional(drops) : std::nullopt;
}
