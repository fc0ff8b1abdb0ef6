#include "sim_units.h"

#include <algorithm>
#include <utility>

namespace vxsim {

using namespace wire;

namespace {

constexpr Mac kNoMac{};
constexpr Ip4 kNoIp{};

void PutBe16(std::span<std::uint8_t> out, std::size_t offset, std::uint16_t value) {
    WriteBe16(out, offset, value);
}

template <std::size_t N>
void Put(std::span<std::uint8_t> out, std::size_t offset, const std::array<std::uint8_t, N>& v) {
    std::copy(v.begin(), v.end(), out.begin() + static_cast<std::ptrdiff_t>(offset));
}

Outcome Refuse(std::string why) {
    Outcome o;
    o.reason = std::move(why);
    return o;
}

Outcome Accept(std::vector<Mac> changed) {
    Outcome o;
    o.accepted = true;
    o.changed = std::move(changed);
    return o;
}

// A unit address must name one host: not 0.0.0.0, loopback, multicast or broadcast.
bool UsableHostAddress(const Ip4& ip) {
    return ip[0] != 0 && ip[0] != 127 && ip[0] < 224;
}

void AddChanged(std::vector<Mac>& changed, const Mac& mac) {
    if (std::find(changed.begin(), changed.end(), mac) == changed.end()) {
        changed.push_back(mac);
    }
}

// A unit's slot: 0 its own link (a Transmitter's main Receiver), 1 and 2 the backups; each a MAC
// and a copy of that unit's address.
Mac& SlotMac(SimUnit& unit, int slot) {
    return slot == 0 ? unit.t1 : slot == 1 ? unit.t2 : unit.t3;
}
Ip4& SlotIp(SimUnit& unit, int slot) {
    return slot == 0 ? unit.peerIp : slot == 1 ? unit.backup1Ip : unit.backup2Ip;
}
constexpr int kSlotCount = 3;

}  // namespace

std::string SimUnit::NameText() const {
    const auto end = std::find(name.begin(), name.end(), std::uint8_t{0});
    return std::string(name.begin(), end);
}

void SimUnit::SetName(const std::string& text) {
    name.fill(0);
    std::copy_n(text.begin(), std::min(text.size(), name.size()), name.begin());
}

std::array<std::uint8_t, kRecordLength> EncodeRecord(const SimUnit& unit) {
    std::array<std::uint8_t, kRecordLength> out{};
    std::span<std::uint8_t> s(out);
    Put(s, kRecName, unit.name);
    PutBe16(s, kRecFirmware, unit.firmware);
    PutBe16(s, kRecTfdpVersion, unit.tfdpVersion);
    Put(s, kRecIp, unit.ip);
    Put(s, kRecMac, unit.mac);
    PutBe16(s, kRecKind, unit.kind);
    PutBe16(s, kRecMode, unit.mode);
    Put(s, kRecPeerIp, unit.peerIp);
    Put(s, kRecBackup1Ip, unit.backup1Ip);
    Put(s, kRecBackup2Ip, unit.backup2Ip);
    Put(s, kRecT1Mac, unit.t1);
    Put(s, kRecT2Mac, unit.t2);
    Put(s, kRecT3Mac, unit.t3);
    return out;
}

const SimUnit* UnitSet::Find(const Mac& mac) const {
    const auto it =
        std::find_if(units_.begin(), units_.end(), [&](const SimUnit& u) { return u.mac == mac; });
    return it == units_.end() ? nullptr : &*it;
}

SimUnit* UnitSet::FindMutable(const Mac& mac) {
    return const_cast<SimUnit*>(std::as_const(*this).Find(mac));
}

bool UnitSet::Add(const SimUnit& unit) {
    if (units_.size() >= kMaxUnits || unit.mac == kNoMac || Find(unit.mac) != nullptr) {
        return false;
    }
    units_.push_back(unit);
    return true;
}

bool UnitSet::Attach(const Mac& transmitter, const Mac& receiver, int slot) {
    SimUnit* tx = FindMutable(transmitter);
    SimUnit* rx = FindMutable(receiver);
    if (tx == nullptr || rx == nullptr || !tx->IsTransmitter() || !rx->IsReceiver() || slot < 0 ||
        slot > 2 || (tx->mode == kModeMulticast && slot != 0)) {
        return false;
    }
    std::vector<Mac> ignored;
    if (tx->mode != kModeMulticast) {
        SetSlotOf(*tx, slot, rx, ignored);
    }
    if (slot == 0) {
        SetOwnLink(*rx, tx, ignored);
    }
    return true;
}

bool UnitSet::SetLink(const Mac& receiver, const Mac* transmitter) {
    SimUnit* rx = FindMutable(receiver);
    const SimUnit* tx = transmitter != nullptr ? Find(*transmitter) : nullptr;
    if (rx == nullptr || (transmitter != nullptr && tx == nullptr)) {
        return false;
    }
    std::vector<Mac> ignored;
    SetOwnLink(*rx, tx, ignored);
    return true;
}

bool UnitSet::SetSlot(const Mac& transmitter, int slot, const Mac* receiver) {
    SimUnit* tx = FindMutable(transmitter);
    const SimUnit* rx = receiver != nullptr ? Find(*receiver) : nullptr;
    if (tx == nullptr || slot < 0 || slot > 2 || (receiver != nullptr && rx == nullptr)) {
        return false;
    }
    std::vector<Mac> ignored;
    SetSlotOf(*tx, slot, rx, ignored);
    return true;
}

void UnitSet::SetOwnLink(SimUnit& receiver, const SimUnit* transmitter, std::vector<Mac>& changed) {
    SetSlotOf(receiver, 0, transmitter, changed);
}

void UnitSet::SetSlotOf(SimUnit& transmitter, int slot, const SimUnit* receiver,
                        std::vector<Mac>& changed) {
    SlotMac(transmitter, slot) = receiver != nullptr ? receiver->mac : kNoMac;
    SlotIp(transmitter, slot) = receiver != nullptr ? receiver->ip : kNoIp;
    AddChanged(changed, transmitter.mac);
}

void UnitSet::ClearSlotsNaming(SimUnit& transmitter, const Mac& receiver,
                               std::vector<Mac>& changed) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (SlotMac(transmitter, slot) == receiver) {
            SetSlotOf(transmitter, slot, nullptr, changed);
        }
    }
}

void UnitSet::Release(const SimUnit& receiver, const SimUnit* except, std::vector<Mac>& changed) {
    SimUnit* holder = FindMutable(receiver.t1);
    if (Alt(Decision::AttachRelease) || holder == nullptr || holder == except ||
        !holder->IsTransmitter() || holder->mode == kModeMulticast) {
        return;
    }
    ClearSlotsNaming(*holder, receiver.mac, changed);
}

Outcome UnitSet::SetName(const Mac& unit, std::span<const std::uint8_t, 16> name) {
    SimUnit* u = FindMutable(unit);
    if (u == nullptr) {
        return Refuse("unknown unit");
    }
    std::copy(name.begin(), name.end(), u->name.begin());
    return Accept({u->mac});
}

Outcome UnitSet::SetIp(const Mac& unit, const Ip4& ip) {
    SimUnit* u = FindMutable(unit);
    if (u == nullptr) {
        return Refuse("unknown unit");
    }
    if (!UsableHostAddress(ip)) {
        return Refuse("not a host address");
    }
    for (const SimUnit& other : units_) {
        if (other.ip == ip && other.mac != u->mac) {
            return Refuse("address in use by " + MacString(other.mac));
        }
    }
    std::vector<Mac> changed{u->mac};
    // Peers that name this unit carry its address too (unless they keep the old copy).
    for (SimUnit& other : units_) {
        for (int slot = 0; slot < kSlotCount && !Alt(Decision::AddressCopies); ++slot) {
            if (SlotMac(other, slot) == u->mac) {
                SlotIp(other, slot) = ip;
                AddChanged(changed, other.mac);
            }
        }
    }
    u->ip = ip;
    return Accept(std::move(changed));
}

Outcome UnitSet::SetMode(const Mac& unit, std::uint16_t mode) {
    SimUnit* tx = FindMutable(unit);
    if (tx == nullptr || !tx->IsTransmitter()) {
        return Refuse("not a transmitter");
    }
    if (mode != kModeMulticast && mode != kModeUnicast) {
        return Refuse("unknown mode " + std::to_string(mode));
    }
    std::vector<Mac> changed{tx->mac};
    // A change of mode, even to the same mode, drops every attachment.
    for (SimUnit& rx : units_) {
        if (&rx != tx && rx.t1 == tx->mac && !Alt(Decision::ModeChangeLinks)) {
            SetOwnLink(rx, nullptr, changed);
        }
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
        SetSlotOf(*tx, slot, nullptr, changed);
    }
    tx->mode = mode;
    return Accept(std::move(changed));
}

Outcome UnitSet::AddMain(SimUnit& tx, SimUnit& rx) {
    std::vector<Mac> changed;
    Release(rx, nullptr, changed);
    if (tx.mode != kModeMulticast) {
        if (SimUnit* previous = FindMutable(tx.t1); previous != nullptr && previous != &rx &&
                                                    previous->t1 == tx.mac &&
                                                    Alt(Decision::ReplacedMain)) {
            SetOwnLink(*previous, nullptr, changed);
        }
        SetSlotOf(tx, 0, &rx, changed);
    }
    SetOwnLink(rx, &tx, changed);
    return Accept(std::move(changed));
}

Outcome UnitSet::AddBackup(SimUnit& tx, SimUnit& rx, int slot) {
    std::vector<Mac> changed;
    const bool linkFollows = Alt(Decision::BackupLink);
    if (linkFollows) {
        // The Receiver the slot held leaves with its link, as the new one comes with its own.
        const Mac& held = slot == 1 ? tx.t2 : tx.t3;
        if (SimUnit* previous = FindMutable(held);
            previous != nullptr && previous != &rx && previous->t1 == tx.mac) {
            SetOwnLink(*previous, nullptr, changed);
        }
        Release(rx, &tx, changed);
    }
    SetSlotOf(tx, slot, &rx, changed);
    if (linkFollows) {
        SetOwnLink(rx, &tx, changed);
    }
    return Accept(std::move(changed));
}

Outcome UnitSet::AddReceiver(const Mac& addressed, const Mac& other, std::uint16_t selector) {
    SimUnit* a = FindMutable(addressed);
    SimUnit* o = FindMutable(other);
    if (a == nullptr || o == nullptr) {
        return Refuse("unknown unit");
    }
    if (selector > 2) {
        return Refuse("selector " + std::to_string(selector));
    }
    if (a->IsTransmitter()) {
        // Unicast: the Transmitter is told its main or backup Receiver. A backup request goes to
        // the Transmitter whatever its mode.
        if (a->mode == kModeMulticast && (selector == 0 || Alt(Decision::MulticastBackup))) {
            return Refuse("multicast transmitter addressed; the receiver should be");
        }
        if (!o->IsReceiver()) {
            return Refuse("other unit is not a receiver");
        }
        if (selector != 0 && a->t1 == o->mac) {
            return Refuse("receiver is already the main receiver");
        }
        return selector == 0 ? AddMain(*a, *o) : AddBackup(*a, *o, selector);
    }
    // Multicast: the Receiver is told its Transmitter.
    if (selector != 0) {
        return Refuse("backup request to a receiver");
    }
    if (!o->IsTransmitter() || o->mode != kModeMulticast) {
        return Refuse("other unit is not a multicast transmitter");
    }
    return AddMain(*o, *a);
}

Outcome UnitSet::DeleteReceiver(const Mac& addressed, const Mac& other) {
    SimUnit* a = FindMutable(addressed);
    SimUnit* o = FindMutable(other);
    if (a == nullptr || o == nullptr) {
        return Refuse("unknown unit");
    }
    std::vector<Mac> changed;
    if (!a->IsTransmitter()) {
        if (a->t1 != o->mac) {
            return Refuse("receiver is not attached to this transmitter");
        }
        SetOwnLink(*a, nullptr, changed);
        return Accept(std::move(changed));
    }
    if (a->mode == kModeMulticast) {
        return Refuse("multicast transmitter addressed; the receiver should be");
    }
    const bool wasMain = a->t1 == o->mac;
    if (!wasMain && a->t2 != o->mac && a->t3 != o->mac) {
        return Refuse("receiver is not attached to this transmitter");
    }
    ClearSlotsNaming(*a, o->mac, changed);
    if (!Alt(Decision::DeleteLink)) {
        SetOwnLink(*o, nullptr, changed);
    }
    const Mac movingUp = a->t2 != kNoMac ? a->t2 : a->t3;
    if (wasMain && movingUp != kNoMac && !Alt(Decision::MainDelete)) {
        // The first backup, else the second, becomes the main Receiver, on both ends.
        const int from = a->t2 != kNoMac ? 1 : 2;
        const Ip4 ip = from == 1 ? a->backup1Ip : a->backup2Ip;
        SetSlotOf(*a, from, nullptr, changed);
        a->t1 = movingUp;
        a->peerIp = ip;
        if (SimUnit* up = FindMutable(movingUp)) {
            SetOwnLink(*up, a, changed);
        }
    }
    return Accept(std::move(changed));
}

}  // namespace vxsim
