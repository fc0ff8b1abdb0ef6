#include "cli/ctl_plan.h"

#include <algorithm>
#include <map>

#include "cli/ctl_text.h"
#include "views/labels.h"

namespace {

constexpr PeerSlot kSlots[] = {PeerSlot::Main, PeerSlot::Backup1, PeerSlot::Backup2};
constexpr MacBytes kNoMac{};

// Where the file puts a Receiver.
struct Place {
    enum class Kind { Free, Slot, Fed, With } kind = Kind::Free;
    MacBytes transmitter{};
    PeerSlot slot = PeerSlot::Main;
};

bool IsUnicast(const DeviceRecord& r) {
    return ModeLowByte(r) != kModeMulticastLowByte;
}

std::map<MacBytes, Place> PlacesOf(const Installation& installation) {
    std::map<MacBytes, Place> places;
    for (const InstalledUnit& u : installation.units) {
        for (const PeerSlot slot : kSlots) {
            if (const auto& rx = u.slots[static_cast<std::size_t>(slot)]) {
                places[*rx] = {Place::Kind::Slot, u.mac, slot};
            }
        }
        for (const MacBytes& rx : u.receivers) {
            places[rx] = {Place::Kind::Fed, u.mac, PeerSlot::Main};
        }
    }
    for (const InstalledUnit& u : installation.units) {
        if (!u.transmitter && places.count(u.mac) == 0) {
            const bool with = u.transmitterOf && *u.transmitterOf;
            places[u.mac] = {with ? Place::Kind::With : Place::Kind::Free,
                             with ? **u.transmitterOf : kNoMac, PeerSlot::Main};
        }
    }
    return places;
}

bool NameHolds(const std::string& wanted, const DeviceRecord& r) {
    if (Latin1ToUtf8(NameText(r.Name)) == wanted) {
        return true;
    }
    const NameCheck check = CheckDeviceName(wanted);
    return check.verdict == NameVerdict::Accepted && check.field == r.Name;
}

// The Receiver is where the file puts it (in the right slot when its Transmitter answered).
bool PlaceHolds(const Place& place, const DeviceRecord& rx, const UnitRecords& units) {
    if (place.kind == Place::Kind::Free) {
        return IsEmptyMac(rx.T1Mac);
    }
    if (rx.T1Mac != place.transmitter) {
        return false;
    }
    const auto tx = units.find(place.transmitter);
    return place.kind != Place::Kind::Slot || tx == units.end() ||
           SlotMac(tx->second, place.slot) == rx.Mac;
}

std::string Named(const MacBytes& mac, const UnitRecords& units) {
    const auto it = units.find(mac);
    return it == units.end() ? MacText(mac)
                             : DisplayText(NameText(it->second.Name)) + " [" + MacText(mac) + "]";
}

// Frees a Receiver from the Transmitter it names, on both ends.
void Release(DeviceRecord& rx, UnitRecords& units) {
    if (const auto tx = units.find(rx.T1Mac); tx != units.end() && IsUnicast(tx->second)) {
        for (const PeerSlot slot : kSlots) {
            if (SlotMac(tx->second, slot) == rx.Mac) {
                SlotMac(tx->second, slot) = kNoMac;
            }
        }
    }
    rx.T1Mac = kNoMac;
    rx.PeerIp = {};
}

class Planner {
  public:
    Planner(const Installation& installation, const std::vector<DeviceRecord>& current)
        : installation_(installation), places_(PlacesOf(installation)) {
        for (const DeviceRecord& r : current) {
            model_.emplace(r.Mac, r);
        }
    }

    Plan Run() {
        for (const InstalledUnit& u : installation_.units) {
            if (model_.count(u.mac) == 0) {
                plan_.missing.push_back(u.mac);
            }
        }
        Names();
        Addresses();
        Modes();
        Detaches();
        Attaches();
        std::string difference;
        if (plan_.problems.empty() && plan_.skipped.empty() &&
            !InstallationHolds(installation_, model_, &difference)) {
            plan_.problems.push_back("no plan reaches the file: " + difference);
        }
        return plan_;
    }

  private:
    bool Present(const MacBytes& mac) const { return model_.count(mac) != 0; }

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
            if (IsTransmitter(model_.at(u.mac)) != u.transmitter) {
                plan_.problems.push_back(Named(u.mac, model_) + " is a " +
                                         (u.transmitter ? "Receiver" : "Transmitter") +
                                         "; no command changes a unit's kind");
            }
            if (NameHolds(u.name, model_.at(u.mac))) {
                continue;
            }
            OperationInput input{CtlOperation::Rename, u.name};
            if (const auto refusal = CheckOperationInput(input)) {
                plan_.problems.push_back(Named(u.mac, model_) + ": the name " + u.name +
                                         " cannot be set: " + *refusal);
                continue;
            }
            Add({input, u.mac, std::nullopt});
        }
    }

    const DeviceRecord* HolderOf(const Ipv4Bytes& ip, const MacBytes& except) const {
        for (const auto& [mac, r] : model_) {
            if (r.Ip == ip && mac != except) {
                return &r;
            }
        }
        return nullptr;
    }

    void Addresses() {
        std::vector<const InstalledUnit*> moves;
        for (const InstalledUnit& u : installation_.units) {
            if (Present(u.mac) && model_.at(u.mac).Ip != u.ip) {
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
        }
        for (const InstalledUnit* u : moves) {
            const DeviceRecord* holder = HolderOf(u->ip, u->mac);
            const bool holderMoves = std::any_of(moves.begin(), moves.end(),
                                                 [&](auto* m) { return m->mac == holder->Mac; });
            plan_.problems.push_back(
                Named(u->mac, model_) + " cannot take " + Ipv4Text(u->ip) + ": " +
                Named(holder->Mac, model_) +
                (holderMoves ? " has it and waits for another address in a circle; move one "
                               "of them to a free address first"
                             : " has it and keeps it"));
        }
    }

    void Modes() {
        for (const InstalledUnit& u : installation_.units) {
            if (!Present(u.mac) || !u.transmitter || !u.mode || !IsTransmitter(model_.at(u.mac)) ||
                ModeLowByte(model_.at(u.mac)) == static_cast<std::uint8_t>(*u.mode)) {
                continue;
            }
            OperationInput input;
            input.operation = CtlOperation::SetMode;
            input.mode = *u.mode;
            Add({input, u.mac, std::nullopt});
        }
    }

    // The first slot of a unicast Transmitter of the file that differs; nothing when none does.
    std::optional<int> FirstWrongSlot(const InstalledUnit& u) const {
        if (!Present(u.mac) || u.mode != Topology::Unicast || !IsUnicast(model_.at(u.mac))) {
            return std::nullopt;
        }
        for (int s = 0; s < 3; ++s) {
            const MacBytes want = u.slots[static_cast<std::size_t>(s)].value_or(kNoMac);
            if (SlotMac(model_.at(u.mac), kSlots[s]) != want) {
                return s;
            }
        }
        return std::nullopt;
    }

    void Detaches() {
        for (const InstalledUnit& u : installation_.units) {
            const auto first = FirstWrongSlot(u);
            for (int s = 2; first && s >= *first; --s) {
                const MacBytes occupant = SlotMac(model_.at(u.mac), kSlots[s]);
                if (!IsEmptyMac(occupant)) {
                    AddConnection(CtlOperation::Detach, u.mac, occupant, PeerSlot::Main);
                }
            }
        }
        for (const auto& [rx, place] : places_) {
            if (!Present(rx) || IsEmptyMac(model_.at(rx).T1Mac) ||
                PlaceHolds(place, model_.at(rx), model_)) {
                continue;
            }
            const MacBytes from = model_.at(rx).T1Mac;
            if (place.kind == Place::Kind::With) {
                plan_.problems.push_back(Named(rx, model_) + " cannot be attached to " +
                                         MacText(place.transmitter) + ", which is not in the file");
                continue;
            }
            AddConnection(CtlOperation::Detach, from, rx, PeerSlot::Main);
        }
    }

    void Attaches() {
        for (const InstalledUnit& u : installation_.units) {
            if (!Present(u.mac) || !u.transmitter || !u.mode) {
                continue;
            }
            if (*u.mode == Topology::Unicast) {
                for (const PeerSlot slot : kSlots) {
                    const auto& want = u.slots[static_cast<std::size_t>(slot)];
                    if (want && SlotMac(model_.at(u.mac), slot) != *want) {
                        AddConnection(CtlOperation::Attach, u.mac, *want, slot);
                    }
                }
                continue;
            }
            for (const MacBytes& rx : u.receivers) {
                if (!Present(rx) || model_.at(rx).T1Mac != u.mac) {
                    AddConnection(CtlOperation::Attach, u.mac, rx, PeerSlot::Main);
                }
            }
        }
    }

    const Installation& installation_;
    const std::map<MacBytes, Place> places_;
    UnitRecords model_;
    Plan plan_;
};

}  // namespace

Plan ComputePlan(const Installation& installation, const std::vector<DeviceRecord>& current) {
    return Planner(installation, current).Run();
}

bool InstallationHolds(const Installation& installation, const UnitRecords& units,
                       std::string* difference) {
    const auto differs = [&](const MacBytes& mac, const std::string& what) {
        if (difference != nullptr) {
            *difference = Named(mac, units) + ": " + what;
        }
        return false;
    };
    for (const InstalledUnit& u : installation.units) {
        const auto it = units.find(u.mac);
        if (it == units.end()) {
            continue;
        }
        const DeviceRecord& r = it->second;
        if (!NameHolds(u.name, r)) {
            return differs(u.mac, "name is not " + u.name);
        }
        if (r.Ip != u.ip) {
            return differs(u.mac, "address is not " + Ipv4Text(u.ip));
        }
        if (IsTransmitter(r) != u.transmitter) {
            return differs(u.mac, "kind differs");
        }
        if (u.mode && ModeLowByte(r) != static_cast<std::uint8_t>(*u.mode)) {
            return differs(u.mac, "mode differs");
        }
        for (const PeerSlot slot : kSlots) {
            if (u.mode == Topology::Unicast &&
                SlotMac(r, slot) != u.slots[static_cast<std::size_t>(slot)].value_or(kNoMac)) {
                return differs(u.mac, "Receivers differ");
            }
        }
    }
    for (const auto& [rx, place] : PlacesOf(installation)) {
        const auto it = units.find(rx);
        if (it != units.end() && !PlaceHolds(place, it->second, units)) {
            return differs(rx, "attached elsewhere");
        }
    }
    return true;
}

void ApplyStep(const PlanStep& step, UnitRecords& units) {
    DeviceRecord& unit = units.at(step.unit);
    switch (step.input.operation) {
        case CtlOperation::Rename:
            unit.Name = CheckDeviceName(step.input.text).field;
            return;
        case CtlOperation::SetIp:
            unit.Ip = ParseAcceptedIpText(step.input.text).value_or(unit.Ip);
            return;
        case CtlOperation::SetMode:
            // A new mode drops every attachment, on both ends.
            for (auto& [mac, r] : units) {
                if (!IsTransmitter(r) && r.T1Mac == unit.Mac) {
                    r.T1Mac = kNoMac;
                    r.PeerIp = {};
                }
            }
            unit.T1Mac = unit.T2Mac = unit.T3Mac = kNoMac;
            unit.Mode = static_cast<std::uint16_t>(step.input.mode);
            return;
        case CtlOperation::Attach:
        case CtlOperation::Detach:
            break;
    }
    DeviceRecord& rx = units.at(*step.other);
    if (step.input.operation == CtlOperation::Detach) {
        const bool wasMain = IsUnicast(unit) && unit.T1Mac == rx.Mac;
        Release(rx, units);
        if (wasMain && !(IsEmptyMac(unit.T2Mac) && IsEmptyMac(unit.T3Mac))) {
            // The first backup, else the second, moves up to main Receiver.
            MacBytes& from = IsEmptyMac(unit.T2Mac) ? unit.T3Mac : unit.T2Mac;
            unit.T1Mac = from;
            from = kNoMac;
        }
        return;
    }
    Release(rx, units);
    if (IsUnicast(unit) || step.input.slot != PeerSlot::Main) {
        MacBytes& slot = SlotMac(unit, step.input.slot);
        if (const auto old = units.find(slot);
            old != units.end() && old->second.T1Mac == unit.Mac) {
            old->second.T1Mac = kNoMac;  // the slot's previous Receiver is set free
        }
        slot = rx.Mac;
    }
    rx.T1Mac = unit.Mac;
}
