#include "ops/adapter_workers.h"

#include <atomic>
#include <memory>
#include <utility>

#include "net/adapter.h"
#include "net/adapter_state.h"
#include "platform/threads.h"
#include "protocol/device_table.h"
#include "protocol/messages.h"
#include "shell/cvx418_dlg.h"
#include "shell/log_line.h"
#include "shell/shell_state.h"
#include "views/device_trees.h"

namespace {

std::atomic<int> pendingRefusalRebuilds{0};

}  // namespace

void HandleWindowFrame(const std::uint8_t* frame, std::size_t capturedLength,
                       const MacBytes& station) {
    if (!HandleCapturedFrame(frame, capturedLength, Devices(), MainDialogLineSink(), station)) {
        return;
    }
    // A unit refused a change the trees already show. The rebuild waits on the window, which
    // the capture thread must never do.
    if (CVX418Dlg* dialog = MainDialog.load()) {
        ++pendingRefusalRebuilds;
        StartDetachedThread([dialog] {
            RebuildDeviceTrees(dialog);
            --pendingRefusalRebuilds;
        });
    }
}

int PendingRefusalRebuilds() {
    return pendingRefusalRebuilds.load();
}

void FillAdapterList(CVX418Dlg* dialog) {
    std::string error;
    const auto adapters = LoadAdapterList(error);
    if (!adapters) {
        LogLine(dialog, "Unable to find any network card. Please check your network settings.");
        TraceLine("Listing the network adapters failed: %s", error.c_str());
        return;
    }
    for (const AdapterInfo& adapter : *adapters) {
        if (adapter.description) {
            dialog->m_AdapterCombo.AddString(*adapter.description);
        } else {
            LogLine(dialog, "No description available.");
        }
    }
    dialog->m_AdapterCombo.SetCurSel(0);
}

unsigned SetAdapterWorker(CVX418Dlg* dialog) {
    // Read before the run starts: the window may be busy, and no run waits on it for this.
    const int position = dialog->m_AdapterCombo.GetCurSel();
    std::shared_ptr<CaptureSession> session;
    {
        AdapterRun run;
        run.CloseCurrent();
        LogLine(dialog, "Setting the network adapter. Please wait.");
        bool notPermitted = false;
        if (OpenSelectedAdapter(dialog, position, &notPermitted)) {
            session = run.StartSession();
        }
        if (!session) {
            LogLine(dialog, "Failed to set the network adapter.");
            if (notPermitted) {
                LogLine(dialog, kCaptureNotPermittedLine);
            }
            return 1;
        }
        // Still inside the run: a newer Set Adapter cannot have closed this adapter yet, so the
        // success line never follows a later run's failure.
        EnableActionControlsUnlessRefreshing(dialog);
        LogLine(dialog, "Succeed in setting the network adapter.");
    }
    // Learned before the open and fixed for the session: the replies to this station.
    const MacBytes station = CurrentAdapter().AdapterMac;
    const int result = session->Run([station](const std::uint8_t* frame, std::size_t length) {
        HandleWindowFrame(frame, length, station);
    });
    if (result == -1) {
        TraceLine("Capture loop ended: %s", session->Handle().LastError().c_str());
    }
    return 1;
}

bool OpenSelectedAdapter(CVX418Dlg* dialog, int position, bool* notPermitted) {
    const std::optional<AdapterInfo> adapter = OfferedAdapterAt(position);
    if (!adapter || !QueryAdapterMac(adapter->name)) {
        return false;
    }
    const auto ip = FirstIpv4Entry(adapter->addresses);
    if (!ip) {
        return false;
    }
    SetAdapterIp(ip->ipv4, ip->prefixLength);

    std::string error;
    OpenOutcome outcome;
    std::unique_ptr<CaptureHandle> handle =
        ActiveCaptureBackend().OpenWithOutcome(adapter->name, OpenParameters{}, error, outcome);
    if (!outcome.warnings.empty()) {
        TraceLine("Opening %s: warning: %s", adapter->name.c_str(), outcome.warnings.c_str());
    }
    if (!handle) {
        if (notPermitted != nullptr) {
            *notPermitted = outcome.notPermitted;
        }
        // The adapter list stays: a later Set Adapter on a good adapter must still work.
        LogLine(dialog, "Unable open adapter");
        TraceLine("Opening %s failed: %s", adapter->name.c_str(), error.c_str());
        return false;
    }
    AdapterSnapshot snapshot = CurrentAdapter();
    snapshot.AdapterHandle = std::move(handle);
    SetCurrentAdapter(std::move(snapshot));
    LogLine(dialog, "%s %s\n", "Adaptor:", adapter->description->c_str());
    return true;
}
