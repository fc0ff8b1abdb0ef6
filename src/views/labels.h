#pragma once

// Label texts of tree items and picker entries, and the predicates the trees use. Pure
// functions over one snapshot of the device table (DeviceTable::Snapshot()), so a view built
// from them is consistent even while replies keep arriving. An index outside the snapshot
// gives an empty text or false.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/device_table.h"

inline constexpr const char* kEmptyMacText = "00:00:00:00:00:00";

// Low byte of Kind is 1; every other kind is treated as a Receiver.
bool IsTransmitter(const DeviceRecord& record);
// Low byte of Mode; 0 multicast, 1 unicast for a Transmitter.
std::uint8_t ModeLowByte(const DeviceRecord& record);
bool IsEmptyMac(const MacBytes& mac);

// Name + suffix (by Kind, and by Mode for a Transmitter) + " (" + Ip + ")" + " [" + Mac + "]".
std::string DeviceLabel(const std::vector<DeviceRecord>& devices, int i);
// As DeviceLabel but always with ": Receiver", whatever the Kind.
std::string ReceiverLabel(const std::vector<DeviceRecord>& devices, int i);
// "UNKNOWN" + slot suffix + peer address + peer MAC of Transmitter t's slot 0, 1 or 2.
std::string PlaceholderLabel(const std::vector<DeviceRecord>& devices, int t, int slot);

// T1Mac, T2Mac and T3Mac of record j are all empty.
bool HasNoPeers(const std::vector<DeviceRecord>& devices, int j);
// Multicast: some record names j in its T1Mac. Unicast: j has a peer. Picks the green icon.
bool HasConnection(const std::vector<DeviceRecord>& devices, int j);

// Per record: listed among the Available Receivers (and offered by the Connect picker). A
// Receiver with an empty own link, and also one that no Transmitter of the snapshot feeds (its
// link names a Transmitter that does not name it back, or one that did not answer), so that
// every unit that answered can be selected somewhere.
std::vector<bool> AvailableReceivers(const std::vector<DeviceRecord>& devices);

// From the last "[" to the end with every "[" and "]" removed; a text without "[" comes back
// whole.
std::string MacFromLabel(std::string_view text);

// Index of the first record whose MAC text equals macText; -1 when none does (unlike the
// table's own look-up, which falls back to record 0).
int FindInSnapshot(const std::vector<DeviceRecord>& devices, std::string_view macText);
