#pragma once

// What vx418ctl prints: units as the window's trees label them, one a line, or as JSON with
// every field of the record and the topology the records describe.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "net/capture_backend.h"
#include "protocol/device_table.h"

// Every field of record i, plus its tree label and kind and mode in words.
nlohmann::ordered_json UnitJson(const std::vector<DeviceRecord>& devices, int i);

// {"transmitters": [{mac, name, mode, receivers: [{mac, slot, name|null, answered}]}],
//  "free": [{mac, name}]}: multicast Transmitters feed every Receiver that names them, unicast
// ones the Receivers in their three slots; a free Receiver names no Transmitter.
nlohmann::ordered_json TopologyJson(const std::vector<DeviceRecord>& devices);

// The unit's tree label, then its Receivers (a Transmitter) or its Transmitter (a Receiver).
std::string UnitLine(const std::vector<DeviceRecord>& devices, int i);

// The adapter's name, interface, description, first IPv4 address and MAC (null when unknown).
nlohmann::ordered_json AdapterJson(const AdapterInfo& adapter, const std::optional<MacBytes>& mac);
std::string AdapterLine(const AdapterInfo& adapter, const std::optional<MacBytes>& mac);
