#include "cli/ctl_output.h"

#include <cstdio>
#include <cstring>

#include "cli/ctl_text.h"
#include "net/adapter.h"
#include "protocol/wire_format.h"
#include "views/labels.h"

namespace {

constexpr std::size_t kAdapterPrefixLength = 8;  // "rpcap://"
constexpr const char* kSlotNames[] = {"main", "backup1", "backup2"};
constexpr const char* kSlotWords[] = {"main", "backup 1", "backup 2"};

std::string Hex02(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

Json ModeJson(const DeviceRecord& r) {
    if (!IsTransmitter(r)) {
        return nullptr;
    }
    switch (ModeLowByte(r)) {
        case 0:
            return "multicast";
        case 1:
            return "unicast";
        default:
            return nullptr;
    }
}

// A Receiver's mode word is kept as the bytes it arrived in; read them as the wire does.
unsigned ModeCode(const DeviceRecord& r) {
    if (r.Kind != 0) {
        return r.Mode;
    }
    std::uint8_t wire[sizeof r.Mode];
    std::memcpy(wire, &r.Mode, sizeof wire);
    return ReadBe16(wire);
}

std::string TerseMac(const MacBytes& mac) {
    return IsEmptyMac(mac) ? "-" : MacText(mac);
}

std::string OrDash(const Json& value) {
    return value.is_null() ? std::string("-") : value.get<std::string>();
}

}  // namespace

Json OptionalIp(const Ipv4Bytes& ip) {
    return ip == Ipv4Bytes{} ? Json(nullptr) : Json(Ipv4Text(ip));
}

Json OptionalMac(const MacBytes& mac) {
    return IsEmptyMac(mac) ? Json(nullptr) : Json(MacText(mac));
}

std::string DisplayLabel(const DeviceRecord& record) {
    return DisplayText(DeviceLabel({record}, 0));
}

Json UnitJson(const DeviceRecord& r) {
    return {
        {"name", Latin1ToUtf8(NameText(r.Name))},
        {"label", Latin1ToUtf8(DeviceLabel({r}, 0))},
        {"kind", IsTransmitter(r) ? "transmitter" : "receiver"},
        {"kind_code", r.Kind},
        {"mode", ModeJson(r)},
        {"mode_code", ModeCode(r)},
        {"ip", Ipv4Text(r.Ip)},
        {"mac", MacText(r.Mac)},
        {"firmware_version", Hex02("0.%.02x", r.FirmwareVersion)},
        {"tfdp_version", Hex02("%.02x", r.TfdpVersion)},
        {"reserved", {r.Reserved[0], r.Reserved[1]}},
        {"peer_ip", OptionalIp(r.PeerIp)},
        {"backup1_ip", OptionalIp(r.Backup1Ip)},
        {"backup2_ip", OptionalIp(r.Backup2Ip)},
        {"t1_mac", OptionalMac(r.T1Mac)},
        {"t2_mac", OptionalMac(r.T2Mac)},
        {"t3_mac", OptionalMac(r.T3Mac)},
    };
}

std::string TerseUnitLine(const DeviceRecord& r) {
    return MacText(r.Mac) + '\t' + DisplayText(NameText(r.Name)) + '\t' + Ipv4Text(r.Ip) + '\t' +
           (IsTransmitter(r) ? "transmitter" : "receiver") + '\t' + OrDash(ModeJson(r)) + '\t' +
           TerseMac(r.T1Mac) + '\t' + TerseMac(r.T2Mac) + '\t' + TerseMac(r.T3Mac);
}

UnitsView::UnitsView(std::vector<DeviceRecord> devices) : devices_(std::move(devices)) {
    for (int i = 0; i < static_cast<int>(devices_.size()); ++i) {
        const DeviceRecord& r = devices_[static_cast<std::size_t>(i)];
        index_.emplace(r.Mac, i);  // the first record of a MAC, as the table's look-up
        if (!IsTransmitter(r) && !IsEmptyMac(r.T1Mac)) {
            byTransmitter_.emplace(r.T1Mac, i);
        }
    }
}

int UnitsView::IndexOf(const MacBytes& mac) const {
    const auto it = index_.find(mac);
    return it == index_.end() ? -1 : it->second;
}

const DeviceRecord* UnitsView::Find(const MacBytes& mac) const {
    const int i = IndexOf(mac);
    return i < 0 ? nullptr : &devices_[static_cast<std::size_t>(i)];
}

std::string UnitsView::Label(const MacBytes& mac) const {
    const DeviceRecord* r = Find(mac);
    return r != nullptr ? DisplayLabel(*r) : "[" + MacText(mac) + "]";
}

std::vector<int> UnitsView::Fed(int t) const {
    std::vector<int> fed;
    const auto [begin, end] = byTransmitter_.equal_range(devices_[static_cast<std::size_t>(t)].Mac);
    for (auto it = begin; it != end; ++it) {
        fed.push_back(it->second);
    }
    std::sort(fed.begin(), fed.end());  // arrival order, as the trees list them
    return fed;
}

std::string UnitsView::PeerLabel(int t, int slot, const MacBytes& mac) const {
    const int k = IndexOf(mac);
    return DisplayText(k >= 0 ? DeviceLabel(devices_, k) : PlaceholderLabel(devices_, t, slot));
}

Json UnitsView::TopologyJson() const {
    Json transmitters = Json::array();
    Json free = Json::array();
    const auto receiver = [&](const MacBytes& mac, int slot) {
        const DeviceRecord* r = Find(mac);
        return Json{{"mac", MacText(mac)},
                    {"slot", kSlotNames[slot]},
                    {"name", r != nullptr ? Json(Latin1ToUtf8(NameText(r->Name))) : Json(nullptr)},
                    {"answered", r != nullptr}};
    };
    const std::vector<bool> available = AvailableReceivers(devices_);
    for (int i = 0; i < static_cast<int>(devices_.size()); ++i) {
        const DeviceRecord& r = devices_[static_cast<std::size_t>(i)];
        if (!IsTransmitter(r)) {
            if (available[static_cast<std::size_t>(i)]) {
                free.push_back({{"mac", MacText(r.Mac)}, {"name", Latin1ToUtf8(NameText(r.Name))}});
            }
            continue;
        }
        Json receivers = Json::array();
        if (ModeLowByte(r) == 0) {
            for (const int k : Fed(i)) {
                receivers.push_back(receiver(devices_[static_cast<std::size_t>(k)].Mac, 0));
            }
        } else {
            const MacBytes* slots[] = {&r.T1Mac, &r.T2Mac, &r.T3Mac};
            for (int slot = 0; slot < 3; ++slot) {
                if (!IsEmptyMac(*slots[slot])) {
                    receivers.push_back(receiver(*slots[slot], slot));
                }
            }
        }
        transmitters.push_back({{"mac", MacText(r.Mac)},
                                {"name", Latin1ToUtf8(NameText(r.Name))},
                                {"mode", ModeJson(r)},
                                {"receivers", receivers}});
    }
    return {{"transmitters", transmitters}, {"free", free}};
}

std::string UnitsView::UnitLine(int i) const {
    const DeviceRecord& r = devices_[static_cast<std::size_t>(i)];
    std::string line = DisplayText(DeviceLabel(devices_, i));
    if (!IsTransmitter(r)) {
        return line + (IsEmptyMac(r.T1Mac) ? "  free" : "  from " + PeerLabel(i, 0, r.T1Mac));
    }
    if (ModeLowByte(r) == 0) {
        std::string fed;
        for (const int k : Fed(i)) {
            fed += (fed.empty() ? "" : ", ") + DisplayText(DeviceLabel(devices_, k));
        }
        return fed.empty() ? line : line + "  feeds " + fed;
    }
    const MacBytes* slots[] = {&r.T1Mac, &r.T2Mac, &r.T3Mac};
    for (int slot = 0; slot < 3; ++slot) {
        if (!IsEmptyMac(*slots[slot])) {
            line += std::string("  ") + kSlotWords[slot] + ": " + PeerLabel(i, slot, *slots[slot]);
        }
    }
    return line;
}

std::vector<std::string> UnitsView::ShowLines(int i) const {
    const DeviceRecord& r = devices_[static_cast<std::size_t>(i)];
    const Json j = UnitJson(r);
    std::vector<std::string> lines{UnitLine(i)};
    for (const char* key : {"name", "kind", "mode", "ip", "mac", "firmware_version", "tfdp_version",
                            "peer_ip", "backup1_ip", "backup2_ip", "t1_mac", "t2_mac", "t3_mac"}) {
        const std::string value = j[key].is_null() ? "-" : j[key].get<std::string>();
        std::string padded = std::string(key) + ":";
        padded.resize(18, ' ');
        lines.push_back("  " + padded +
                        (std::string(key) == "name" ? DisplayText(NameText(r.Name)) : value));
    }
    return lines;
}

Json AdapterJson(const AdapterInfo& adapter, const std::optional<MacBytes>& mac) {
    const auto ip = FirstIpv4Address(adapter.addresses);
    return {{"name", adapter.name},
            {"interface", adapter.name.size() > kAdapterPrefixLength
                              ? adapter.name.substr(kAdapterPrefixLength)
                              : adapter.name},
            {"description", Latin1ToUtf8(adapter.description.value_or(""))},
            {"ipv4", ip ? Json(Ipv4Text(*ip)) : Json(nullptr)},
            {"mac", mac ? Json(MacText(*mac)) : Json(nullptr)}};
}

std::string AdapterLine(const AdapterInfo& adapter, const std::optional<MacBytes>& mac,
                        bool terse) {
    const Json j = AdapterJson(adapter, mac);
    if (terse) {
        return OrDash(j["interface"]) + '\t' + OrDash(j["name"]) + '\t' +
               DisplayText(adapter.description.value_or("")) + '\t' + OrDash(j["ipv4"]) + '\t' +
               OrDash(j["mac"]);
    }
    return DisplayText(adapter.description.value_or("")) + "  " + OrDash(j["name"]) + "  " +
           OrDash(j["ipv4"]) + "  " + OrDash(j["mac"]);
}
