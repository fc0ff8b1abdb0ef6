#pragma once

#include <cstdint>
#include <string>

class CVX418Dlg;

// Workers of the six configuration operations (commands 2..8). Each returns 0 when it stopped
// at one of its checks and 1 when it went as far as sending; nothing reads the exit code.
unsigned DeleteReceiversWorker(CVX418Dlg* dialog);
unsigned ChangeNameWorker(CVX418Dlg* dialog);
unsigned ChangeIpWorker(CVX418Dlg* dialog);
unsigned AddReceiverWorker(CVX418Dlg* dialog);
// slot is the backup slot (1 or 2) of the command that started this worker.
unsigned AddBackupReceiverWorker(CVX418Dlg* dialog, std::uint8_t slot);
unsigned ChangeTopologyWorker(CVX418Dlg* dialog);

// The current texts of the Name and IP Address fields (read on the window thread).
std::string ReadNameField(CVX418Dlg* dialog);
std::string ReadIpField(CVX418Dlg* dialog);
