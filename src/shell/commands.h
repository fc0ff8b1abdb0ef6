#pragma once

// The commands the dialog's controls raise and the dispatcher runs (app/command_dispatch.h):
// 0 and 10 to 14 on the window thread, 1 to 9 each on a worker of its own.
enum class Command : int {
    Initialize = 0,
    Refresh = 1,
    DeleteReceivers = 2,
    ChangeName = 3,
    ChangeIp = 4,
    AddReceiver = 5,
    AddBackup1 = 6,
    AddBackup2 = 7,
    ChangeTopology = 8,
    SetAdapter = 9,
    ShowConnectionsSelection = 10,
    FillConnectPicker = 11,
    FillBackup1Picker = 12,
    FillBackup2Picker = 13,
    ShowAvailableSelection = 14,
};
