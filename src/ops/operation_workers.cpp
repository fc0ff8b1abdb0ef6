#include "ops/operation_workers.h"

#include "shell/log_line.h"

// PENDING: the six operations are not built yet. Each worker only records that it was asked
// for and reports that it did nothing (exit code 0); none of them sends a frame.

unsigned DeleteReceiversWorker(CVX418Dlg* /*dialog*/) {
    TraceLine("Delete Receiver is not available yet");
    return 0;
}

unsigned ChangeNameWorker(CVX418Dlg* /*dialog*/) {
    TraceLine("Change name is not available yet");
    return 0;
}

unsigned ChangeIpWorker(CVX418Dlg* /*dialog*/) {
    TraceLine("Change IP address is not available yet");
    return 0;
}

unsigned AddReceiverWorker(CVX418Dlg* /*dialog*/) {
    TraceLine("Add receiver is not available yet");
    return 0;
}

unsigned AddBackupReceiverWorker(CVX418Dlg* /*dialog*/, std::uint8_t slot) {
    TraceLine("Add backup receiver %d is not available yet", slot);
    return 0;
}

unsigned ChangeTopologyWorker(CVX418Dlg* /*dialog*/) {
    TraceLine("Change topology is not available yet");
    return 0;
}
