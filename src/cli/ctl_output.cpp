#include "cli/ctl_output.h"

#include <cstdio>

#include "net/adapter.h"
#include "views/labels.h"
#include "views/view_plans.h"

namespace {

constexpr std::size_t kAdapterPrefixLength = 8;  // "rpcap://"

const DeviceRecord& At(const std::vector<DeviceRecord>& devices, int i) {
    return devices[static_cast<std::size_t>(i)];
}

std::string Hex02(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

nlohmann::ordered_json ModeJson(const DeviceRecord& r) {
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

bool IsFree(const DeviceRecord& r) {
    return !IsTransmitter(r) && IsEmptyMac(r.T1Mac);
}

// The label of the unit with this MAC when it answered, else the slot's placeholder.
std::string PeerLabel(const std::vector<DeviceRecord>& devices, int t, int slot,
                      const MacBytes& mac) {
    const int k = FindInSnapshot(devices, MacText(mac));
    return k >= 0 ? DeviceLabel(devices, k) : PlaceholderLabel(devices, t, slot);
}

}  // namespace

nlohmann::ordered_json UnitJson(const std::vector<DeviceRecord>& devices, int i) {
    const DeviceRecord& r = At(devices, i);
    return {
        {"name", NameText(r.Name)},
        {"label", DeviceLabel(devices, i)},
        {"kind", IsTransmitter(r) ? "transmitter" : "receiver"},
        {"kind_code", r.Kind},
        {"mode", ModeJson(r)},
        {"mode_code", r.Mode},
        {"ip", Ipv4Text(r.Ip)},
        {"mac", MacText(r.Mac)},
        {"firmware_version", Hex02("0.%.02x", r.FirmwareVersion)},
        {"tfdp_version", Hex02("%.02x", r.TfdpVersion)},
        {"reserved", {r.Reserved[0], r.Reserved[1]}},
        {"peer_ip", Ipv4Text(r.PeerIp)},
        {"backup1_ip", Ipv4Text(r.Backup1Ip)},
        {"backup2_ip", Ipv4Text(r.Backup2Ip)},
        {"t1_mac", MacText(r.T1Mac)},
        {"t2_mac", MacText(r.T2Mac)},
        {"t3_mac", MacText(r.T3Mac)},
    };
}

nlohmann::ordered_json TopologyJson(const std::vector<DeviceRecord>& devices) {
    static constexpr const char* kSlotNames[] = {"main", "backup1", "backup2"};
    nlohmann::ordered_json transmitters = nlohmann::ordered_json::array();
    nlohmann::ordered_json free = nlohmann::ordered_json::array();
    const auto receiver = [&](const MacBytes& mac, int slot) {
        const int k = FindInSnapshot(devices, MacText(mac));
        return nlohmann::ordered_json{
            {"mac", MacText(mac)},
            {"slot", kSlotNames[slot]},
            {"name", k >= 0 ? nlohmann::ordered_json(NameText(At(devices, k).Name))
                            : nlohmann::ordered_json(nullptr)},
            {"answered", k >= 0}};
    };
    for (const DeviceRecord& r : devices) {
        if (IsFree(r)) {
            free.push_back({{"mac", MacText(r.Mac)}, {"name", NameText(r.Name)}});
        }
        if (!IsTransmitter(r)) {
            continue;
        }
        nlohmann::ordered_json receivers = nlohmann::ordered_json::array();
        if (ModeLowByte(r) == 0) {
            for (const DeviceRecord& k : devices) {
                if (!IsTransmitter(k) && k.T1Mac == r.Mac) {
                    receivers.push_back(receiver(k.Mac, 0));
                }
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
                                {"name", NameText(r.Name)},
                                {"mode", ModeJson(r)},
                                {"receivers", receivers}});
    }
    return {{"transmitters", transmitters}, {"free", free}};
}

std::string UnitLine(const std::vector<DeviceRecord>& devices, int i) {
    const DeviceRecord& r = At(devices, i);
    std::string line = DeviceLabel(devices, i);
    if (!IsTransmitter(r)) {
        if (IsEmptyMac(r.T1Mac)) {
            return line + "  free";
        }
        return line + "  from " + PeerLabel(devices, i, 0, r.T1Mac);
    }
    if (ModeLowByte(r) == 0) {
        std::string fed;
        for (int k = 0; k < static_cast<int>(devices.size()); ++k) {
            if (!IsTransmitter(At(devices, k)) && At(devices, k).T1Mac == r.Mac) {
                fed += (fed.empty() ? "" : ", ") + DeviceLabel(devices, k);
            }
        }
        return fed.empty() ? line : line + "  feeds " + fed;
    }
    static constexpr const char* kSlotWords[] = {"main", "backup 1", "backup 2"};
    const MacBytes* slots[] = {&r.T1Mac, &r.T2Mac, &r.T3Mac};
    for (int slot = 0; slot < 3; ++slot) {
        if (!IsEmptyMac(*slots[slot])) {
            line += std::string("  ") + kSlotWords[slot] + ": " +
                    PeerLabel(devices, i, slot, *slots[slot]);
        }
    }
    return line;
}

nlohmann::ordered_json AdapterJson(const AdapterInfo& adapter, const std::optional<MacBytes>& mac) {
    const auto ip = FirstIpv4Address(adapter.addresses);
    return {{"name", adapter.name},
            {"interface", adapter.name.size() > kAdapterPrefixLength
                              ? adapter.name.substr(kAdapterPrefixLength)
                              : adapter.name},
            {"description", adapter.description.value_or("")},
            {"ipv4", ip ? nlohmann::ordered_json(Ipv4Text(*ip)) : nlohmann::ordered_json(nullptr)},
            {"mac", mac ? nlohmann::ordered_json(MacText(*mac)) : nlohmann::ordered_json(nullptr)}};
}

std::string AdapterLine(const AdapterInfo& adapter, const std::optional<MacBytes>& mac) {
    const nlohmann::ordered_json j = AdapterJson(adapter, mac);
    const auto text = [](const nlohmann::ordered_json& v) {
        return v.is_null() ? std::string("-") : v.get<std::string>();
    };
    return text(j["description"]) + "  " + text(j["name"]) + "  " + text(j["ipv4"]) + "  " +
           text(j["mac"]);
}
