#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/line_sink.h"
#include "protocol/wire_format.h"

// Collects the lines the core writes, from any thread.
class RecordingSink final : public LineSink {
  public:
    void Log(std::string_view text) override {
        const std::lock_guard lock(mutex_);
        logs_.emplace_back(text);
    }
    void Trace(std::string_view text) override {
        const std::lock_guard lock(mutex_);
        traces_.emplace_back(text);
    }
    std::vector<std::string> Logs() const {
        const std::lock_guard lock(mutex_);
        return logs_;
    }
    std::vector<std::string> Traces() const {
        const std::lock_guard lock(mutex_);
        return traces_;
    }
    void Reset() {
        const std::lock_guard lock(mutex_);
        logs_.clear();
        traces_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> logs_;
    std::vector<std::string> traces_;
};

// Test data written the way a unit puts it on the wire, offset by offset.
struct WireRecord {
    std::string name;
    std::uint16_t firmware = 0x0012;
    std::uint16_t tfdp = 0x0001;
    std::array<std::uint8_t, 4> ip{192, 168, 1, 50};
    std::array<std::uint8_t, 6> mac{0x00, 0x1c, 0x2d, 0x00, 0x00, 0x01};
    std::uint16_t kind = 1;
    std::array<std::uint8_t, 2> modeBytes{0x00, 0x00};
    std::array<std::uint8_t, 4> peerIp{};
    std::array<std::uint8_t, 4> backup1Ip{};
    std::array<std::uint8_t, 4> backup2Ip{};
    std::array<std::uint8_t, 6> t1{};
    std::array<std::uint8_t, 6> t2{};
    std::array<std::uint8_t, 6> t3{};

    std::array<std::uint8_t, kRecordWireSize> Bytes() const {
        std::array<std::uint8_t, kRecordWireSize> b{};
        std::memcpy(b.data(), name.data(), std::min(name.size(), kRecordNameSize));
        b[16] = static_cast<std::uint8_t>(firmware >> 8);
        b[17] = static_cast<std::uint8_t>(firmware);
        b[18] = static_cast<std::uint8_t>(tfdp >> 8);
        b[19] = static_cast<std::uint8_t>(tfdp);
        b[20] = 0xaa;  // reserved, never interpreted
        b[21] = 0x55;
        std::copy(ip.begin(), ip.end(), b.begin() + 22);
        std::copy(mac.begin(), mac.end(), b.begin() + 26);
        b[32] = static_cast<std::uint8_t>(kind >> 8);
        b[33] = static_cast<std::uint8_t>(kind);
        std::copy(modeBytes.begin(), modeBytes.end(), b.begin() + 34);
        std::copy(peerIp.begin(), peerIp.end(), b.begin() + 36);
        std::copy(backup1Ip.begin(), backup1Ip.end(), b.begin() + 40);
        std::copy(backup2Ip.begin(), backup2Ip.end(), b.begin() + 44);
        std::copy(t1.begin(), t1.end(), b.begin() + 48);
        std::copy(t2.begin(), t2.end(), b.begin() + 54);
        std::copy(t3.begin(), t3.end(), b.begin() + 60);
        return b;
    }
};

inline std::array<std::uint8_t, 6> MacOf(std::uint8_t last) {
    return {0x00, 0x1c, 0x2d, 0x00, 0x00, last};
}

// A reply frame as a unit sends it: magic, fixed word, class, code, then the record if any.
inline std::vector<std::uint8_t> ReplyFrame(std::uint16_t messageClass, std::uint16_t code,
                                            std::size_t length = 128) {
    std::vector<std::uint8_t> f(length, 0);
    const std::array<std::uint8_t, 8> header{0x18,
                                             0x88,
                                             0x00,
                                             0x01,
                                             static_cast<std::uint8_t>(messageClass >> 8),
                                             static_cast<std::uint8_t>(messageClass),
                                             static_cast<std::uint8_t>(code >> 8),
                                             static_cast<std::uint8_t>(code)};
    std::copy_n(header.begin(), std::min(header.size(), f.size() > 42 ? f.size() - 42 : 0),
                f.begin() + std::min<std::size_t>(42, f.size()));
    return f;
}

inline std::vector<std::uint8_t> DiscoveryReply(const WireRecord& record,
                                                std::size_t length = 128) {
    auto f = ReplyFrame(0x8001, 1, std::max<std::size_t>(length, 120));
    const auto bytes = record.Bytes();
    std::copy(bytes.begin(), bytes.end(), f.begin() + 54);
    f.resize(length);
    return f;
}
