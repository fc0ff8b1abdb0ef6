#pragma once

// The five changing commands of vx418ctl as requests: the input rules, the window's checks on
// the units, and the request block and sender of each, all from the shared operation rules. A
// request prepared here is byte for byte the one the window's worker sends for the same
// operation on the same table.

#include <optional>
#include <string>
#include <variant>

#include "net/frame_builder.h"
#include "protocol/device_table.h"
#include "protocol/operation_rules.h"
#include "protocol/replies.h"
#include "protocol/wire_format.h"

enum class CtlOperation { Rename, SetIp, SetMode, Attach, Detach };

struct OperationInput {
    CtlOperation operation = CtlOperation::Rename;
    std::string text;  // the new name or address
    Topology mode = Topology::Multicast;
    PeerSlot slot = PeerSlot::Main;  // attach: Main, or the backup slot
};

// The name or address rule's refusal text ("Device Name Too Long." ...), checked before anything
// goes on the wire; nothing when the input is accepted.
std::optional<std::string> CheckOperationInput(const OperationInput& input);

struct PreparedRequest {
    RequestKind kind = kSetNameRequest;  // for a backup attach the add-receiver kind
    bool backup = false;                 // sent with SendBackupRequest
    ConfigBlock config{};
    ConnectionBlock connection{};
    std::string addressedMac;  // the unit the frame goes to and whose reply counts
    ConfirmedOperation confirms = ConfirmedOperation::SetName;
};

// unitMac is the unit of rename/set-ip/set-mode and the Transmitter of attach/detach; otherMac
// the Receiver of attach/detach. A refusal text when a unit is unknown or of the wrong kind.
std::variant<PreparedRequest, std::string> PrepareRequest(DeviceTable& table,
                                                          const OperationInput& input,
                                                          const std::string& unitMac,
                                                          const std::string& otherMac);

// Sends on the current adapter: true when the capture library accepted the frame.
bool SendPrepared(const PreparedRequest& request);

// The sim and the docs name requests this way ("set-name", "add-backup", ...).
const char* RequestName(const PreparedRequest& request);
