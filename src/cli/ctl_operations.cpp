#include "cli/ctl_operations.h"

#include <algorithm>

#include "net/frame_builder.h"
#include "protocol/messages.h"
#include "views/labels.h"

namespace {

constexpr PeerSlot kSlots[] = {PeerSlot::Main, PeerSlot::Backup1, PeerSlot::Backup2};

bool IsKnownTransmitter(const DeviceTable& table, const std::string& mac) {
    return table.ContainsMac(mac) && table.DeviceKindByMac(mac) == kKindTransmitterLowByte;
}

bool IsKnownReceiver(const DeviceTable& table, const std::string& mac) {
    return table.ContainsMac(mac) && table.DeviceKindByMac(mac) != kKindTransmitterLowByte;
}

bool IsUnicast(const DeviceRecord& transmitter) {
    return ModeLowByte(transmitter) != kModeMulticastLowByte;
}

PreparedRequest ConfigRequest(RequestKind kind, ConfigBlock block, const std::string& mac,
                              ConfirmedOperation confirms) {
    PreparedRequest request;
    request.kind = kind;
    request.config = block;
    request.addressedMac = mac;
    request.confirms = confirms;
    return request;
}

PreparedRequest ConnectionRequest(RequestKind kind, DeviceTable& table, const RequestTarget& target,
                                  PeerSlot slot, ConfirmedOperation confirms) {
    PreparedRequest request;
    request.kind = kind;
    request.backup = slot != PeerSlot::Main;
    request.connection = ConnectionRequestBlock(table, target, slot);
    request.addressedMac = target.addressed;
    request.confirms = confirms;
    return request;
}

bool IsConfigRequest(const PreparedRequest& request) {
    return request.kind == kSetNameRequest || request.kind == kSetIpRequest ||
           request.kind == kSetTopologyRequest;
}

// Where a Receiver is attached now: its Transmitter and, for a unicast one, the slot.
void AddLeaving(std::vector<SideEffect>& effects, const std::vector<DeviceRecord>& devices,
                const DeviceRecord& receiver, bool moved) {
    if (IsEmptyMac(receiver.T1Mac)) {
        return;
    }
    SideEffect effect{receiver.Mac, receiver.T1Mac, std::nullopt, moved};
    const int t = FindInSnapshot(devices, MacText(receiver.T1Mac));
    if (t >= 0 && IsUnicast(devices[static_cast<std::size_t>(t)])) {
        effect.fromSlot = SlotHolding(devices[static_cast<std::size_t>(t)], receiver.Mac);
    }
    effects.push_back(effect);
}

}  // namespace

std::optional<std::string> CheckOperationInput(const OperationInput& input) {
    switch (input.operation) {
        case CtlOperation::Rename:
            if (const auto refusal = NameRefusalText(CheckDeviceName(input.text).verdict)) {
                return std::string(*refusal);
            }
            break;
        case CtlOperation::SetIp:
            if (!IsAcceptedIpText(input.text)) {
                return std::string(kIpFormatErrorText);
            }
            break;
        default:
            break;
    }
    return std::nullopt;
}

bool IsConnectionOperation(CtlOperation operation) {
    return operation == CtlOperation::Attach || operation == CtlOperation::Detach;
}

std::variant<PreparedRequest, std::string> PrepareRequest(DeviceTable& table,
                                                          const OperationInput& input,
                                                          const std::string& unitMac,
                                                          const std::string& otherMac) {
    if (auto refusal = CheckOperationInput(input)) {
        return *refusal;
    }
    // The table's look-ups fall back to its first record for an unknown MAC; the window refuses
    // such a selection before building anything, and so does this.
    if (!table.ContainsMac(unitMac)) {
        return "no unit " + unitMac + " answered the discovery";
    }
    const bool connection = IsConnectionOperation(input.operation);
    if ((connection || input.operation == CtlOperation::SetMode) &&
        !IsKnownTransmitter(table, unitMac)) {
        return unitMac + " is not a Transmitter";
    }
    if (connection && !table.ContainsMac(otherMac)) {
        return "no unit " + otherMac + " answered the discovery";
    }
    if (connection && !IsKnownReceiver(table, otherMac)) {
        return otherMac + " is not a Receiver";
    }
    switch (input.operation) {
        case CtlOperation::Rename:
            return ConfigRequest(
                kSetNameRequest,
                NameRequestBlock(table, unitMac, CheckDeviceName(input.text).field), unitMac,
                ConfirmedOperation::SetName);
        case CtlOperation::SetIp:
            return ConfigRequest(kSetIpRequest, IpRequestBlock(table, unitMac, input.text), unitMac,
                                 ConfirmedOperation::SetIp);
        case CtlOperation::SetMode:
            return ConfigRequest(kSetTopologyRequest,
                                 TopologyRequestBlock(table, unitMac, input.mode), unitMac,
                                 ConfirmedOperation::SetTopology);
        case CtlOperation::Attach:
            if (input.slot != PeerSlot::Main) {
                return ConnectionRequest(kAddReceiverRequest, table,
                                         BackupReceiverTarget(unitMac, otherMac), input.slot,
                                         ConfirmedOperation::AddReceiver);
            }
            return ConnectionRequest(
                kAddReceiverRequest, table,
                MainReceiverTarget(table.DeviceModeByMac(unitMac), unitMac, otherMac),
                PeerSlot::Main, ConfirmedOperation::AddReceiver);
        case CtlOperation::Detach:
            return ConnectionRequest(
                kDeleteReceiverRequest, table,
                MainReceiverTarget(table.DeviceModeByMac(unitMac), unitMac, otherMac),
                PeerSlot::Main, ConfirmedOperation::DeleteReceiver);
    }
    return std::string("unknown operation");
}

bool SendPrepared(const PreparedRequest& request) {
    if (request.backup) {
        return SendBackupRequest(request.connection);
    }
    return SendRequest(IsConfigRequest(request) ? request.config.data() : request.connection.data(),
                       request.kind) == 1;
}

ProtocolFrame FrameOf(const PreparedRequest& request, const MacBytes& stationMac,
                      const Ipv4Bytes& stationIp) {
    ProtocolFrame frame{};
    const std::uint8_t* block =
        IsConfigRequest(request) ? request.config.data() : request.connection.data();
    AssembleRequestFrame(request.kind, block, stationMac, stationIp, frame);
    return frame;
}

const char* RequestName(const PreparedRequest& request) {
    switch (request.kind) {
        case kSetNameRequest:
            return "set-name";
        case kSetIpRequest:
            return "set-ip";
        case kSetTopologyRequest:
            return "set-mode";
        case kDeleteReceiverRequest:
            return "delete-receiver";
        case kAddReceiverRequest:
            return request.backup ? "add-backup" : "add-receiver";
        default:
            return "unknown";
    }
}

std::string SentValue(const PreparedRequest& request) {
    switch (request.kind) {
        case kSetNameRequest: {
            std::array<std::uint8_t, kConfigNameSize> name{};
            std::copy_n(request.config.begin() + kConfigNameOffset, kConfigNameSize, name.begin());
            return NameText(name);
        }
        case kSetIpRequest: {
            Ipv4Bytes ip{};
            std::copy_n(request.config.begin() + kConfigNewIpOffset, kIpv4Size, ip.begin());
            return Ipv4Text(ip);
        }
        case kSetTopologyRequest:
            return TopologyMode(request.config) == 0 ? "multicast" : "unicast";
        default: {
            MacBytes other{};
            std::copy_n(request.connection.begin() + kConnectionOtherMacOffset, kMacSize,
                        other.begin());
            return MacText(other);
        }
    }
}

std::optional<PeerSlot> SlotHolding(const DeviceRecord& transmitter, const MacBytes& mac) {
    for (const PeerSlot slot : kSlots) {
        if (SlotMac(transmitter, slot) == mac) {
            return slot;
        }
    }
    return std::nullopt;
}

const MacBytes& SlotMac(const DeviceRecord& transmitter, PeerSlot slot) {
    return SlotMac(const_cast<DeviceRecord&>(transmitter), slot);
}

MacBytes& SlotMac(DeviceRecord& transmitter, PeerSlot slot) {
    switch (slot) {
        case PeerSlot::Backup1:
            return transmitter.T2Mac;
        case PeerSlot::Backup2:
            return transmitter.T3Mac;
        default:
            return transmitter.T1Mac;
    }
}

bool IsAlreadySo(const OperationInput& input, const DeviceRecord& unit, const DeviceRecord* other) {
    switch (input.operation) {
        case CtlOperation::Rename:
            return unit.Name == CheckDeviceName(input.text).field;
        case CtlOperation::SetIp:
            return ParseAcceptedIpText(input.text) == unit.Ip;
        case CtlOperation::SetMode:
            return IsTransmitter(unit) &&
                   ModeLowByte(unit) == static_cast<std::uint8_t>(input.mode);
        case CtlOperation::Attach:
            if (other == nullptr) {
                return false;
            }
            if (input.slot != PeerSlot::Main) {
                return SlotMac(unit, input.slot) == other->Mac;
            }
            // A main Receiver names its Transmitter, and a unicast one names it back.
            return other->T1Mac == unit.Mac &&
                   (!IsUnicast(unit) || SlotMac(unit, PeerSlot::Main) == other->Mac);
        case CtlOperation::Detach:
            if (other == nullptr) {
                return false;
            }
            return IsUnicast(unit) ? !SlotHolding(unit, other->Mac) : other->T1Mac != unit.Mac;
    }
    return false;
}

std::vector<SideEffect> SideEffectsOf(const OperationInput& input,
                                      const std::vector<DeviceRecord>& devices,
                                      const DeviceRecord& unit, const DeviceRecord* other) {
    std::vector<SideEffect> effects;
    if (input.operation == CtlOperation::SetMode) {
        // A new mode drops every attachment: a unicast Transmitter's slots, a multicast one's
        // Receivers (those that answered).
        if (IsUnicast(unit)) {
            for (const PeerSlot slot : kSlots) {
                if (!IsEmptyMac(SlotMac(unit, slot))) {
                    effects.push_back({SlotMac(unit, slot), unit.Mac, slot, false});
                }
            }
        } else {
            for (const DeviceRecord& r : devices) {
                if (!IsTransmitter(r) && r.T1Mac == unit.Mac) {
                    effects.push_back({r.Mac, unit.Mac, std::nullopt, false});
                }
            }
        }
    }
    if (input.operation != CtlOperation::Attach || other == nullptr) {
        return effects;
    }
    const bool intoSlot = input.slot != PeerSlot::Main || IsUnicast(unit);
    if (intoSlot) {
        const MacBytes& occupant = SlotMac(unit, input.slot);
        if (!IsEmptyMac(occupant) && occupant != other->Mac) {
            effects.push_back({occupant, unit.Mac, input.slot, false});
        }
    }
    if (input.slot != PeerSlot::Main) {
        return effects;  // a backup slot names the Receiver; its own link stays as it is
    }
    // A main Receiver leaves the Transmitter its own link names (and the slot it has there).
    const std::optional<PeerSlot> heldHere =
        IsUnicast(unit) ? SlotHolding(unit, other->Mac) : std::nullopt;
    const bool elsewhere = other->T1Mac != unit.Mac || (heldHere && *heldHere != PeerSlot::Main);
    if (elsewhere) {
        AddLeaving(effects, devices, *other, true);
    }
    return effects;
}
