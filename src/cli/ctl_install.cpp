#include "cli/ctl_install.h"

#include <map>
#include <set>

#include "cli/ctl_lookup.h"
#include "cli/ctl_text.h"
#include "views/labels.h"

namespace {

constexpr int kInstallationFormat = 1;
constexpr const char* kSlotKeys[] = {"main", "backup1", "backup2"};

// A field of the file that does not fit; thrown inside the parser only.
struct Invalid {
    std::string what;
};

std::string TextOf(const Json& unit, const char* key, const std::string& where) {
    if (!unit.contains(key) || !unit[key].is_string()) {
        throw Invalid{where + ": \"" + key + "\" must be a text"};
    }
    return unit[key].get<std::string>();
}

// nothing for null or a missing key.
std::optional<MacBytes> OptionalMacOf(const Json& unit, const char* key, const std::string& where) {
    if (!unit.contains(key) || unit[key].is_null()) {
        return std::nullopt;
    }
    const auto mac =
        unit[key].is_string() ? ParseMacSpelling(unit[key].get<std::string>()) : std::nullopt;
    if (!mac) {
        throw Invalid{where + ": \"" + key + "\" must be a MAC address or null"};
    }
    return mac;
}

void Forbid(const Json& unit, const std::vector<const char*>& keys, const std::string& where,
            const std::string& why) {
    for (const char* key : keys) {
        if (unit.contains(key) && !unit[key].is_null() &&
            !(unit[key].is_array() && unit[key].empty())) {
            throw Invalid{where + ": \"" + key + "\" " + why};
        }
    }
}

InstalledUnit ParseUnit(const std::string& key, const Json& unit) {
    const std::string where = "unit " + key;
    InstalledUnit u;
    const auto mac = ParseMacSpelling(key);
    if (!mac) {
        throw Invalid{where + ": the key must be the unit's MAC address"};
    }
    if (!unit.is_object()) {
        throw Invalid{where + ": must be an object"};
    }
    u.mac = *mac;
    u.name = TextOf(unit, "name", where);
    const auto ip = ParseAcceptedIpText(TextOf(unit, "ip", where));
    if (!ip) {
        throw Invalid{where + ": \"ip\" must be four decimal fields 0-255"};
    }
    u.ip = *ip;
    const std::string kind = TextOf(unit, "kind", where);
    if (kind != "transmitter" && kind != "receiver") {
        throw Invalid{where + ": \"kind\" must be transmitter or receiver"};
    }
    u.transmitter = kind == "transmitter";
    if (!u.transmitter) {
        Forbid(unit, {"mode", "main", "backup1", "backup2", "receivers"}, where,
               "belongs to a Transmitter");
        if (unit.contains("transmitter")) {
            u.transmitterOf = OptionalMacOf(unit, "transmitter", where);
        }
        return u;
    }
    Forbid(unit, {"transmitter"}, where, "belongs to a Receiver");
    if (unit.contains("mode") && !unit["mode"].is_null()) {
        const std::string mode = TextOf(unit, "mode", where);
        if (mode != "multicast" && mode != "unicast") {
            throw Invalid{where + ": \"mode\" must be multicast, unicast or null"};
        }
        u.mode = mode == "unicast" ? Topology::Unicast : Topology::Multicast;
    }
    if (u.mode != Topology::Unicast) {
        Forbid(unit, {"main", "backup1", "backup2"}, where, "needs the unicast mode");
    }
    if (u.mode != Topology::Multicast) {
        Forbid(unit, {"receivers"}, where, "needs the multicast mode");
    }
    for (int slot = 0; slot < 3; ++slot) {
        u.slots[static_cast<std::size_t>(slot)] = OptionalMacOf(unit, kSlotKeys[slot], where);
    }
    if (unit.contains("receivers") && !unit["receivers"].is_null()) {
        if (!unit["receivers"].is_array()) {
            throw Invalid{where + ": \"receivers\" must be a list of MAC addresses"};
        }
        for (const Json& r : unit["receivers"]) {
            const auto rx = r.is_string() ? ParseMacSpelling(r.get<std::string>()) : std::nullopt;
            if (!rx) {
                throw Invalid{where + ": \"receivers\" must be a list of MAC addresses"};
            }
            u.receivers.push_back(*rx);
        }
    }
    return u;
}

// A multicast Transmitter's "receivers" and those Receivers' "transmitter" tell the same link
// twice: they must agree, and a Receiver links to one Transmitter. Slots may name anything the
// units report, and units may share a name or an address.
void CheckConsistency(const Installation& installation) {
    std::map<MacBytes, MacBytes> fedBy;
    for (const InstalledUnit& u : installation.units) {
        for (const MacBytes& rx : u.receivers) {
            const InstalledUnit* r = installation.Find(rx);
            if (r != nullptr && r->transmitter) {
                throw Invalid{"unit " + MacText(u.mac) + ": " + MacText(rx) +
                              " is a Transmitter, not a Receiver"};
            }
            if (const auto [it, fresh] = fedBy.emplace(rx, u.mac); !fresh) {
                throw Invalid{"Receiver " + MacText(rx) + " is given twice (" +
                              MacText(it->second) + ", " + MacText(u.mac) + ")"};
            }
            if (r != nullptr && r->transmitterOf && *r->transmitterOf != u.mac) {
                throw Invalid{"unit " + MacText(rx) + ": \"transmitter\" disagrees with " +
                              MacText(u.mac) + ", which lists it"};
            }
        }
    }
    for (const InstalledUnit& u : installation.units) {
        if (!u.transmitterOf || !*u.transmitterOf || fedBy.count(u.mac) != 0) {
            continue;
        }
        const InstalledUnit* tx = installation.Find(**u.transmitterOf);
        if (tx != nullptr && tx->transmitter && tx->mode == Topology::Multicast) {
            throw Invalid{"unit " + MacText(u.mac) + ": its \"transmitter\" " +
                          MacText(**u.transmitterOf) + " does not list it"};
        }
    }
}

}  // namespace

const InstalledUnit* Installation::Find(const MacBytes& mac) const {
    for (const InstalledUnit& u : units) {
        if (u.mac == mac) {
            return &u;
        }
    }
    return nullptr;
}

std::map<MacBytes, std::optional<MacBytes>> Installation::WantedLinks() const {
    std::map<MacBytes, std::optional<MacBytes>> links;
    for (const InstalledUnit& u : units) {
        if (!u.transmitter && u.transmitterOf) {
            links[u.mac] = *u.transmitterOf;
        }
        for (const MacBytes& rx : u.receivers) {
            links[rx] = u.mac;
        }
    }
    return links;
}

Json InstallationJson(const std::vector<DeviceRecord>& devices, const std::string& adapter) {
    Json units = Json::object();
    for (const DeviceRecord& r : devices) {
        Json u = {{"name", Latin1ToUtf8(NameText(r.Name))},
                  {"ip", Ipv4Text(r.Ip)},
                  {"kind", IsTransmitter(r) ? "transmitter" : "receiver"}};
        if (!IsTransmitter(r)) {
            u["transmitter"] = OptionalMac(r.T1Mac);
        } else if (ModeLowByte(r) == 0) {
            u["mode"] = "multicast";
            Json receivers = Json::array();
            for (const DeviceRecord& k : devices) {
                if (!IsTransmitter(k) && k.T1Mac == r.Mac) {
                    receivers.push_back(MacText(k.Mac));
                }
            }
            u["receivers"] = receivers;
        } else if (ModeLowByte(r) == 1) {
            u["mode"] = "unicast";
            u["main"] = OptionalMac(r.T1Mac);
            u["backup1"] = OptionalMac(r.T2Mac);
            u["backup2"] = OptionalMac(r.T3Mac);
        } else {
            u["mode"] = nullptr;
        }
        units[MacText(r.Mac)] = u;
    }
    return {{"format", kInstallationFormat},
            {"kind", kInstallationKind},
            {"adapter", adapter},
            {"units", units}};
}

namespace {

// A Graphviz string: the text between double quotes, quotes and backslashes escaped, each line
// break Graphviz's own.
std::string DotText(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '\n') {
            quoted += "\\n";
            continue;
        }
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

std::string DotNode(const DeviceRecord& r) {
    const std::string name = DisplayText(NameText(r.Name));
    if (!IsTransmitter(r)) {
        return "  " + DotText(MacText(r.Mac)) +
               " [shape=ellipse, label=" + DotText(name + "\n" + Ipv4Text(r.Ip)) + "];\n";
    }
    const char* mode = ModeLowByte(r) == 0 ? "multicast" : ModeLowByte(r) == 1 ? "unicast" : "";
    return "  " + DotText(MacText(r.Mac)) + " [shape=box, style=filled, fillcolor=\"#dde7f5\", " +
           "label=" + DotText(name + "\n" + mode + "\n" + Ipv4Text(r.Ip)) + "];\n";
}

std::string DotEdge(const MacBytes& from, const MacBytes& to, const std::string& label,
                    bool dashed) {
    return "  " + DotText(MacText(from)) + " -> " + DotText(MacText(to)) +
           " [label=" + DotText(label) + (dashed ? ", style=dashed" : "") + "];\n";
}

}  // namespace

std::string InstallationDot(const std::vector<DeviceRecord>& devices) {
    std::map<MacBytes, const DeviceRecord*> byMac;
    for (const DeviceRecord& r : devices) {
        byMac.emplace(r.Mac, &r);
    }
    std::string nodes, edges, unknown;
    static constexpr const char* kSlotLabels[] = {"main", "backup 1", "backup 2"};
    for (const DeviceRecord& r : devices) {
        nodes += DotNode(r);
        if (!IsTransmitter(r)) {
            const auto tx = byMac.find(r.T1Mac);
            const bool returned =
                tx != byMac.end() && (ModeLowByte(*tx->second) == 0 || tx->second->T1Mac == r.Mac ||
                                      tx->second->T2Mac == r.Mac || tx->second->T3Mac == r.Mac);
            if (tx != byMac.end() && !returned) {
                edges += DotEdge(r.Mac, r.T1Mac, "link", true);
            } else if (tx != byMac.end() && ModeLowByte(*tx->second) == 0) {
                edges += DotEdge(r.T1Mac, r.Mac, "multicast", false);
            }
            continue;
        }
        if (ModeLowByte(r) == 0) {
            continue;
        }
        const MacBytes* slots[] = {&r.T1Mac, &r.T2Mac, &r.T3Mac};
        for (int slot = 0; slot < 3; ++slot) {
            const MacBytes& rx = *slots[slot];
            if (IsEmptyMac(rx)) {
                continue;
            }
            const auto it = byMac.find(rx);
            if (it == byMac.end() && unknown.find(MacText(rx)) == std::string::npos) {
                unknown += "  " + DotText(MacText(rx)) + " [shape=ellipse, style=dashed, label=" +
                           DotText("UNKNOWN\n" + MacText(rx)) + "];\n";
            }
            const bool disagrees = slot == 0 && it != byMac.end() && it->second->T1Mac != r.Mac;
            edges += DotEdge(r.Mac, rx, kSlotLabels[slot], disagrees);
        }
    }
    return "digraph vx418 {\n  rankdir=LR;\n  node [fontname=\"Helvetica\", fontsize=10];\n"
           "  edge [fontname=\"Helvetica\", fontsize=9];\n" +
           nodes + unknown + edges + "}\n";
}

std::optional<Installation> ParseInstallation(const Json& document, std::string& error) {
    try {
        if (!document.is_object() || document.value("kind", "") != kInstallationKind) {
            throw Invalid{"not an installation file (\"kind\" is not \"" +
                          std::string(kInstallationKind) + "\")"};
        }
        if (!document.contains("format") || document["format"] != kInstallationFormat) {
            throw Invalid{"an installation of another format (this program reads format 1)"};
        }
        if (!document.contains("units") || !document["units"].is_object()) {
            throw Invalid{"\"units\" must be an object keyed by MAC address"};
        }
        Installation installation;
        std::set<MacBytes> seen;
        for (const auto& [key, unit] : document["units"].items()) {
            installation.units.push_back(ParseUnit(key, unit));
            if (!seen.insert(installation.units.back().mac).second) {
                throw Invalid{"unit " + key + " is given twice"};
            }
        }
        CheckConsistency(installation);
        return installation;
    } catch (const Invalid& invalid) {
        error = invalid.what;
    } catch (const Json::exception& e) {
        error = e.what();
    }
    return std::nullopt;
}
