#pragma once

// A unit's answer to a configuration or connection request, read from a captured frame: its
// class, its code, the unit that sent it and the station it went to. A front end that waits for
// the addressed unit's own answer to its own request matches all four; HandleCapturedFrame,
// which only writes Log lines, reads the class and code alone.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/device_table.h"

struct UnitReply {
    std::uint16_t messageClass = 0;
    std::uint16_t code = 0;
    MacBytes source{};       // Ethernet source address, frame bytes 6..11
    MacBytes destination{};  // Ethernet destination address, frame bytes 0..5
};

// The reply fields of a TFDP frame whose class has the reply bit; nothing for a capture shorter
// than 50 bytes, another magic, or a request (the station's own, captured on its adapter).
std::optional<UnitReply> DecodeUnitReply(const std::uint8_t* frame, std::size_t capturedLength);

// The operations a unit confirms or refuses with a reply of its own.
enum class ConfirmedOperation {
    SetName,
    SetIp,
    SetTopology,
    AddReceiver,  // main and backup slots alike
    DeleteReceiver,
};

struct ReplyCodes {
    std::uint16_t messageClass = 0;
    std::uint16_t accepted = 0;
    std::uint16_t refused = 0;
};

// Configuration replies: 1/2 name, 3/4 address, 5/6 mode; connection replies: 1/2 add, 3/4
// delete (the catalogue of ReplyLogText).
ReplyCodes ReplyCodesOf(ConfirmedOperation operation);
