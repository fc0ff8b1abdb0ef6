#include "app/command_dispatch.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "ops/adapter_workers.h"
#include "ops/operation_workers.h"
#include "ops/refresh_worker.h"
#include "platform/threads.h"
#include "shell/cvx418_dlg.h"
#include "shell/log_line.h"
#include "shell/shell_state.h"
#include "views/receiver_pickers.h"
#include "views/selection.h"
#include "vx418_version.h"

namespace {

constexpr std::uint8_t kBackupSlot1 = 1;
constexpr std::uint8_t kBackupSlot2 = 2;

struct WorkerObserverState {
    std::mutex mutex;
    WorkerStartObserver observer;
};

// Never destroyed: detached workers consult it while the process may be exiting.
WorkerObserverState& ObserverState() {
    static auto* const state = new WorkerObserverState;
    return *state;
}

std::atomic<int> runningWorkers{0};

// True when the worker should run.
bool NotifyWorkerStart(const WorkerStart& start) {
    WorkerStartObserver observer;
    {
        auto& state = ObserverState();
        const std::lock_guard lock(state.mutex);
        observer = state.observer;
    }
    return !observer || observer(start);
}

void Launch(CVX418Dlg* dialog, WorkerStart start, Worker worker) {
    ++runningWorkers;
    StartDetachedThread([dialog, start, worker = std::move(worker)]() mutable {
        start.thread = std::this_thread::get_id();
        if (NotifyWorkerStart(start)) {
            worker(dialog);
        }
        --runningWorkers;
    });
}

// The slot travels with the worker's start, so two quick clicks each fill their own slot.
void StartAddBackup(CVX418Dlg* dialog, Command command, std::uint8_t slot) {
    BackupSlot = slot;
    Launch(dialog, WorkerStart{command, {}, slot},
           [slot](CVX418Dlg* d) { return AddBackupReceiverWorker(d, slot); });
}

void ShowSelection(CVX418Dlg* dialog, bool fromConnections) {
    ShowSelectedUnit(dialog, fromConnections ? 1 : 0);
    // Set after the handler has run: the workers read which tree was used last.
    LastTreeIsConnections = fromConnections ? 1 : 0;
}

}  // namespace

int RunningWorkerCount() {
    return runningWorkers.load();
}

void InitializeMainWindow(CVX418Dlg* dialog) {
    FillAdapterList(dialog);
    dialog->m_TopologyCombo.AddString("Multicast");
    dialog->m_TopologyCombo.AddString("Unicast");
    EnableActionControls(dialog, false);
    MainDialog = dialog;
}

void StartWorker(CVX418Dlg* dialog, Command command, Worker worker) {
    Launch(dialog, WorkerStart{command, {}, 0}, std::move(worker));
}

void DispatchCommand(CVX418Dlg* dialog, Command command) {
    if (dialog == nullptr) {
        return;
    }
    switch (command) {
        case Command::Initialize:
            TraceLine("< version : %s >", VX_VERSION);
            TraceLine("< refresh timeout is %d mseconds >", kRefreshTimeoutMs);
            InitializeMainWindow(dialog);
            break;
        case Command::Refresh:
            StartWorker(dialog, command, RefreshWorker);
            break;
        case Command::DeleteReceivers:
            StartWorker(dialog, command, DeleteReceiversWorker);
            break;
        case Command::ChangeName:
            StartWorker(dialog, command, ChangeNameWorker);
            break;
        case Command::ChangeIp:
            StartWorker(dialog, command, ChangeIpWorker);
            break;
        case Command::AddReceiver:
            StartWorker(dialog, command, AddReceiverWorker);
            break;
        case Command::AddBackup1:
            StartAddBackup(dialog, command, kBackupSlot1);
            break;
        case Command::AddBackup2:
            StartAddBackup(dialog, command, kBackupSlot2);
            break;
        case Command::ChangeTopology:
            StartWorker(dialog, command, ChangeTopologyWorker);
            break;
        case Command::SetAdapter:
            StartWorker(dialog, command, SetAdapterWorker);
            break;
        case Command::ShowConnectionsSelection:
            ShowSelection(dialog, true);
            break;
        case Command::FillConnectPicker:
        case Command::FillBackup1Picker:
        case Command::FillBackup2Picker:
            FillReceiverPicker(
                dialog, static_cast<ReceiverPicker>(static_cast<int>(command) -
                                                    static_cast<int>(Command::FillConnectPicker)));
            break;
        case Command::ShowAvailableSelection:
            ShowSelection(dialog, false);
            break;
        default:
            break;  // only the fifteen numbers above are ever raised
    }
}

std::unique_ptr<CVX418Dlg> CreateMainDialog() {
    // The handler needs the dialog it belongs to, which exists only after construction.
    auto self = std::make_shared<CVX418Dlg*>(nullptr);
    auto dialog =
        std::make_unique<CVX418Dlg>([self](Command command) { DispatchCommand(*self, command); });
    *self = dialog.get();
    dialog->OnInitDialog();
    return dialog;
}

void SetWorkerStartObserver(WorkerStartObserver observer) {
    auto& state = ObserverState();
    const std::lock_guard lock(state.mutex);
    state.observer = std::move(observer);
}
