#pragma once

// The operations a unit confirms or refuses with a reply of its own.
enum class ConfirmedOperation {
    SetName,
    SetIp,
    SetTopology,
    AddReceiver,  // main and backup slots alike
    DeleteReceiver,
};
