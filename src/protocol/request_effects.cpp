#include "protocol/request_effects.h"

#include <algorithm>

namespace {

constexpr MacBytes kNoMac{};
constexpr Ipv4Bytes kNoIp{};
constexpr std::uint16_t kReceiverKind = 0;

DeviceRecord* Find(Records records, const MacBytes& mac) {
    if (mac == kNoMac) {
        return nullptr;
    }
    const auto it = std::find_if(records.begin(), records.end(),
                                 [&](const DeviceRecord& r) { return r.Mac == mac; });
    return it == records.end() ? nullptr : &*it;
}

bool IsUnicast(const DeviceRecord& transmitter) {
    return (transmitter.Mode & 0xffu) != kModeMulticastLowByte;
}

bool IsTransmitterRecord(const DeviceRecord& r) {
    return (r.Kind & 0xffu) == kKindTransmitterLowByte;
}

// A Transmitter's Receiver slot: its MAC field and the address field beside it.
struct SlotFields {
    MacBytes& mac;
    Ipv4Bytes& ip;
};
SlotFields SlotOf(DeviceRecord& transmitter, PeerSlot slot) {
    switch (slot) {
        case PeerSlot::Backup1:
            return {transmitter.T2Mac, transmitter.Backup1Ip};
        case PeerSlot::Backup2:
            return {transmitter.T3Mac, transmitter.Backup2Ip};
        case PeerSlot::Main:
        default:
            return {transmitter.T1Mac, transmitter.PeerIp};
    }
}

constexpr PeerSlot kSlots[] = {PeerSlot::Main, PeerSlot::Backup1, PeerSlot::Backup2};

// A slot names a unit by MAC and keeps a copy of its address beside it.
void SetSlot(DeviceRecord& transmitter, PeerSlot slot, const MacBytes& mac, const Ipv4Bytes& ip) {
    SlotFields fields = SlotOf(transmitter, slot);
    fields.mac = mac;
    fields.ip = ip;
}

// A Receiver's own link is the main slot's pair of fields.
void Unlink(DeviceRecord& receiver) {
    SetSlot(receiver, PeerSlot::Main, kNoMac, kNoIp);
}

void ClearSlotsNaming(DeviceRecord& transmitter, const MacBytes& unit) {
    for (const PeerSlot slot : kSlots) {
        if (SlotOf(transmitter, slot).mac == unit) {
            SetSlot(transmitter, slot, kNoMac, kNoIp);
        }
    }
}

// The unicast Transmitter that the Receiver's own link names lets go of it, and the link goes.
void Release(Records records, DeviceRecord& receiver) {
    if (DeviceRecord* holder = Find(records, receiver.T1Mac);
        holder != nullptr && holder != &receiver && IsTransmitterRecord(*holder) &&
        IsUnicast(*holder)) {
        ClearSlotsNaming(*holder, receiver.Mac);
    }
    Unlink(receiver);
}

}  // namespace

void RenameEffect(Records records, const MacBytes& unit, const NameField& name) {
    if (DeviceRecord* u = Find(records, unit)) {
        std::copy(name.begin(), name.end(), u->Name.begin());
    }
}

void SetIpEffect(Records records, const MacBytes& unit, const Ipv4Bytes& ip) {
    DeviceRecord* u = Find(records, unit);
    if (u == nullptr) {
        return;
    }
    for (DeviceRecord& other : records) {
        for (const PeerSlot slot : kSlots) {
            SlotFields fields = SlotOf(other, slot);
            if (fields.mac == unit) {
                fields.ip = ip;
            }
        }
    }
    u->Ip = ip;
}

void SetTopologyEffect(Records records, const MacBytes& transmitter, Topology mode) {
    DeviceRecord* tx = Find(records, transmitter);
    if (tx == nullptr) {
        return;
    }
    for (DeviceRecord& r : records) {
        if (&r != tx && r.T1Mac == transmitter) {
            Unlink(r);
        }
    }
    for (const PeerSlot slot : kSlots) {
        SetSlot(*tx, slot, kNoMac, kNoIp);
    }
    tx->Mode = static_cast<std::uint16_t>(mode);
}

void AttachEffect(Records records, const MacBytes& transmitter, const MacBytes& receiver,
                  PeerSlot slot) {
    DeviceRecord* tx = Find(records, transmitter);
    DeviceRecord* rx = Find(records, receiver);
    if (tx == nullptr || rx == nullptr || tx == rx) {
        return;
    }
    rx->Kind = kReceiverKind;
    if (slot != PeerSlot::Main) {
        SetSlot(*tx, slot, receiver, rx->Ip);
        return;
    }
    Release(records, *rx);
    if (IsUnicast(*tx)) {
        SetSlot(*tx, slot, receiver, rx->Ip);
    }
    SetSlot(*rx, PeerSlot::Main, transmitter, tx->Ip);
}

void DetachEffect(Records records, const MacBytes& transmitter, const MacBytes& receiver) {
    DeviceRecord* tx = Find(records, transmitter);
    DeviceRecord* rx = Find(records, receiver);
    if (tx == nullptr || rx == nullptr || tx == rx) {
        return;
    }
    const bool wasMain = IsUnicast(*tx) && tx->T1Mac == receiver;
    if (IsUnicast(*tx)) {
        // Every slot that names it: left in a backup slot, it would move up again.
        ClearSlotsNaming(*tx, receiver);
    }
    Unlink(*rx);
    rx->Kind = kReceiverKind;
    if (!wasMain) {
        return;
    }
    for (const PeerSlot backup : {PeerSlot::Backup1, PeerSlot::Backup2}) {
        SlotFields from = SlotOf(*tx, backup);
        if (from.mac == kNoMac) {
            continue;
        }
        SetSlot(*tx, PeerSlot::Main, from.mac, from.ip);
        if (DeviceRecord* movedUp = Find(records, from.mac)) {
            SetSlot(*movedUp, PeerSlot::Main, transmitter, tx->Ip);
        }
        SetSlot(*tx, backup, kNoMac, kNoIp);
        return;
    }
}
