#pragma once

// What vx418ctl prints about units: labelled as the window's trees label them, one a line, as
// tab-separated fields, or as JSON with every field of the record (names Latin-1 decoded; peer
// fields that name nothing are null) and the topology the records describe.

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "net/capture_backend.h"
#include "protocol/device_table.h"

using Json = nlohmann::ordered_json;

// Every field of a record, plus its tree label and kind and mode in words.
Json UnitJson(const DeviceRecord& record);
// MAC, name, address, kind, mode and the three peer MACs, tab-separated ("-" for none).
std::string TerseUnitLine(const DeviceRecord& record);
// The record's tree label, for a terminal.
std::string DisplayLabel(const DeviceRecord& record);
// An address or MAC field as JSON: null when it names nothing (all zero).
Json OptionalIp(const Ipv4Bytes& ip);
Json OptionalMac(const MacBytes& mac);

// One snapshot of the table with its units found by MAC.
class UnitsView {
  public:
    explicit UnitsView(std::vector<DeviceRecord> devices);

    const std::vector<DeviceRecord>& Devices() const { return devices_; }
    // Index of the unit with this MAC; -1 when it did not answer.
    int IndexOf(const MacBytes& mac) const;
    const DeviceRecord* Find(const MacBytes& mac) const;
    // The unit's label, or its MAC text in brackets when it did not answer.
    std::string Label(const MacBytes& mac) const;

    // {"transmitters": [{mac, name, mode, receivers: [{mac, slot, name|null, answered}]}],
    //  "free": [{mac, name}]}: multicast Transmitters feed every Receiver that names them,
    // unicast ones the Receivers in their three slots; a free Receiver names no Transmitter.
    Json TopologyJson() const;
    // The unit's label, then its Receivers (a Transmitter) or its Transmitter (a Receiver).
    std::string UnitLine(int i) const;
    // Every field of unit i, one "field: value" line each, for `show`.
    std::vector<std::string> ShowLines(int i) const;

  private:
    std::string PeerLabel(int t, int slot, const MacBytes& mac) const;
    // The Receivers that name Transmitter t (multicast).
    std::vector<int> Fed(int t) const;

    std::vector<DeviceRecord> devices_;
    std::map<MacBytes, int> index_;
    std::multimap<MacBytes, int> byTransmitter_;  // Receivers by the T1Mac they carry
};

// The adapter's name, interface, description, first IPv4 address and MAC (null when unknown).
Json AdapterJson(const AdapterInfo& adapter, const std::optional<MacBytes>& mac);
std::string AdapterLine(const AdapterInfo& adapter, const std::optional<MacBytes>& mac, bool terse);
