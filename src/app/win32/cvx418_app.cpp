#include <cstdio>

#include "app/command_dispatch.h"
#include "app/cvx418_app.h"
#include "platform/instance_lock.h"
#include "platform/win32/common_controls.h"
#include "platform/window_lookup.h"
#include "shell/cvx418_dlg.h"

// Start-up on Windows: the common controls, the single-instance rule, then the main dialog run
// on this thread until Escape or the close box ends it.

namespace {
// Windows keeps the lock file in the user's own folder: one copy per user.
constexpr char kLockSession[] = "windows";
}  // namespace

CVX418App::CVX418App() = default;
CVX418App::~CVX418App() = default;

bool CVX418App::InitInstance() {
    if (!InitializeCommonControls()) {
        std::fprintf(stderr, "vx418: the common controls could not be registered\n");
    }
    // The lock closes the gap between two quick starts, where neither window exists yet.
    lock_ = std::make_unique<InstanceLock>(InstanceLockPath("vx418", kLockSession));
    if (lock_->state() == InstanceLock::State::HeldByOther) {
        return false;  // silently: the other copy is left as it is
    }
    if (lock_->state() == InstanceLock::State::Unavailable) {
        std::fprintf(stderr, "vx418: no single-instance lock (%s)\n", lock_->error().c_str());
    }
    if (TopLevelWindowExists(kMainWindowTitle)) {
        return false;  // silently: the other window is neither activated nor raised
    }
    dialog_ = CreateMainDialog();
    dialog_->DoModal();
    // The dialog stays alive: detached workers may still hold it until the process ends.
    return true;
}
