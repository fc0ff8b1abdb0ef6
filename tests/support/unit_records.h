#pragma once

// Small builders for device records, so each test reads as the layout it describes.

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/device_table.h"
#include "protocol/wire_format.h"

namespace views_test {

// 02:00:00:00:00:nn, the lab's own locally administered range.
inline MacBytes Mac(std::uint8_t n) {
    return {0x02, 0x00, 0x00, 0x00, 0x00, n};
}
inline Ipv4Bytes Ip(std::uint8_t n) {
    return {192, 168, 0, n};
}
inline std::string MacTextOf(std::uint8_t n) {
    return MacText(Mac(n));
}

inline DeviceRecord Unit(const std::string& name, std::uint8_t n, std::uint16_t kind,
                         std::uint16_t mode) {
    DeviceRecord r;
    std::copy_n(name.begin(), std::min(name.size(), r.Name.size()), r.Name.begin());
    r.Ip = Ip(n);
    r.Mac = Mac(n);
    r.Kind = kind;
    r.Mode = mode;
    return r;
}

inline constexpr std::uint16_t kMulticast = 0;
inline constexpr std::uint16_t kUnicast = 1;

inline DeviceRecord Transmitter(const std::string& name, std::uint8_t n, std::uint16_t mode) {
    return Unit(name, n, 1, mode);
}

// A Receiver, attached to the Transmitter numbered t (0: free).
inline DeviceRecord Receiver(const std::string& name, std::uint8_t n, std::uint8_t t = 0) {
    DeviceRecord r = Unit(name, n, 0, 0);
    if (t != 0) {
        r.T1Mac = Mac(t);
        r.PeerIp = Ip(t);
    }
    return r;
}

// Slot 0 main, 1 and 2 backups, naming unit n (its address too).
inline DeviceRecord WithPeer(DeviceRecord r, int slot, std::uint8_t n) {
    switch (slot) {
        case 0:
            r.T1Mac = Mac(n);
            r.PeerIp = Ip(n);
            break;
        case 1:
            r.T2Mac = Mac(n);
            r.Backup1Ip = Ip(n);
            break;
        default:
            r.T3Mac = Mac(n);
            r.Backup2Ip = Ip(n);
            break;
    }
    return r;
}

// The 66 bytes a unit would send for this record.
inline std::array<std::uint8_t, kDeviceRecordSize> WireRecord(const DeviceRecord& r) {
    return EncodeDeviceRecord(r);
}

}  // namespace views_test
