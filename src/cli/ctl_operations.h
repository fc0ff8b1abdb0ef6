#pragma once

// The five changing commands of vx418ctl as requests: the input rules, the window's checks on
// the units, the request block and sender of each (all from the shared operation rules), what
// the units look like once the change holds, and which other attachments it would undo. A
// request prepared here is byte for byte the one the window's worker sends for the same
// operation on the same table.

#include <optional>
#include <string>
#include <variant>
#include <vector>

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

bool IsConnectionOperation(CtlOperation operation);

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
// The 128-byte frame SendPrepared would send from this station.
ProtocolFrame FrameOf(const PreparedRequest& request, const MacBytes& stationMac,
                      const Ipv4Bytes& stationIp);

// The sim and the docs name requests this way ("set-name", "add-backup", ...).
const char* RequestName(const PreparedRequest& request);
// The value the request carries, as people read it: the name as sent (upper case), the address
// from the block's bytes, the mode, or the other unit's MAC.
std::string SentValue(const PreparedRequest& request);

// The units as the operation leaves them: true when unit (and other, the Receiver of attach and
// detach) already are so. Also the read-back's test after the change.
bool IsAlreadySo(const OperationInput& input, const DeviceRecord& unit, const DeviceRecord* other);

// A Receiver that the change takes from where it is: detached (a Transmitter's mode changes, or
// another Receiver takes its slot) or moved (its own link names another Transmitter now). A
// backup slot changes only the Transmitter's slot, never the Receiver's own link.
struct SideEffect {
    MacBytes receiver{};
    MacBytes from{};                   // the Transmitter it leaves
    std::optional<PeerSlot> fromSlot;  // its slot there (unicast)
    bool moved = false;
};

// What the change would undo besides itself, from the units as discovered. Empty for rename,
// set-ip and detach.
std::vector<SideEffect> SideEffectsOf(const OperationInput& input,
                                      const std::vector<DeviceRecord>& devices,
                                      const DeviceRecord& unit, const DeviceRecord* other);

// The slot of a unicast Transmitter that holds mac, if any.
std::optional<PeerSlot> SlotHolding(const DeviceRecord& transmitter, const MacBytes& mac);
// T1Mac, T2Mac or T3Mac of a Transmitter.
const MacBytes& SlotMac(const DeviceRecord& transmitter, PeerSlot slot);
MacBytes& SlotMac(DeviceRecord& transmitter, PeerSlot slot);
