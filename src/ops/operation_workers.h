#pragma once

#include <cstdint>

class CVX418Dlg;

// Workers of the six configuration operations (commands 2..8).
unsigned DeleteReceiversWorker(CVX418Dlg* dialog);
unsigned ChangeNameWorker(CVX418Dlg* dialog);
unsigned ChangeIpWorker(CVX418Dlg* dialog);
unsigned AddReceiverWorker(CVX418Dlg* dialog);
// slot is the backup slot (1 or 2) of the command that started this worker.
unsigned AddBackupReceiverWorker(CVX418Dlg* dialog, std::uint8_t slot);
unsigned ChangeTopologyWorker(CVX418Dlg* dialog);
