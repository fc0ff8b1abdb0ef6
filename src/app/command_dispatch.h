#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "shell/commands.h"

class CVX418Dlg;

inline constexpr int kRefreshTimeoutMs = 5000;

// Runs one command for the dialog, on the window thread. Commands 0 and 10..14 run at once;
// 1..9 each start a worker thread that gets the dialog. Other numbers are ignored.
void DispatchCommand(CVX418Dlg* dialog, Command command);

// Command 0's body: the adapter list, the topology choices, the busy set disabled, MainDialog.
void InitializeMainWindow(CVX418Dlg* dialog);

// A worker takes the dialog and returns an exit code that nobody reads.
using Worker = std::function<unsigned(CVX418Dlg*)>;
// Starts the worker on a detached thread of its own; command names it for the observer.
void StartWorker(CVX418Dlg* dialog, Command command, Worker worker);

// The main dialog wired to DispatchCommand and initialised (command 0 has run), not yet shown.
std::unique_ptr<CVX418Dlg> CreateMainDialog();

// Test seam: called on each new worker thread just before its worker runs. Returning false
// skips the worker, for tests that check only the dispatch. Without an observer every worker
// runs.
struct WorkerStart {
    Command command = Command::Initialize;
    std::thread::id thread;
    std::uint8_t backupSlot = 0;  // the slot handed to an add-backup worker, else 0
};
using WorkerStartObserver = std::function<bool(const WorkerStart&)>;
void SetWorkerStartObserver(WorkerStartObserver observer);

// Workers started and not yet returned (a capture loop counts until it ends). The program never
// waits for them; tests do, before they destroy the dialog the workers write to.
int RunningWorkerCount();
