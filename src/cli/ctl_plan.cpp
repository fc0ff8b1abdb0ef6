#include "cli/ctl_plan.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "cli/ctl_output.h"
#include "cli/ctl_text.h"
#include "protocol/request_effects.h"
#include "views/labels.h"

namespace {

constexpr PeerSlot kSlots[] = {PeerSlot::Main, PeerSlot::Backup1, PeerSlot::Backup2};
constexpr MacBytes kNoMac{};

bool IsUnicast(const DeviceRecord& r) {
    return ModeLowByte(r) != kModeMulticastLowByte;
}

MacBytes Wanted(const InstalledUnit& u, PeerSlot slot) {
    return u.slots[static_cast<std::size_t>(slot)].value_or(kNoMac);
}

bool NameHolds(const std::string& wanted, const DeviceRecord& r) {
    if (Latin1ToUtf8(NameText(r.Name)) == wanted) {
        return true;
    }
    const NameCheck check = CheckDeviceName(wanted);
    return check.verdict == NameVerdict::Accepted && check.field == r.Name;
}

// A unit's record by MAC; nullptr for one that did not answer.
using FindUnitRecord = std::function<const DeviceRecord*(const MacBytes&)>;

std::string Named(const MacBytes& mac, const FindUnitRecord& find) {
    const DeviceRecord* r = find(mac);
    return r == nullptr ? MacText(mac) : DisplayText(NameText(r->Name)) + " [" + MacText(mac) + "]";
}

Json ModeJson(std::optional<Topology> mode) {
    return !mode ? Json(nullptr) : Json(*mode == Topology::Unicast ? "unicast" : "multicast");
}

Json ModeJson(const DeviceRecord& r) {
    const std::uint8_t mode = ModeLowByte(r);
    return mode > 1 ? Json(nullptr) : ModeJson(static_cast<Topology>(mode));
}

// Every field of the file that the units do not show; stops at the first when `first`.
std::vector<FieldDifference> Differences(const Installation& installation,
                                         const FindUnitRecord& find, bool first) {
    std::vector<FieldDifference> found;
    const auto differs = [&](const MacBytes& mac, const char* field, Json file, Json unit) {
        found.push_back({mac, field, std::move(file), std::move(unit)});
        return first;
    };
    for (const InstalledUnit& u : installation.units) {
        const DeviceRecord* r = find(u.mac);
        if (r == nullptr) {
            continue;
        }
        if (!NameHolds(u.name, *r) &&
            differs(u.mac, "name", u.name, Latin1ToUtf8(NameText(r->Name)))) {
            return found;
        }
        if (r->Ip != u.ip && differs(u.mac, "ip", Ipv4Text(u.ip), Ipv4Text(r->Ip))) {
            return found;
        }
        if (IsTransmitter(*r) != u.transmitter &&
            differs(u.mac, "kind", u.transmitter ? "transmitter" : "receiver",
                    IsTransmitter(*r) ? "transmitter" : "receiver")) {
            return found;
        }
        if (u.mode && ModeLowByte(*r) != static_cast<std::uint8_t>(*u.mode) &&
            differs(u.mac, "mode", ModeJson(u.mode), ModeJson(*r))) {
            return found;
        }
        static constexpr const char* kSlotFields[] = {"main", "backup1", "backup2"};
        for (const PeerSlot slot : kSlots) {
            if (u.mode == Topology::Unicast && SlotMac(*r, slot) != Wanted(u, slot) &&
                differs(u.mac, kSlotFields[static_cast<int>(slot)], OptionalMac(Wanted(u, slot)),
                        OptionalMac(SlotMac(*r, slot)))) {
                return found;
            }
        }
    }
    for (const auto& [rx, link] : installation.WantedLinks()) {
        const DeviceRecord* r = find(rx);
        if (r != nullptr && r->T1Mac != link.value_or(kNoMac) &&
            differs(rx, "transmitter", OptionalMac(link.value_or(kNoMac)), OptionalMac(r->T1Mac))) {
            return found;
        }
    }
    return found;
}

// The first difference for people; empty when there is none.
std::string FirstDifference(const Installation& installation, const FindUnitRecord& find) {
    const std::vector<FieldDifference> found = Differences(installation, find, true);
    if (found.empty()) {
        return {};
    }
    const FieldDifference& d = found.front();
    const auto text = [](const Json& value) {
        return value.is_null() ? std::string("none") : value.get<std::string>();
    };
    return Named(d.unit, find) + ": " + d.field + " is " + text(d.units) + ", not " + text(d.file);
}

class Planner {
  public:
    Planner(const Installation& installation, const std::vector<DeviceRecord>& current,
            const std::vector<Ipv4Bytes>& spares)
        : installation_(installation),
          links_(installation.WantedLinks()),
          spares_(spares),
          model_(current) {
        for (std::size_t i = 0; i < model_.size(); ++i) {
            index_.emplace(model_[i].Mac, i);
        }
    }

    Plan Run() {
        for (const InstalledUnit& u : installation_.units) {
            if (!Present(u.mac)) {
                plan_.missing.push_back(u.mac);
            }
        }
        Names();
        Addresses();
        Modes();
        EmptyWrongSlots();
        ClearLinks();
        LinkToMulticast();
        UnicastMains();
        UnicastBackups();
        if (plan_.problems.empty() && plan_.skipped.empty()) {
            const std::string difference = FirstDifference(installation_, Finder());
            if (!difference.empty()) {
                plan_.problems.push_back("no request the units take gives " + difference);
            }
        }
        return plan_;
    }

  private:
    const DeviceRecord* Get(const MacBytes& mac) const {
        const auto it = index_.find(mac);
        return it == index_.end() ? nullptr : &model_[it->second];
    }
    bool Present(const MacBytes& mac) const { return Get(mac) != nullptr; }
    const DeviceRecord& At(const MacBytes& mac) const { return *Get(mac); }
    FindUnitRecord Finder() const {
        return [this](const MacBytes& mac) { return Get(mac); };
    }
    std::string Name(const MacBytes& mac) const { return Named(mac, Finder()); }
    bool IsTransmitterOfMode(const MacBytes& mac, bool unicast) const {
        const DeviceRecord* r = Get(mac);
        return r != nullptr && IsTransmitter(*r) && IsUnicast(*r) == unicast;
    }
    // The unicast Transmitters of the file whose mode the model shows.
    template <typename Visit>
    void ForEachUnicast(Visit visit) const {
        for (const InstalledUnit& u : installation_.units) {
            if (u.mode == Topology::Unicast && IsTransmitterOfMode(u.mac, true)) {
                visit(u);
            }
        }
    }

    void Add(const PlanStep& step) {
        ApplyStep(step, model_);
        plan_.steps.push_back(step);
    }

    // A connection step needs both units' records for its request.
    void AddConnection(CtlOperation operation, const MacBytes& tx, const MacBytes& rx,
                       PeerSlot slot) {
        for (const MacBytes& mac : {tx, rx}) {
            if (!Present(mac)) {
                plan_.skipped.push_back(
                    std::string(operation == CtlOperation::Attach ? "attach " : "detach ") +
                    MacText(rx) + " and " + MacText(tx) + ": " + MacText(mac) + " did not answer");
                return;
            }
        }
        OperationInput input;
        input.operation = operation;
        input.slot = slot;
        Add({input, tx, rx});
    }

    void Names() {
        for (const InstalledUnit& u : installation_.units) {
            if (!Present(u.mac)) {
                continue;
            }
            if (IsTransmitter(At(u.mac)) != u.transmitter) {
                plan_.problems.push_back(Name(u.mac) + " is a " +
                                         (u.transmitter ? "Receiver" : "Transmitter") +
                                         "; no command changes a unit's kind");
            }
            if (NameHolds(u.name, At(u.mac))) {
                continue;
            }
            OperationInput input{CtlOperation::Rename, u.name};
            if (const auto refusal = CheckOperationInput(input)) {
                plan_.problems.push_back(Name(u.mac) + ": the name " + u.name +
                                         " cannot be set: " + *refusal);
                continue;
            }
            Add({input, u.mac, std::nullopt});
        }
    }

    const DeviceRecord* HolderOf(const Ipv4Bytes& ip, const MacBytes& except) const {
        for (const DeviceRecord& r : model_) {
            if (r.Ip == ip && r.Mac != except) {
                return &r;
            }
        }
        return nullptr;
    }

    void Addresses() {
        std::vector<const InstalledUnit*> moves;
        for (const InstalledUnit& u : installation_.units) {
            if (Present(u.mac) && At(u.mac).Ip != u.ip) {
                moves.push_back(&u);
            }
        }
        // A unit moves once nobody holds its new address; a holder that moves on frees it.
        for (bool progress = true; progress && !moves.empty();) {
            progress = false;
            for (auto it = moves.begin(); it != moves.end();) {
                if (HolderOf((*it)->ip, (*it)->mac) != nullptr) {
                    ++it;
                    continue;
                }
                Add({{CtlOperation::SetIp, Ipv4Text((*it)->ip)}, (*it)->mac, std::nullopt});
                it = moves.erase(it);
                progress = true;
            }
            progress = progress || StepAside(moves);
        }
        for (const InstalledUnit* u : moves) {
            const DeviceRecord* holder = HolderOf(u->ip, u->mac);
            const bool holderMoves = std::any_of(moves.begin(), moves.end(),
                                                 [&](auto* m) { return m->mac == holder->Mac; });
            plan_.problems.push_back(
                Name(u->mac) + " cannot take " + Ipv4Text(u->ip) + ": " + Name(holder->Mac) +
                (holderMoves ? " has it and waits for another address in a circle; move one "
                               "of them to a free address first"
                             : " has it and keeps it"));
        }
    }

    // When every waiting unit waits for another, one whose address another waits for steps
    // aside to a spare address, once: that address is free then, and the circle unwinds.
    bool StepAside(const std::vector<const InstalledUnit*>& moves) {
        const auto wanted = [&](const Ipv4Bytes& ip) {
            return std::any_of(installation_.units.begin(), installation_.units.end(),
                               [&](const InstalledUnit& u) { return u.ip == ip; });
        };
        const auto spare = std::find_if(spares_.begin(), spares_.end(), [&](const Ipv4Bytes& ip) {
            return HolderOf(ip, kNoMac) == nullptr && !wanted(ip);
        });
        if (spare == spares_.end()) {
            return false;
        }
        for (const InstalledUnit* u : moves) {
            const DeviceRecord* holder = HolderOf(u->ip, u->mac);
            const bool waitsForMover = std::any_of(moves.begin(), moves.end(), [&](auto* m) {
                return holder != nullptr && m->mac == holder->Mac;
            });
            const bool awaited = std::any_of(moves.begin(), moves.end(), [&](auto* m) {
                return m->ip == At(u->mac).Ip && m->mac != u->mac;
            });
            if (waitsForMover && awaited && steppedAside_.insert(u->mac).second) {
                Add({{CtlOperation::SetIp, Ipv4Text(*spare)}, u->mac, std::nullopt});
                return true;
            }
        }
        return false;
    }

    void Modes() {
        for (const InstalledUnit& u : installation_.units) {
            if (!Present(u.mac) || !u.transmitter || !u.mode || !IsTransmitter(At(u.mac)) ||
                ModeLowByte(At(u.mac)) == static_cast<std::uint8_t>(*u.mode)) {
                continue;
            }
            OperationInput input;
            input.operation = CtlOperation::SetMode;
            input.mode = *u.mode;
            Add({input, u.mac, std::nullopt});
        }
    }

    // Empties a unicast Transmitter's slots from the last down to `from`, so that no backup
    // moves up into a slot that is being emptied.
    void EmptySlotsFrom(const MacBytes& tx, int from) {
        for (int s = 2; s >= from; --s) {
            const MacBytes occupant = SlotMac(At(tx), kSlots[s]);
            if (!IsEmptyMac(occupant)) {
                AddConnection(CtlOperation::Detach, tx, occupant, PeerSlot::Main);
            }
        }
    }

    // Slots the file wants empty. A slot that should name another Receiver is simply set
    // later: an Add replaces what it held.
    void EmptyWrongSlots() {
        ForEachUnicast([&](const InstalledUnit& u) {
            for (int s = 2; s >= 0; --s) {
                const MacBytes occupant = SlotMac(At(u.mac), kSlots[s]);
                if (IsEmptyMac(occupant) || !IsEmptyMac(Wanted(u, kSlots[s]))) {
                    continue;
                }
                if (s == 0) {
                    EmptySlotsFrom(u.mac, 1);  // the backups come back later
                }
                AddConnection(CtlOperation::Detach, u.mac, occupant, PeerSlot::Main);
            }
        });
    }

    // A link that should be empty goes with a Delete at the Transmitter it names. A unicast
    // one takes a Delete only for a Receiver in its slots: one its link merely names is made
    // its main Receiver first.
    void ClearLinks() {
        for (const auto& [rx, link] : links_) {
            if (link || !Present(rx) || IsEmptyMac(At(rx).T1Mac)) {
                continue;
            }
            const MacBytes tx = At(rx).T1Mac;
            const DeviceRecord* holder = Get(tx);
            if (holder == nullptr || !IsTransmitter(*holder)) {
                plan_.problems.push_back(Name(rx) + ": its link to " + MacText(tx) +
                                         " cannot be cleared: that unit did not answer or is "
                                         "not a Transmitter");
                continue;
            }
            if (IsUnicast(*holder) && !SlotHolding(*holder, rx)) {
                EmptySlotsFrom(tx, 1);
                AddConnection(CtlOperation::Attach, tx, rx, PeerSlot::Main);
            } else if (IsUnicast(*holder) && holder->T1Mac == rx) {
                EmptySlotsFrom(tx, 1);  // so that no backup moves up
            }
            AddConnection(CtlOperation::Detach, tx, rx, PeerSlot::Main);
        }
    }

    void LinkToMulticast() {
        for (const auto& [rx, link] : links_) {
            if (link && Present(rx) && At(rx).T1Mac != *link && IsTransmitterOfMode(*link, false)) {
                AddConnection(CtlOperation::Attach, *link, rx, PeerSlot::Main);
            }
        }
    }

    // Main Receivers, after the Receivers whose own link should name a unicast Transmitter
    // whose main they are not: the only request that sets such a link is an Add of the
    // Receiver as main, which the file's main then replaces.
    void UnicastMains() {
        ForEachUnicast([&](const InstalledUnit& u) {
            const MacBytes main = Wanted(u, PeerSlot::Main);
            for (const auto& [rx, link] : links_) {
                if (link == u.mac && rx != main && Present(rx) && At(rx).T1Mac != u.mac &&
                    !IsEmptyMac(main)) {
                    AddConnection(CtlOperation::Attach, u.mac, rx, PeerSlot::Main);
                }
            }
            const auto wantedLink = links_.find(main);
            const bool linkWrong = wantedLink != links_.end() && wantedLink->second == u.mac &&
                                   Present(main) && At(main).T1Mac != u.mac;
            if (!IsEmptyMac(main) && (SlotMac(At(u.mac), PeerSlot::Main) != main || linkWrong)) {
                AddConnection(CtlOperation::Attach, u.mac, main, PeerSlot::Main);
            }
        });
    }

    void UnicastBackups() {
        ForEachUnicast([&](const InstalledUnit& u) {
            for (const PeerSlot slot : {PeerSlot::Backup1, PeerSlot::Backup2}) {
                const MacBytes want = Wanted(u, slot);
                if (!IsEmptyMac(want) && SlotMac(At(u.mac), slot) != want) {
                    AddConnection(CtlOperation::Attach, u.mac, want, slot);
                }
            }
        });
    }

    const Installation& installation_;
    const std::map<MacBytes, std::optional<MacBytes>> links_;
    const std::vector<Ipv4Bytes> spares_;
    std::set<MacBytes> steppedAside_;  // each unit steps aside once at most
    std::vector<DeviceRecord> model_;
    std::map<MacBytes, std::size_t> index_;
    Plan plan_;
};

}  // namespace

Plan ComputePlan(const Installation& installation, const std::vector<DeviceRecord>& current,
                 const std::vector<Ipv4Bytes>& spares) {
    return Planner(installation, current, spares).Run();
}

namespace {

FindUnitRecord FinderOf(const UnitRecords& units) {
    return [&units](const MacBytes& mac) -> const DeviceRecord* {
        const auto it = units.find(mac);
        return it == units.end() ? nullptr : &it->second;
    };
}

}  // namespace

std::vector<FieldDifference> InstallationDifferences(const Installation& installation,
                                                     const UnitRecords& units) {
    return Differences(installation, FinderOf(units), false);
}

bool InstallationHolds(const Installation& installation, const UnitRecords& units,
                       std::string* difference) {
    const std::string first = FirstDifference(installation, FinderOf(units));
    if (difference != nullptr) {
        *difference = first;
    }
    return first.empty();
}

void ApplyStep(const PlanStep& step, std::vector<DeviceRecord>& units) {
    const Records records(units);
    switch (step.input.operation) {
        case CtlOperation::Rename:
            RenameEffect(records, step.unit, CheckDeviceName(step.input.text).field);
            return;
        case CtlOperation::SetIp:
            if (const auto ip = ParseAcceptedIpText(step.input.text)) {
                SetIpEffect(records, step.unit, *ip);
            }
            return;
        case CtlOperation::SetMode:
            SetTopologyEffect(records, step.unit, step.input.mode);
            return;
        case CtlOperation::Attach:
            AttachEffect(records, step.unit, *step.other, step.input.slot);
            return;
        case CtlOperation::Detach:
            DetachEffect(records, step.unit, *step.other);
            return;
    }
}
