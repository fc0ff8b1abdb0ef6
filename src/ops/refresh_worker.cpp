#include "ops/refresh_worker.h"

#include <cstdint>
#include <memory>
#include <optional>

#include "net/adapter_state.h"
#include "net/frame_builder.h"
#include "platform/threads.h"
#include "protocol/device_table.h"
#include "protocol/installation_checks.h"
#include "shell/log_line.h"
#include "shell/shell_state.h"
#include "views/device_trees.h"

namespace {

constexpr int kDiscoveryBroadcasts = 3;
constexpr unsigned kBroadcastSpacingMs = 200;  // also after the last broadcast
constexpr unsigned kRefreshTimeoutMs = 5000;   // replies are collected while this worker sleeps

// One line per address that several units share, that is the station's own, or that no unit
// can use.
void LogAddressConflicts(CVX418Dlg* dialog) {
    const AdapterSnapshot station = CurrentAdapter();
    const auto findings =
        CheckAddresses(Devices().Snapshot(), {station.AdapterIp, station.AdapterPrefixLength});
    for (const std::string& line : AddressConflictLines(findings)) {
        LogLine(dialog, "%s", line.c_str());
    }
}

// The open adapter's loss counters when a Refresh starts. Only a weak hold: a Set Adapter meanwhile
// must still be able to close the adapter.
struct DropsAtStart {
    std::weak_ptr<CaptureHandle> handle;
    std::optional<CaptureDrops> drops;
};

DropsAtStart ReadDrops() {
    const std::shared_ptr<CaptureHandle> handle = CurrentAdapter().AdapterHandle;
    return {handle, handle ? handle->Drops() : std::nullopt};
}

// Frames that adapter lost since; 0 when it is closed or cannot tell.
std::uint32_t DroppedSince(const DropsAtStart& start) {
    const std::shared_ptr<CaptureHandle> handle = start.handle.lock();
    const auto now = handle && start.drops ? handle->Drops() : std::nullopt;
    return now ? DroppedBetween(*start.drops, *now) : 0;
}

}  // namespace

unsigned RefreshWorker(CVX418Dlg* dialog) {
    const DropsAtStart dropsAtStart = ReadDrops();
    TraceLine("===== Refresh Timeout is %d mseconds =====", static_cast<int>(kRefreshTimeoutMs));
    BeginRefreshBusy(dialog);
    LogLine(dialog, "Searching for VX418 and refreshing. Please wait.");
    BroadcastDiscovery();
    Sleep(kRefreshTimeoutMs);
    RebuildDeviceTrees(dialog);
    LogAddressConflicts(dialog);
    // The table keeps 32 units; the user must learn that others answered too.
    if (const auto units = Devices().CountUnits(); units.answered > units.stored) {
        LogLine(dialog, "%d units answered; %d are shown.", units.answered, units.stored);
    }
    // A reply the capture lost is a unit missing from the trees.
    if (const std::uint32_t dropped = DroppedSince(dropsAtStart); dropped != 0) {
        LogLine(dialog,
                "%u frames were dropped by the capture; some units may be missing. "
                "Refresh again.",
                dropped);
    }
    LogLine(dialog, "Finished searching for VX418.");
    EndRefreshBusy(dialog);
    return 1;
}

void BroadcastDiscovery() {
    Devices().Clear();
    for (int i = 0; i < kDiscoveryBroadcasts; ++i) {
        if (SendRequest(nullptr, kDiscoveryRequest) != 0) {
            TraceLine("Refresh Success!!!");
        } else {
            TraceLine("Refresh Failed!!!");
        }
        Sleep(kBroadcastSpacingMs);
    }
}
