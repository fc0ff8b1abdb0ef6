#pragma once

// A unit's answer to a configuration or connection request, read from a captured frame: its
// class, its code and the unit that sent it. A front end that waits for the addressed unit's
// own answer matches all three; HandleCapturedFrame, which only writes Log lines, reads the
// class and code alone.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/confirmed_operation.h"
#include "protocol/device_table.h"

struct UnitReply {
    std::uint16_t messageClass = 0;
    std::uint16_t code = 0;
    MacBytes source{};  // Ethernet source address, frame bytes 6..11
};

// The reply fields of a TFDP frame whose class has the reply bit; nothing for a capture shorter
// than 50 bytes, another magic, or a request (the station's own, captured on its adapter).
std::optional<UnitReply> DecodeUnitReply(const std::uint8_t* frame, std::size_t capturedLength);

struct ReplyCodes {
    std::uint16_t messageClass = 0;
    std::uint16_t accepted = 0;
    std::uint16_t refused = 0;
};

// Configuration replies: 1/2 name, 3/4 address, 5/6 mode; connection replies: 1/2 add, 3/4
// delete (the catalogue of ReplyLogText).
ReplyCodes ReplyCodesOf(ConfirmedOperation operation);

struct ReplyVerdict {
    ConfirmedOperation operation = ConfirmedOperation::SetName;
    bool accepted = false;
};
// The operation and verdict a reply's class and code stand for; nothing for any other pair.
std::optional<ReplyVerdict> VerdictOf(std::uint16_t messageClass, std::uint16_t code);
