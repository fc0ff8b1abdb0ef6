#pragma once

// The changing commands (rename, set-ip, set-mode, attach, detach): look the units up, leave
// alone what already is so, refuse what would undo other attachments unless forced, send the
// window's request, wait for the addressed unit's own reply to this station, and read the units
// back: done only when they report the requested value.

#include <optional>
#include <string>

#include "cli/ctl_commands.h"
#include "cli/ctl_operations.h"
#include "cli/ctl_output.h"
#include "cli/ctl_session.h"

struct ChangeCommand {
    std::string name;  // the command as typed ("rename", ...)
    OperationInput input;
    std::string unit;   // the unit, or the Transmitter of attach/detach
    std::string other;  // the Receiver of attach/detach
};

int Change(const RunOptions& options, const ChangeCommand& command, Reporter& report);

// One request carried out: sent, answered by the addressed unit, read back.
struct CarriedOut {
    int status = 0;
    std::string result;   // confirmed, refused, no-answer, not-applied
    std::string message;  // why, when status is not 0
    std::string detail;   // more about it, for people
    std::optional<UnitReply> reply;
    UnitRecords after;  // the units as the read-back found them
};

// Sends request and waits for its reply (options.timeout), then reads back unit and other until
// IsAlreadySo holds (options.wait). before labels the units in messages.
CarriedOut CarryOut(CtlSession& session, const PreparedRequest& request,
                    const OperationInput& input, const MacBytes& unit,
                    const std::optional<MacBytes>& other, const RunOptions& options,
                    const UnitsView& before, Reporter& report);

// "02:18:00:00:02:05" as a MAC for a text the table wrote.
MacBytes MacOfText(const std::string& macText);
