#include "shell/cvx418_dlg.h"

#include "shell/shell_state.h"

// The dialog's parts that are the same on both front ends. The constructor, DoModal,
// EndDialog, GetSafeHwnd and the private toolkit calls are each toolkit's (qt/cvx418_dlg.cpp,
// win32/cvx418_dlg.cpp).

CVX418Dlg::~CVX418Dlg() {
    // Nothing may reach a dialog that is gone (matters where dialogs are made more than once).
    CVX418Dlg* self = this;
    MainDialog.compare_exchange_strong(self, nullptr);
}

void CVX418Dlg::BindControls(const std::vector<std::pair<int, NativeControl>>& children) {
    for (const auto& [id, member] : MemberControls()) {
        controls_.emplace(id, member);
    }
    for (const auto& [id, child] : children) {
        auto found = controls_.find(id);
        if (found == controls_.end()) {
            // Labels and the standard buttons have no member but are reachable by id.
            unnamed_.push_back(std::make_unique<CWnd>());
            found = controls_.emplace(id, unnamed_.back().get()).first;
        }
        found->second->Attach(child);
    }
}

CWnd* CVX418Dlg::GetDlgItem(int id) {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

void CVX418Dlg::Raise(Command command) {
    if (dispatch_) {
        dispatch_(command);
    }
}

bool CVX418Dlg::OnInitDialog() {
    m_pImageList = std::make_unique<CImageList>(kTreeImageSize, kTreeImageSize);
    InitWindow();
    m_ConnectionsTree.SetImageList(m_pImageList.get());
    Raise(Command::Initialize);
    return true;
}

void CVX418Dlg::AppendLogText(std::string text) {
    if (GetSafeHwnd() == nullptr) {
        return;  // the window could not be made
    }
    if (OnWindowThread()) {
        std::string batch;
        {
            const std::lock_guard lock(logMutex_);
            batch.swap(pendingLog_);  // lines queued earlier go first
        }
        batch += text;
        m_LogPane.AppendText(batch);
        m_LogPane.PostScrollToBottom();
        return;
    }
    bool post = false;
    {
        const std::lock_guard lock(logMutex_);
        pendingLog_ += text;
        post = !std::exchange(drainPosted_, true);
    }
    // A full message queue refuses the post: the next line tries again.
    if (post && !PostDrainLog()) {
        const std::lock_guard lock(logMutex_);
        drainPosted_ = false;
    }
}

void CVX418Dlg::DrainLog() {
    std::string batch;
    {
        const std::lock_guard lock(logMutex_);
        batch.swap(pendingLog_);
        drainPosted_ = false;
    }
    if (!batch.empty()) {
        m_LogPane.AppendText(batch);
        m_LogPane.PostScrollToBottom();
    }
}
