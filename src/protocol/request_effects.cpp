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

void Unlink(DeviceRecord& receiver) {
    receiver.T1Mac = kNoMac;
    receiver.PeerIp = kNoIp;
}

// Frees a Receiver from whichever unicast Transmitter holds it in a slot, and its own link.
void Detach(Records records, DeviceRecord& receiver) {
    if (DeviceRecord* holder = Find(records, receiver.T1Mac);
        holder != nullptr && holder != &receiver && IsTransmitterRecord(*holder) &&
        IsUnicast(*holder)) {
        for (const PeerSlot slot : kSlots) {
            SlotFields fields = SlotOf(*holder, slot);
            if (fields.mac == receiver.Mac) {
                fields.mac = kNoMac;
                fields.ip = kNoIp;
            }
        }
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
        SlotFields fields = SlotOf(*tx, slot);
        fields.mac = kNoMac;
        fields.ip = kNoIp;
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
    const bool unicast = IsUnicast(*tx);
    if (!unicast && slot != PeerSlot::Main) {
        // A multicast Transmitter has no backups to speak of: its slot is noted as asked, and
        // the Receiver keeps its own link (the units refuse such a request).
        SlotFields fields = SlotOf(*tx, slot);
        fields.mac = receiver;
        fields.ip = rx->Ip;
        return;
    }
    Detach(records, *rx);
    if (unicast) {
        SlotFields fields = SlotOf(*tx, slot);
        if (DeviceRecord* previous = Find(records, fields.mac);
            previous != nullptr && previous != rx && previous->T1Mac == transmitter) {
            Unlink(*previous);
        }
        fields.mac = receiver;
        fields.ip = rx->Ip;
    }
    rx->T1Mac = transmitter;
    rx->PeerIp = tx->Ip;
}

void DetachEffect(Records records, const MacBytes& transmitter, const MacBytes& receiver) {
    DeviceRecord* tx = Find(records, transmitter);
    DeviceRecord* rx = Find(records, receiver);
    if (tx == nullptr || rx == nullptr || tx == rx) {
        return;
    }
    const bool wasMain = IsUnicast(*tx) && tx->T1Mac == receiver;
    Detach(records, *rx);
    if (IsUnicast(*tx)) {
        // Also a slot that names the Receiver while its own record names another Transmitter.
        for (const PeerSlot slot : kSlots) {
            SlotFields fields = SlotOf(*tx, slot);
            if (fields.mac == receiver) {
                fields.mac = kNoMac;
                fields.ip = kNoIp;
            }
        }
    }
    rx->Kind = kReceiverKind;
    if (!wasMain) {
        return;
    }
    for (const PeerSlot backup : {PeerSlot::Backup1, PeerSlot::Backup2}) {
        SlotFields from = SlotOf(*tx, backup);
        if (from.mac == kNoMac) {
            continue;
        }
        tx->T1Mac = from.mac;
        tx->PeerIp = from.ip;
        if (DeviceRecord* movedUp = Find(records, from.mac)) {
            movedUp->T1Mac = transmitter;
            movedUp->PeerIp = tx->Ip;
        }
        from.mac = kNoMac;
        from.ip = kNoIp;
        return;
    }
}
