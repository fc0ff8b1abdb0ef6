#pragma once

// Helpers for the adapter tests that drive the real dialog (offscreen).

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/command_dispatch.h"
#include "forwarding_capture.h"
#include "net/adapter.h"
#include "net/adapter_state.h"
#include "net/capture_backend.h"
#include "ops/adapter_workers.h"
#include "shell/cvx418_dlg.h"
#include "shell/shell_state.h"
#include "window_test_support.h"

namespace adaptertest {

using namespace std::chrono_literals;

// Runs the window thread's events until pred holds; false on time-out.
template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds timeout = 5s) {
    return vxtest::WaitUntil(pred, timeout);
}

using vxtest::CountLine;
using vxtest::HasLine;
using vxtest::LogLines;

// Wraps a backend and counts the handles it has open and the capture loops running on them.
class CountingBackend final : public vxtest::ForwardingBackend {
  public:
    struct Counters {
        std::atomic<int> openHandles{0};
        std::atomic<int> runningLoops{0};
    };

    using ForwardingBackend::ForwardingBackend;

    int OpenHandles() const { return counters_->openHandles; }
    int RunningLoops() const { return counters_->runningLoops; }

    std::unique_ptr<CaptureHandle> Open(const std::string& name, const OpenParameters& p,
                                        std::string& error) override {
        auto handle = ForwardingBackend::Open(name, p, error);
        if (!handle) {
            return nullptr;
        }
        return std::make_unique<Handle>(std::move(handle), counters_);
    }

  private:
    class Handle final : public vxtest::ForwardingHandle {
      public:
        Handle(std::unique_ptr<CaptureHandle> inner, std::shared_ptr<Counters> counters)
            : ForwardingHandle(std::move(inner)), counters_(std::move(counters)) {
            ++counters_->openHandles;
        }
        ~Handle() override { --counters_->openHandles; }
        int Loop(const FrameCallback& onFrame) override {
            ++counters_->runningLoops;
            const int result = ForwardingHandle::Loop(onFrame);
            --counters_->runningLoops;
            return result;
        }

      private:
        std::shared_ptr<Counters> counters_;
    };

    std::shared_ptr<Counters> counters_ = std::make_shared<Counters>();
};

// Selects the adapter list entry whose text starts with prefix; false when there is none.
inline bool SelectAdapter(CVX418Dlg& dialog, const std::string& prefix) {
    for (int i = 0; i < dialog.m_AdapterCombo.GetCount(); ++i) {
        if (dialog.m_AdapterCombo.GetLBText(i).rfind(prefix, 0) == 0) {
            dialog.m_AdapterCombo.SetCurSel(i);
            return true;
        }
    }
    return false;
}

// Ends the capture of the last Set Adapter the way the program can: a Set Adapter with nothing
// selected stops the running loop and opens nothing. Run on the window thread, it returns once
// the loop has ended, so the dialog can go.
inline void StopCapture(CVX418Dlg& dialog) {
    dialog.m_AdapterCombo.SetCurSel(-1);
    SetAdapterWorker(&dialog);
    MainDialog = nullptr;
    QCoreApplication::processEvents();
}

// The screenshot drivers' last step: focus on the tree, let the window paint, save the window
// as PNG, then end the capture and drop the adapter so the dialog can go. False when the
// picture could not be written.
inline bool SaveWindowPicture(CVX418Dlg& dialog, CTreeCtrl& focus, const char* output) {
    focus.widget()->setFocus();
    vxtest::WaitUntil([] { return false; }, 500ms);
    const bool saved = dialog.GetSafeHwnd()->grab().save(QString::fromLocal8Bit(output), "PNG");
    StopCapture(dialog);
    vxtest::WaitUntil([] { return RunningWorkerCount() == 0; }, 5s);
    SetCurrentAdapter({});
    return saved;
}

}  // namespace adaptertest
