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
    Detach(*rx, ignored);
    Link(*tx, *rx, slot, ignored);
    return true;
}

void UnitSet::Detach(SimUnit& receiver, std::vector<Mac>& changed) {
    if (receiver.t1 == kNoMac && receiver.peerIp == kNoIp) {
        return;
    }
    if (SimUnit* tx = FindMutable(receiver.t1); tx != nullptr && tx->mode != kModeMulticast) {
        if (tx->t1 == receiver.mac) {
            tx->t1 = kNoMac;
            tx->peerIp = kNoIp;
            AddChanged(changed, tx->mac);
        }
        if (tx->t2 == receiver.mac) {
            tx->t2 = kNoMac;
            tx->backup1Ip = kNoIp;
            AddChanged(changed, tx->mac);
        }
        if (tx->t3 == receiver.mac) {
            tx->t3 = kNoMac;
            tx->backup2Ip = kNoIp;
            AddChanged(changed, tx->mac);
        }
    }
    receiver.t1 = kNoMac;
    receiver.peerIp = kNoIp;
    AddChanged(changed, receiver.mac);
}

void UnitSet::Link(SimUnit& tx, SimUnit& rx, int slot, std::vector<Mac>& changed) {
    if (tx.mode != kModeMulticast) {
        Mac& slotMac = slot == 0 ? tx.t1 : slot == 1 ? tx.t2 : tx.t3;
        Ip4& slotIp = slot == 0 ? tx.peerIp : slot == 1 ? tx.backup1Ip : tx.backup2Ip;
        // The slot's previous Receiver is set free.
        if (SimUnit* old = FindMutable(slotMac);
            old != nullptr && old != &rx && old->t1 == tx.mac) {
            old->t1 = kNoMac;
            old->peerIp = kNoIp;
            AddChanged(changed, old->mac);
        }
        slotMac = rx.mac;
        slotIp = rx.ip;
        AddChanged(changed, tx.mac);
    }
    rx.t1 = tx.mac;
    rx.peerIp = tx.ip;
    AddChanged(changed, rx.mac);
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
    // Peers that name this unit carry its address too.
    for (SimUnit& other : units_) {
        bool touched = false;
        if (other.t1 == u->mac) {
            other.peerIp = ip;
            touched = true;
        }
        if (other.t2 == u->mac) {
            other.backup1Ip = ip;
            touched = true;
        }
        if (other.t3 == u->mac) {
            other.backup2Ip = ip;
            touched = true;
        }
        if (touched) {
            AddChanged(changed, other.mac);
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
        if (rx.t1 == tx->mac) {
            rx.t1 = kNoMac;
            rx.peerIp = kNoIp;
            AddChanged(changed, rx.mac);
        }
    }
    tx->t1 = tx->t2 = tx->t3 = kNoMac;
    tx->peerIp = tx->backup1Ip = tx->backup2Ip = kNoIp;
    tx->mode = mode;
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
    std::vector<Mac> changed;
    if (a->IsTransmitter()) {
        // Unicast: the Transmitter is told its main or backup Receiver.
        if (a->mode == kModeMulticast) {
            return Refuse("multicast transmitter addressed; the receiver should be");
        }
        if (!o->IsReceiver()) {
            return Refuse("other unit is not a receiver");
        }
        const bool isMain = a->t1 == o->mac;
        if (selector != 0 && isMain) {
            return Refuse("receiver is already the main receiver");
        }
        Detach(*o, changed);
        Link(*a, *o, selector, changed);
        return Accept(std::move(changed));
    }
    // Multicast: the Receiver is told its Transmitter.
    if (selector != 0) {
        return Refuse("backup request to a receiver");
    }
    if (!o->IsTransmitter() || o->mode != kModeMulticast) {
        return Refuse("other unit is not a multicast transmitter");
    }
    Detach(*a, changed);
    Link(*o, *a, 0, changed);
    return Accept(std::move(changed));
}

Outcome UnitSet::DeleteReceiver(const Mac& addressed, const Mac& other) {
    SimUnit* a = FindMutable(addressed);
    SimUnit* o = FindMutable(other);
    if (a == nullptr || o == nullptr) {
        return Refuse("unknown unit");
    }
    std::vector<Mac> changed;
    if (a->IsTransmitter()) {
        if (a->mode == kModeMulticast) {
            return Refuse("multicast transmitter addressed; the receiver should be");
        }
        const bool wasMain = a->t1 == o->mac;
        if (!wasMain && a->t2 != o->mac && a->t3 != o->mac) {
            return Refuse("receiver is not attached to this transmitter");
        }
        Detach(*o, changed);
        // The first backup, else the second, moves up to main Receiver.
        if (wasMain && (a->t2 != kNoMac || a->t3 != kNoMac)) {
            const bool fromFirst = a->t2 != kNoMac;
            a->t1 = fromFirst ? a->t2 : a->t3;
            a->peerIp = fromFirst ? a->backup1Ip : a->backup2Ip;
            (fromFirst ? a->t2 : a->t3) = kNoMac;
            (fromFirst ? a->backup1Ip : a->backup2Ip) = kNoIp;
        }
        AddChanged(changed, a->mac);
        return Accept(std::move(changed));
    }
    if (a->t1 != o->mac) {
        return Refuse("receiver is not attached to this transmitter");
    }
    Detach(*a, changed);
    return Accept(std::move(changed));
}

}  // namespace vxsim
