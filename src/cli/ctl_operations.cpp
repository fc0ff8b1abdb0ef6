#include "cli/ctl_operations.h"

#include "net/frame_builder.h"

namespace {

bool IsKnownTransmitter(const DeviceTable& table, const std::string& mac) {
    return table.ContainsMac(mac) && table.DeviceKindByMac(mac) == kKindTransmitterLowByte;
}

bool IsKnownReceiver(const DeviceTable& table, const std::string& mac) {
    return table.ContainsMac(mac) && table.DeviceKindByMac(mac) != kKindTransmitterLowByte;
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
    const bool connection =
        input.operation == CtlOperation::Attach || input.operation == CtlOperation::Detach;
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
    const bool config = request.kind == kSetNameRequest || request.kind == kSetIpRequest ||
                        request.kind == kSetTopologyRequest;
    return SendRequest(config ? request.config.data() : request.connection.data(), request.kind) ==
           1;
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
