#pragma once

// What an accepted request does to the units, as the table shows it before they answer: the
// fields each request sets on the units it names. A backup slot names its Receiver without
// touching that Receiver's own link, so the two ends of an attachment need not agree. Beyond
// that, two changes keep a unit from being shown twice: a Receiver attached anew leaves the
// unicast slot its own link named, and a backup that moves up to main Receiver leaves its
// backup slot and names its Transmitter (docs/operations.md).
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
// Main Receiver: it names the Transmitter (a unicast one names it back), leaving the unicast
// slot its own link named; a replaced main Receiver keeps its own link. Backup: the slot names
// the Receiver, whatever the Transmitter's mode; nothing else changes.
void AttachEffect(Records records, const MacBytes& transmitter, const MacBytes& receiver,
                  PeerSlot slot);
// The Receiver's own link is cleared and a unicast Transmitter's slots that name it are emptied;
// when the main one goes, the first backup (else the second) moves up.
void DetachEffect(Records records, const MacBytes& transmitter, const MacBytes& receiver);
