#pragma once

// What an accepted request does to the units, as the table shows it before they answer. Both
// ends of an attachment change together, as the units change them: a Receiver freed from one
// Transmitter's slot is free in its own record too, and a Receiver that moves up from a backup
// slot leaves that slot. So no unit is shown twice, or nowhere, until the next Refresh.
//
// Each effect works on the table's valid records and changes nothing for a MAC that none of
// them carries.

#include <span>

#include "protocol/device_table.h"
#include "protocol/operation_rules.h"

using Records = std::span<DeviceRecord>;

void RenameEffect(Records records, const MacBytes& unit, const NameField& name);
// Peers that name the unit carry its new address too.
void SetIpEffect(Records records, const MacBytes& unit, const Ipv4Bytes& ip);
// Any change of mode, also to the same one, drops every attachment of the Transmitter.
void SetTopologyEffect(Records records, const MacBytes& transmitter, Topology mode);
// The Receiver leaves whatever held it; a unicast slot's previous Receiver is set free. A
// backup slot of a multicast Transmitter is only noted in the Transmitter's record.
void AttachEffect(Records records, const MacBytes& transmitter, const MacBytes& receiver,
                  PeerSlot slot);
// A unicast Transmitter's first backup (else its second) moves up when the main one goes.
void DetachEffect(Records records, const MacBytes& transmitter, const MacBytes& receiver);
