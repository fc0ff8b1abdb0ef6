#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/device_table.h"
#include "protocol/line_sink.h"
#include "protocol/wire_format.h"

// Fills ConfigBlock bytes 0..9 with the Ip and Mac of the unit that FindDeviceByMac names
// (record 0 when none matches). Touches no other byte.
void BuildConfigBlock(DeviceTable& table, const std::string& macText, ConfigBlock& block);

// The same from a record the caller has already looked up.
void BuildConfigBlock(const DeviceRecord& unit, ConfigBlock& block);
void BuildConnectionBlock(const DeviceRecord& addressed, const DeviceRecord& other,
                          ConnectionBlock& block);

// Fills ConnectionBlock bytes 0..9 with the other unit's Ip and Mac and bytes 10..19 with the
// addressed unit's. Touches no other byte.
void BuildConnectionBlock(DeviceTable& table, const std::string& addressedMacText,
                          const std::string& otherMacText, ConnectionBlock& block);

// The user's own field of each request. The mode and selector words stay in host order in the
// block; the sender writes them big-endian.
void SetTopologyMode(ConfigBlock& block, std::uint16_t mode);
std::uint16_t TopologyMode(const ConfigBlock& block);
void SetNewIpAddress(ConfigBlock& block, const Ipv4Bytes& ip);
// Copies at most 16 bytes of name; the rest of the field stays as it was (zero after the fill).
void SetNewName(ConfigBlock& block, std::string_view name);
void SetSelector(ConnectionBlock& block, std::uint16_t selector);
std::uint16_t Selector(const ConnectionBlock& block);

// The Log pane line of a configuration or connection reply, or nothing for any other class or
// code.
std::optional<std::string_view> ReplyLogText(std::uint16_t messageClass, std::uint16_t code);

// The capture loop's callback: reads only the magic, class and code, the addresses of a
// configuration or connection reply and the record of a discovery reply, never past
// capturedLength. Frames shorter than 50 bytes, and discovery replies shorter than 120, are
// dropped. Every reply writes its Log line, whichever station it went to; only one addressed to
// station (the adapter's MAC) settles a change awaiting its answer. True when a unit's refusal
// put values back into the table (the views are stale).
bool HandleCapturedFrame(const std::uint8_t* frame, std::size_t capturedLength, DeviceTable& table,
                         LineSink& sink, const MacBytes& station);
