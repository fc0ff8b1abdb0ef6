#pragma once

// Driving the six operations on the real dialog against vx418-sim on the lab: what a user does
// (select a unit, open a picker and choose, type, press the button), a send gate for starting
// several operations at once, and discovery without the Refresh's five-second wait. Shared by
// the lab test, the screenshot driver and the benchmark; no test framework here.

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "adapter_test_support.h"
#include "app/command_dispatch.h"
#include "dialog_support.h"
#include "net/capture_backend.h"
#include "ops/refresh_worker.h"
#include "protocol/device_table.h"
#include "shell/cvx418_dlg.h"
#include "views/device_trees.h"

namespace opslab {

using namespace std::chrono_literals;
using vxtest::CountLine;
using vxtest::FindUnit;
using vxtest::HasLine;
using vxtest::LogLines;
using vxtest::RunOnWorker;
using vxtest::WaitUntil;

inline const std::string kLabEntry = "vxst0 (198.18.0.1)";
inline const std::string kAdapterSet = "Succeed in setting the network adapter.";
inline const std::string kRefreshFinished = "Finished searching for VX418.";

// The demo preset's units.
inline const std::string kHall = "02:18:00:00:01:01";
inline const std::string kStage = "02:18:00:00:01:02";
inline const std::string kFoyer = "02:18:00:00:02:01";
inline const std::string kBar = "02:18:00:00:02:02";
inline const std::string kStageL = "02:18:00:00:02:03";
inline const std::string kStageR = "02:18:00:00:02:04";
inline const std::string kSpare1 = "02:18:00:00:02:05";
inline const std::string kSpare2 = "02:18:00:00:02:06";
inline const std::string kSpare3 = "02:18:00:00:02:07";
inline const std::string kNoMac = "00:00:00:00:00:00";

// While held, every frame the station sends waits here, so that operations pressed one after
// the other all reach the wire together (each worker has read the window by then). Also counts
// the adapters opened through it.
class SendGate final : public vxtest::ForwardingBackend {
  public:
    using ForwardingBackend::ForwardingBackend;

    void Hold() {
        const std::lock_guard lock(state_->mutex);
        state_->held = true;
    }
    void Release() {
        {
            const std::lock_guard lock(state_->mutex);
            state_->held = false;
        }
        state_->changed.notify_all();
    }
    int Waiting() const { return state_->waiting; }
    int Opened() const { return state_->opened; }

    std::unique_ptr<CaptureHandle> Open(const std::string& name, const OpenParameters& p,
                                        std::string& error) override {
        auto handle = ForwardingBackend::Open(name, p, error);
        if (!handle) {
            return nullptr;
        }
        ++state_->opened;
        return std::make_unique<Handle>(std::move(handle), state_);
    }

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool held = false;
        std::atomic<int> waiting{0};
        std::atomic<int> opened{0};
    };

    class Handle final : public vxtest::ForwardingHandle {
      public:
        Handle(std::unique_ptr<CaptureHandle> inner, std::shared_ptr<State> state)
            : ForwardingHandle(std::move(inner)), state_(std::move(state)) {}
        int SendPacket(const std::uint8_t* frame, std::size_t length) override {
            {
                std::unique_lock lock(state_->mutex);
                ++state_->waiting;
                state_->changed.wait(lock, [&] { return !state_->held; });
                --state_->waiting;
            }
            return ForwardingHandle::SendPacket(frame, length);
        }

      private:
        std::shared_ptr<State> state_;
    };

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Selects the unit's item as a user's click would (the window shows it in the fields).
inline bool SelectUnit(CTreeCtrl& tree, const std::string& mac) {
    const HTREEITEM item = FindUnit(tree, mac);
    return item && views_test::Select(tree, tree.GetItemText(item));
}

inline bool TickUnit(CTreeCtrl& tree, const std::string& mac) {
    const HTREEITEM item = FindUnit(tree, mac);
    return item && tree.SetCheck(item, true);
}

inline void Press(CWnd& button) {
    qobject_cast<QAbstractButton*>(button.widget())->click();
}

// Replaces the field's text by typing, as a user would.
inline void Type(CEdit& edit, const std::string& text) {
    auto* line = qobject_cast<QLineEdit*>(edit.widget());
    line->clear();
    QTest::keyClicks(line, QString::fromLatin1(text.c_str()));
}

// Opens the picker's list (the window fills it on the drop-down) and chooses the unit's entry.
inline bool Pick(CComboBox& picker, const std::string& mac) {
    auto* combo = qobject_cast<QComboBox*>(picker.widget());
    combo->showPopup();
    combo->hidePopup();
    for (int i = 0; i < picker.GetCount(); ++i) {
        if (picker.GetLBText(i).ends_with("[" + mac + "]")) {
            picker.SetCurSel(i);
            return true;
        }
    }
    return false;
}

// A shown dialog on the lab adapter (Set Adapter pressed and succeeded); null on failure.
inline std::unique_ptr<CVX418Dlg> OpenOnLab() {
    auto dialog = CreateMainDialog();  // lists the station namespace's adapters
    dialog->GetSafeHwnd()->show();
    if (!adaptertest::SelectAdapter(*dialog, kLabEntry)) {
        return nullptr;
    }
    Press(*dialog->GetDlgItem(IDC_SET_ADAPTER));
    if (!WaitUntil([&] { return HasLine(*dialog, kAdapterSet); }, 10s)) {
        return nullptr;
    }
    return dialog;
}

// Waits until only the capture loop is left running (workers 1..8 have returned).
inline bool WorkersDone(std::chrono::milliseconds timeout = 10s) {
    return WaitUntil([] { return RunningWorkerCount() <= 1; }, timeout);
}

// A Refresh's discovery and rebuild without its five-second wait: three broadcasts 200 ms apart
// leave the units' answers long stored before the rebuild.
inline bool Discover(CVX418Dlg& dialog, int units) {
    RunOnWorker([] { BroadcastDiscovery(); });
    return WaitUntil([&] { return Devices().DeviceCount() == units; }, 5s) &&
           RunOnWorker([&] { RebuildDeviceTrees(&dialog); });
}

// The Refresh button, pressed and waited for.
inline bool PressRefresh(CVX418Dlg& dialog) {
    const int finished = CountLine(dialog, kRefreshFinished);
    Press(dialog.m_RefreshButton);
    return WaitUntil(
        [&] {
            return CountLine(dialog, kRefreshFinished) > finished &&
                   dialog.m_RefreshButton.IsWindowEnabled();
        },
        15s);
}

}  // namespace opslab
