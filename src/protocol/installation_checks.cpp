#include "protocol/installation_checks.h"

#include <map>
#include <optional>

namespace {

constexpr std::uint16_t kKindReceiver = 0;
constexpr std::uint16_t kKindTransmitter = 1;
constexpr std::uint16_t kModeMulticast = 0;
constexpr std::uint16_t kModeUnicast = 1;
constexpr std::uint8_t kMaxPrefixLength = 32;
// Longer prefixes have no network and broadcast address of their own (point-to-point, host).
constexpr std::uint8_t kMaxPrefixWithBroadcast = 30;
constexpr const char* kSlotWords[] = {"main", "backup 1", "backup 2"};

std::uint32_t Value(const Ipv4Bytes& ip) {
    return static_cast<std::uint32_t>(ip[0]) << 24 | static_cast<std::uint32_t>(ip[1]) << 16 |
           static_cast<std::uint32_t>(ip[2]) << 8 | ip[3];
}

Ipv4Bytes Bytes(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

bool IsEmpty(const MacBytes& mac) {
    return mac == MacBytes{};
}

// The station's subnet, when the adapter gave its prefix length.
struct Subnet {
    std::uint32_t network = 0;
    std::uint32_t mask = 0;
    std::uint8_t prefixLength = 0;

    bool Holds(std::uint32_t ip) const { return (ip & mask) == network; }
    std::string Text() const {
        return Ipv4Text(Bytes(network)) + "/" + std::to_string(prefixLength);
    }
};

std::optional<Subnet> SubnetOf(const StationSubnet& station) {
    if (station.prefixLength == 0 || station.prefixLength > kMaxPrefixLength) {
        return std::nullopt;
    }
    const std::uint32_t mask = ~std::uint32_t{0} << (kMaxPrefixLength - station.prefixLength);
    return Subnet{Value(station.address) & mask, mask, station.prefixLength};
}

// Why no unit can have this address, or nothing when it can.
std::optional<std::string> UnusableBecause(const Ipv4Bytes& ip, const std::optional<Subnet>& net) {
    const std::uint32_t v = Value(ip);
    if (v == 0) {
        return "the unset address";
    }
    if (v == ~std::uint32_t{0}) {
        return "the limited broadcast address";
    }
    if (ip[0] == 127) {
        return "a loopback address";
    }
    if ((ip[0] & 0xf0) == 224) {
        return "a multicast address";
    }
    if (net && net->prefixLength <= kMaxPrefixWithBroadcast && net->Holds(v)) {
        if (v == net->network) {
            return "the network address of " + net->Text();
        }
        if (v == (net->network | ~net->mask)) {
            return "the broadcast address of " + net->Text();
        }
    }
    return std::nullopt;
}

std::string UnitText(const DeviceRecord& r) {
    return NameText(r.Name) + " [" + MacText(r.Mac) + "]";
}

// The one unit by name and MAC, or how many there are.
std::string Who(const std::vector<const DeviceRecord*>& units) {
    return units.size() == 1 ? UnitText(*units.front()) : std::to_string(units.size()) + " units";
}

std::vector<MacBytes> Macs(const std::vector<const DeviceRecord*>& units) {
    std::vector<MacBytes> macs;
    for (const DeviceRecord* r : units) {
        macs.push_back(r->Mac);
    }
    return macs;
}

// Groups of records by a key, the groups in the order their first record comes.
template <typename Key>
class Groups {
  public:
    void Add(const Key& key, const DeviceRecord& r) {
        const auto [it, fresh] = index_.emplace(key, groups_.size());
        if (fresh) {
            groups_.push_back({key, {}});
        }
        groups_[it->second].second.push_back(&r);
    }
    const auto& All() const { return groups_; }

  private:
    std::map<Key, std::size_t> index_;
    std::vector<std::pair<Key, std::vector<const DeviceRecord*>>> groups_;
};

class Checker {
  public:
    Checker(const std::vector<DeviceRecord>& units, const StationSubnet& station)
        : units_(units), station_(station), subnet_(SubnetOf(station)) {}

    void Addresses() {
        Groups<Ipv4Bytes> byAddress;
        for (const DeviceRecord& r : units_) {
            byAddress.Add(r.Ip, r);
        }
        for (const auto& [ip, users] : byAddress.All()) {
            const std::string address = Ipv4Text(ip);
            if (users.size() > 1) {
                Error("address-shared", users,
                      address + " is used by " + std::to_string(users.size()) + " units.");
            }
            if (ip == station_.address && ip != Ipv4Bytes{}) {
                Error(
                    "address-station", users,
                    address + " is this station's own address but is used by " + Who(users) + ".");
            }
            if (const auto why = UnusableBecause(ip, subnet_)) {
                Error("address-unusable", users,
                      address + " is " + *why + " but is used by " + Who(users) + ".");
            }
        }
    }

    void Warnings() {
        Groups<std::string> byName;
        for (const DeviceRecord& r : units_) {
            byName.Add(NameText(r.Name), r);
            byMac_.emplace(r.Mac, &r);  // the links' look-up; the address checks need none
        }
        for (const auto& [name, users] : byName.All()) {
            if (users.size() > 1) {
                Warn("name-shared", users,
                     (name.empty() ? std::string("No name") : "The name " + name) + " is used by " +
                         std::to_string(users.size()) + " units.");
            }
        }
        for (const DeviceRecord& r : units_) {
            if (subnet_ && !subnet_->Holds(Value(r.Ip)) && !UnusableBecause(r.Ip, subnet_)) {
                Warn("address-outside-subnet", {&r},
                     UnitText(r) + " has " + Ipv4Text(r.Ip) + ", outside the adapter's subnet " +
                         subnet_->Text() + ".");
            }
        }
        for (const DeviceRecord& r : units_) {
            Links(r);
        }
        for (const DeviceRecord& r : units_) {
            if (r.Kind != kKindReceiver && r.Kind != kKindTransmitter) {
                Warn("kind-unknown", {&r},
                     UnitText(r) + " reports kind " + std::to_string(r.Kind) +
                         ", neither Receiver (0) nor Transmitter (1).");
            } else if (r.Kind == kKindTransmitter && r.Mode != kModeMulticast &&
                       r.Mode != kModeUnicast) {
                Warn("mode-unknown", {&r},
                     UnitText(r) + " is a Transmitter in mode " + std::to_string(r.Mode) +
                         ", neither multicast (0) nor unicast (1).");
            }
        }
    }

    std::vector<Finding> Findings() {
        std::vector<Finding> all = std::move(errors_);
        all.insert(all.end(), warnings_.begin(), warnings_.end());
        return all;
    }

  private:
    const DeviceRecord* Find(const MacBytes& mac) const {
        const auto it = byMac_.find(mac);
        return it == byMac_.end() ? nullptr : it->second;
    }

    // A link to a unit that did not answer; units: the unit that names it, then its MAC.
    void Silent(const DeviceRecord& r, const MacBytes& named, const std::string& as) {
        Warn(
            "link-unanswered", {&r},
            UnitText(r) + " names " + MacText(named) + " as its " + as + ", which did not answer.");
        warnings_.back().units.push_back(named);
    }

    void Links(const DeviceRecord& r) {
        if (r.Kind == kKindReceiver && !IsEmpty(r.T1Mac) && Find(r.T1Mac) == nullptr) {
            Silent(r, r.T1Mac, "Transmitter");
        }
        if (r.Kind != kKindTransmitter || r.Mode != kModeUnicast) {
            return;  // a multicast Transmitter's Receivers are known only from their own links
        }
        const MacBytes* slots[] = {&r.T1Mac, &r.T2Mac, &r.T3Mac};
        for (std::size_t slot = 0; slot < 3; ++slot) {
            if (!IsEmpty(*slots[slot]) && Find(*slots[slot]) == nullptr) {
                Silent(r, *slots[slot], std::string(kSlotWords[slot]) + " Receiver");
            }
        }
        // Only the main slot must be named back: a backup's own link may name another unit.
        const DeviceRecord* main = Find(r.T1Mac);
        if (main == nullptr || main->Kind != kKindReceiver || main->T1Mac == r.Mac) {
            return;
        }
        const DeviceRecord* named = Find(main->T1Mac);
        const std::string says = IsEmpty(main->T1Mac) ? "names no Transmitter"
                                 : named != nullptr   ? "names " + UnitText(*named)
                                                      : "names " + MacText(main->T1Mac);
        Warn("main-link-disagrees", {&r, main},
             UnitText(r) + " has " + UnitText(*main) + " as its main Receiver, but " +
                 NameText(main->Name) + " " + says +
                 (IsEmpty(main->T1Mac) ? "." : " as its Transmitter."));
    }

    void Error(const char* code, const std::vector<const DeviceRecord*>& units,
               std::string message) {
        errors_.push_back({code, FindingSeverity::Error, Macs(units), std::move(message)});
    }
    void Warn(const char* code, const std::vector<const DeviceRecord*>& units,
              std::string message) {
        warnings_.push_back({code, FindingSeverity::Warning, Macs(units), std::move(message)});
    }

    const std::vector<DeviceRecord>& units_;
    const StationSubnet station_;
    const std::optional<Subnet> subnet_;
    std::map<MacBytes, const DeviceRecord*> byMac_;  // the first record of a MAC
    std::vector<Finding> errors_;
    std::vector<Finding> warnings_;
};

}  // namespace

const char* SeverityText(FindingSeverity severity) {
    return severity == FindingSeverity::Error ? "error" : "warning";
}

std::uint32_t Ipv4Value(const Ipv4Bytes& ip) {
    return Value(ip);
}

Ipv4Bytes Ipv4FromValue(std::uint32_t value) {
    return Bytes(value);
}

std::optional<std::string> AddressUnusableBecause(const Ipv4Bytes& ip,
                                                  const StationSubnet& station) {
    return UnusableBecause(ip, SubnetOf(station));
}

std::optional<SubnetSpan> StationSubnetSpan(const StationSubnet& station) {
    const auto net = SubnetOf(station);
    if (!net) {
        return std::nullopt;
    }
    return SubnetSpan{net->network, net->network | ~net->mask, net->Text()};
}

std::vector<Finding> CheckInstallation(const std::vector<DeviceRecord>& units,
                                       const StationSubnet& station) {
    Checker checker(units, station);
    checker.Addresses();
    checker.Warnings();
    return checker.Findings();
}

std::vector<Finding> CheckAddresses(const std::vector<DeviceRecord>& units,
                                    const StationSubnet& station) {
    Checker checker(units, station);
    checker.Addresses();
    return checker.Findings();
}

std::vector<std::string> AddressConflictLines(const std::vector<Finding>& findings,
                                              std::size_t limit) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < findings.size() && i < limit; ++i) {
        lines.push_back("Address conflict: " + findings[i].message);
    }
    if (findings.size() > limit) {
        const std::size_t more = findings.size() - limit;
        lines.push_back(std::to_string(more) +
                        (more == 1 ? " more address conflict." : " more address conflicts."));
    }
    return lines;
}
