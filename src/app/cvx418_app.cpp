#include "app/cvx418_app.h"

#include <cstdio>

#include "app/command_dispatch.h"
#include "platform/instance_lock.h"
#include "platform/window_lookup.h"
#include "shell/cvx418_dlg.h"

CVX418App::CVX418App() = default;
CVX418App::~CVX418App() = default;

bool CVX418App::InitInstance() {
    // The lock closes the gap between two quick starts, where neither window exists yet.
    lock_ = std::make_unique<InstanceLock>(InstanceLockPath("vx418", DisplaySessionKey()));
    if (lock_->state() == InstanceLock::State::HeldByOther) {
        return false;  // silently: the other copy is left as it is
    }
    if (lock_->state() == InstanceLock::State::Unavailable) {
        std::fprintf(stderr, "vx418: no single-instance lock (%s)\n", lock_->error().c_str());
    }
    // The title still counts where the window system can be asked: a copy under another
    // account or an older build on the same display holds no lock of ours.
    if (TopLevelWindowExists(kMainWindowTitle)) {
        return false;  // silently: the other window is neither activated nor raised
    }
    dialog_ = CreateMainDialog();
    dialog_->DoModal();
    // The dialog stays alive: detached workers may still hold it until the process ends.
    return true;
}
