#include "sim_layout.h"

#include <sstream>
#include <vector>

namespace vxsim {

namespace {

SimUnit MakeUnit(std::uint16_t kind, const std::string& name, const Mac& mac, const Ip4& ip,
                 std::uint16_t mode) {
    SimUnit u;
    u.kind = kind;
    u.SetName(name);
    u.mac = mac;
    u.ip = ip;
    u.mode = mode;
    return u;
}

const SimUnit* FindByNameOrMac(const UnitSet& set, const std::string& key) {
    if (const auto mac = ParseMac(key)) {
        return set.Find(*mac);
    }
    for (const SimUnit& u : set.Units()) {
        if (u.NameText() == key) {
            return &u;
        }
    }
    return nullptr;
}

std::optional<int> SlotByName(const std::string& word) {
    if (word.empty() || word == "main") {
        return 0;
    }
    if (word == "backup1") {
        return 1;
    }
    if (word == "backup2") {
        return 2;
    }
    return std::nullopt;
}

// "link RECEIVER TRANSMITTER|-" or "slot TRANSMITTER main|backup1|backup2 RECEIVER|-": one end
// of an attachment, as units may report it.
std::string ApplyOneEnd(const std::vector<std::string>& w, UnitSet& set) {
    const bool link = w[0] == "link";
    if (w.size() != (link ? 3u : 4u)) {
        return link ? "expected: link RECEIVER TRANSMITTER|-"
                    : "expected: slot TRANSMITTER main|backup1|backup2 RECEIVER|-";
    }
    const SimUnit* unit = FindByNameOrMac(set, w[1]);
    const std::string& peerKey = w.back();
    const SimUnit* peer = peerKey == "-" ? nullptr : FindByNameOrMac(set, peerKey);
    if (unit == nullptr || (peerKey != "-" && peer == nullptr)) {
        return "unknown unit";
    }
    const Mac* peerMac = peer != nullptr ? &peer->mac : nullptr;
    if (link) {
        set.SetLink(unit->mac, peerMac);
        return {};
    }
    const auto slot = SlotByName(w[2]);
    if (!slot || !set.SetSlot(unit->mac, *slot, peerMac)) {
        return "unknown slot";
    }
    return {};
}

// One statement; returns the error text, empty when it was applied.
std::string ApplyStatement(const std::vector<std::string>& w, UnitSet& set) {
    const std::string& verb = w[0];
    if (verb == "transmitter" || verb == "receiver") {
        const bool isTx = verb == "transmitter";
        if (w.size() != (isTx ? 5u : 4u)) {
            return isTx ? "expected: transmitter NAME MAC IP multicast|unicast"
                        : "expected: receiver NAME MAC IP";
        }
        const auto mac = ParseMac(w[2]);
        const auto ip = ParseIp4(w[3]);
        if (!mac || !ip) {
            return "bad MAC or IPv4 address";
        }
        if (w[1].size() > wire::kNameLength) {
            return "name longer than 16 characters";
        }
        std::uint16_t mode = kModeMulticast;
        if (isTx) {
            if (w[4] != "multicast" && w[4] != "unicast") {
                return "mode must be multicast or unicast";
            }
            mode = w[4] == "unicast" ? kModeUnicast : kModeMulticast;
        }
        if (!set.Add(MakeUnit(isTx ? kKindTransmitter : kKindReceiver, w[1], *mac, *ip, mode))) {
            return "duplicate MAC or more than " + std::to_string(kMaxUnits) + " units";
        }
        return {};
    }
    if (verb == "attach") {
        if (w.size() < 3 || w.size() > 4) {
            return "expected: attach TRANSMITTER RECEIVER [main|backup1|backup2]";
        }
        const SimUnit* tx = FindByNameOrMac(set, w[1]);
        const SimUnit* rx = FindByNameOrMac(set, w[2]);
        const auto slot = SlotByName(w.size() == 4 ? w[3] : "");
        if (tx == nullptr || rx == nullptr || !slot) {
            return "unknown unit or slot";
        }
        if (!set.Attach(tx->mac, rx->mac, *slot)) {
            return "cannot attach: needs a transmitter and a receiver; backups need unicast";
        }
        return {};
    }
    if (verb == "link" || verb == "slot") {
        return ApplyOneEnd(w, set);
    }
    return "unknown statement '" + verb + "'";
}

}  // namespace

std::optional<UnitSet> ParseLayout(const std::string& text, std::string& error) {
    UnitSet set;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (const auto hash = line.find('#'); hash != std::string::npos) {
            line.erase(hash);
        }
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) {
            w.push_back(word);
        }
        if (w.empty()) {
            continue;
        }
        if (std::string why = ApplyStatement(w, set); !why.empty()) {
            error = "line " + std::to_string(number) + ": " + why;
            return std::nullopt;
        }
    }
    if (set.Units().empty()) {
        error = "layout has no units";
        return std::nullopt;
    }
    return set;
}

UnitSet DemoPreset() {
    std::string error;
    // Parsed from text so the preset doubles as an example of the layout format.
    auto set = ParseLayout(R"(
transmitter HALL     02:18:00:00:01:01 198.18.1.11 multicast
transmitter STAGE    02:18:00:00:01:02 198.18.1.12 unicast
receiver    FOYER    02:18:00:00:02:01 198.18.1.21
receiver    BAR      02:18:00:00:02:02 198.18.1.22
receiver    STAGEL   02:18:00:00:02:03 198.18.1.23
receiver    STAGER   02:18:00:00:02:04 198.18.1.24
receiver    SPARE1   02:18:00:00:02:05 198.18.1.25
receiver    SPARE2   02:18:00:00:02:06 198.18.1.26
receiver    SPARE3   02:18:00:00:02:07 198.18.1.27
attach HALL  FOYER
attach HALL  BAR
attach STAGE STAGEL main
attach STAGE STAGER backup1
)",
                           error);
    return set ? *set : UnitSet{};
}

UnitSet ManyPreset(int count) {
    UnitSet set;
    for (int i = 0; i < count && i < static_cast<int>(kMaxUnits); ++i) {
        // Unit n (from 1) is ...:0k:nn at 198.19.k.nn up to 255; beyond, the high byte of n
        // goes into the MAC's fourth byte and, doubled, into the address's third.
        const int n = i + 1;
        const auto low = static_cast<std::uint8_t>(n & 0xff);
        const auto high = static_cast<std::uint8_t>(n >> 8);
        const bool isTx = i % 4 == 0;
        const std::uint8_t k = isTx ? 1 : 2;
        const std::uint16_t mode = (i / 4) % 2 == 0 ? kModeMulticast : kModeUnicast;
        const std::string number = i < 100 ? std::to_string(100 + i).substr(1) : std::to_string(i);
        set.Add(MakeUnit(isTx ? kKindTransmitter : kKindReceiver, (isTx ? "TX" : "RX") + number,
                         Mac{0x02, 0x19, 0x00, high, k, low},
                         Ip4{198, 19, static_cast<std::uint8_t>(k + 2 * high), low}, mode));
    }
    // Each Transmitter gets the Receiver that follows it.
    const std::vector<SimUnit> units = set.Units();
    for (std::size_t i = 0; i + 1 < units.size(); ++i) {
        if (units[i].IsTransmitter() && units[i + 1].IsReceiver()) {
            set.Attach(units[i].mac, units[i + 1].mac, 0);
        }
    }
    return set;
}

std::optional<UnitSet> PresetByName(const std::string& name, std::string& error) {
    if (name == "demo") {
        return DemoPreset();
    }
    if (name.rfind("many:", 0) == 0) {
        try {
            const int count = std::stoi(name.substr(5));
            if (count >= 1 && count <= static_cast<int>(kMaxUnits)) {
                return ManyPreset(count);
            }
        } catch (const std::exception&) {
        }
        error = "many:N needs N from 1 to " + std::to_string(kMaxUnits);
        return std::nullopt;
    }
    error = "unknown preset '" + name + "' (demo, many:N)";
    return std::nullopt;
}

}  // namespace vxsim
