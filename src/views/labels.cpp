#include "views/labels.h"

#include <cstddef>
#include <set>

namespace {

constexpr std::uint8_t kKindTransmitter = 1;
constexpr std::uint8_t kKindReceiver = 0;
constexpr std::uint8_t kKindBackup2 = 2;
constexpr std::uint8_t kModeMulticast = 0;
constexpr std::uint8_t kModeUnicast = 1;
constexpr int kSlotMain = 0;
constexpr int kSlotBackup1 = 1;
constexpr int kSlotBackup2 = 2;

bool InRange(const std::vector<DeviceRecord>& devices, int i) {
    return i >= 0 && static_cast<std::size_t>(i) < devices.size();
}

std::uint8_t KindLowByte(const DeviceRecord& record) {
    return static_cast<std::uint8_t>(record.Kind & 0xFFu);
}

std::string_view KindSuffix(const DeviceRecord& record) {
    switch (KindLowByte(record)) {
        case kKindTransmitter:
            switch (ModeLowByte(record)) {
                case kModeMulticast:
                    return ": Multicast";
                case kModeUnicast:
                    return ": Unicast";
                default:
                    return "";
            }
        case kKindReceiver:
            return ": Receiver";
        case kKindBackup2:
            return ": Backup 2";
        default:
            return "";
    }
}

// Every label ends the same way, so MacFromLabel can read any of them back.
std::string ComposeLabel(std::string_view name, std::string_view suffix, const Ipv4Bytes& ip,
                         const MacBytes& mac) {
    std::string label(name);
    label += suffix;
    label += " (";
    label += Ipv4Text(ip);
    label += ") [";
    label += MacText(mac);
    label += "]";
    return label;
}

}  // namespace

bool IsTransmitter(const DeviceRecord& record) {
    return KindLowByte(record) == kKindTransmitter;
}

std::uint8_t ModeLowByte(const DeviceRecord& record) {
    return static_cast<std::uint8_t>(record.Mode & 0xFFu);
}

bool IsEmptyMac(const MacBytes& mac) {
    return mac == MacBytes{};
}

std::string DeviceLabel(const std::vector<DeviceRecord>& devices, int i) {
    if (!InRange(devices, i)) {
        return {};
    }
    const DeviceRecord& r = devices[static_cast<std::size_t>(i)];
    return ComposeLabel(NameText(r.Name), KindSuffix(r), r.Ip, r.Mac);
}

std::string ReceiverLabel(const std::vector<DeviceRecord>& devices, int i) {
    if (!InRange(devices, i)) {
        return {};
    }
    const DeviceRecord& r = devices[static_cast<std::size_t>(i)];
    return ComposeLabel(NameText(r.Name), ": Receiver", r.Ip, r.Mac);
}

std::string PlaceholderLabel(const std::vector<DeviceRecord>& devices, int t, int slot) {
    if (!InRange(devices, t)) {
        return {};
    }
    const DeviceRecord& r = devices[static_cast<std::size_t>(t)];
    switch (slot) {
        case kSlotMain:
            return ComposeLabel("UNKNOWN", ": Receiver", r.PeerIp, r.T1Mac);
        case kSlotBackup1:
            return ComposeLabel("UNKNOWN", ": Backup 1", r.Backup1Ip, r.T2Mac);
        case kSlotBackup2:
            return ComposeLabel("UNKNOWN", ": Backup 2", r.Backup2Ip, r.T3Mac);
        default:
            return {};
    }
}

bool HasNoPeers(const std::vector<DeviceRecord>& devices, int j) {
    if (!InRange(devices, j)) {
        return false;
    }
    const DeviceRecord& r = devices[static_cast<std::size_t>(j)];
    return IsEmptyMac(r.T1Mac) && IsEmptyMac(r.T2Mac) && IsEmptyMac(r.T3Mac);
}

bool HasConnection(const std::vector<DeviceRecord>& devices, int j) {
    if (!InRange(devices, j)) {
        return false;
    }
    const DeviceRecord& transmitter = devices[static_cast<std::size_t>(j)];
    if (ModeLowByte(transmitter) != kModeMulticast) {
        return !HasNoPeers(devices, j);
    }
    for (const DeviceRecord& k : devices) {
        if (k.T1Mac == transmitter.Mac) {
            return true;
        }
    }
    return false;
}

std::vector<bool> AvailableReceivers(const std::vector<DeviceRecord>& devices) {
    // What the Connections tree hangs under a Transmitter: the Receivers naming a multicast one,
    // and a unicast one's main Receiver.
    std::set<MacBytes> multicast;
    std::set<MacBytes> unicastMains;
    for (const DeviceRecord& r : devices) {
        if (IsTransmitter(r) && ModeLowByte(r) == kModeMulticast) {
            multicast.insert(r.Mac);
        } else if (IsTransmitter(r)) {
            unicastMains.insert(r.T1Mac);
        }
    }
    std::vector<bool> available;
    available.reserve(devices.size());
    for (const DeviceRecord& r : devices) {
        const bool shown = multicast.count(r.T1Mac) != 0 || unicastMains.count(r.Mac) != 0;
        available.push_back(!IsTransmitter(r) && (IsEmptyMac(r.T1Mac) || !shown));
    }
    return available;
}

std::string MacFromLabel(std::string_view text) {
    // Every label ends in " [" + MAC + "]"; a unit's own name may contain "[" too.
    const std::size_t open = text.rfind('[');
    const std::string_view tail = open == std::string_view::npos ? text : text.substr(open);
    std::string mac;
    mac.reserve(tail.size());
    for (const char c : tail) {
        if (c != '[' && c != ']') {
            mac += c;
        }
    }
    return mac;
}

int FindInSnapshot(const std::vector<DeviceRecord>& devices, std::string_view macText) {
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (MacText(devices[i].Mac) == macText) {
            return static_cast<int>(i);
        }
    }
    return -1;
}
