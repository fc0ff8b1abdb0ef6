// Refresh from end to end on the lab: the real dialog (offscreen) and the real capture library
// in the station namespace, vx418-sim playing the units on the other side of the veth pair.
// Needs root for the namespaces; skipped otherwise.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "adapter_test_support.h"
#include "app/command_dispatch.h"
#include "dialog_support.h"
#include "lab_fixture.h"
#include "lab_test_base.h"
#include "net/adapter_state.h"
#include "net/posix/pcap_backend.h"
#include "ops/refresh_worker.h"
#include "protocol/device_table.h"
#include "shell/cvx418_dlg.h"
#include "shell/shell_state.h"
#include "views/device_trees.h"
#include "views/receiver_pickers.h"

namespace {

using namespace views_test;
using vxlab::SimEvent;

const std::string kLabEntry = "vxst0 (198.18.0.1)";
const std::string kSearching = "Searching for VX418 and refreshing. Please wait.";
const std::string kFinished = "Finished searching for VX418.";

// What the demo layout implies: HALL feeds FOYER and BAR by multicast; STAGE has STAGEL as its
// main Receiver and STAGER as backup 1 (its own link empty, so it is listed with the three free
// spares).
const std::vector<std::string> kDemoConnections{
    "0 1 - HALL: Multicast (198.18.1.11) [02:18:00:00:01:01]",
    "1 1 - FOYER: Receiver (198.18.1.21) [02:18:00:00:02:01]",
    "1 1 - BAR: Receiver (198.18.1.22) [02:18:00:00:02:02]",
    "0 1 - STAGE: Unicast (198.18.1.12) [02:18:00:00:01:02]",
    "1 1 - STAGEL: Receiver (198.18.1.23) [02:18:00:00:02:03]",
};
const std::vector<std::string> kDemoAvailable{
    "0 -1 - Available Receiver:",
    "1 1 - STAGER: Receiver (198.18.1.24) [02:18:00:00:02:04]",
    "1 1 - SPARE1: Receiver (198.18.1.25) [02:18:00:00:02:05]",
    "1 1 - SPARE2: Receiver (198.18.1.26) [02:18:00:00:02:06]",
    "1 1 - SPARE3: Receiver (198.18.1.27) [02:18:00:00:02:07]",
};
const std::vector<std::string> kEmptyAvailable{"0 -1 - Available Receiver:"};

class ViewsLab : public vxlab::LabTestBase {
  protected:
    void TearDown() override {
        if (dialog_) {
            adaptertest::StopCapture(*dialog_);
            dialog_.reset();
        }
        SetCaptureBackend(nullptr);
        SetCurrentAdapter({});
        LabTestBase::TearDown();
    }

    // The simulator on the unit side; then the dialog in the station namespace, adapter set.
    void Start(const vxlab::SimOptions& options) {
        StartLab(options);
        ASSERT_FALSE(HasFatalFailure());
        SetCaptureBackend(std::make_shared<PcapCaptureBackend>());
        dialog_ = CreateMainDialog();  // lists the station namespace's adapters
        dialog_->GetSafeHwnd()->show();
        ASSERT_TRUE(adaptertest::SelectAdapter(*dialog_, kLabEntry));
        DispatchCommand(dialog_.get(), Command::SetAdapter);
        ASSERT_TRUE(WaitUntil(
            [&] {
                return adaptertest::HasLine(*dialog_, "Succeed in setting the network adapter.");
            },
            10s));
    }

    CVX418Dlg& Dlg() { return *dialog_; }

    std::size_t DiscoveryRequestsSeen() {
        std::size_t n = 0;
        for (const SimEvent& e : lab_->Events()) {
            n += e.Is("request") && e.Text("op") == "discovery" ? 1 : 0;
        }
        return n;
    }

    std::unique_ptr<CVX418Dlg> dialog_;
};

vxlab::SimOptions Sim(const std::string& preset, std::vector<std::string> extraArgs = {}) {
    vxlab::SimOptions options;
    options.preset = preset;
    options.extraArgs = std::move(extraArgs);
    return options;
}

struct UnitView {
    int fromConnections;
    std::string label;
    Fields fields;
    std::vector<bool> rows;
    std::string connect, backup1, backup2;  // picker texts; "NULL" when nothing is chosen
};

TEST_F(ViewsLab, RefreshShowsTheDemoLayoutAndEachUnitFillsTheFields) {
    ASSERT_NO_FATAL_FAILURE(Start(Sim("demo")));
    auto* refresh = qobject_cast<QAbstractButton*>(Dlg().m_RefreshButton.widget());
    ASSERT_TRUE(refresh->isEnabled());

    const auto started = std::chrono::steady_clock::now();
    refresh->click();
    ASSERT_TRUE(WaitUntil([&] { return !refresh->isEnabled(); }, 2s));
    ASSERT_TRUE(WaitUntil(
        [&] { return refresh->isEnabled() && adaptertest::HasLine(Dlg(), kFinished); }, 15s));
    const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    std::printf("Refresh wall time on the lab: %lld ms\n", static_cast<long long>(wall.count()));
    RecordProperty("refresh_wall_ms", static_cast<int>(wall.count()));

    EXPECT_EQ(adaptertest::CountLine(Dlg(), kSearching), 1);
    EXPECT_EQ(DiscoveryRequestsSeen(), 3u);
    EXPECT_EQ(Devices().DeviceCount(), 9);  // each unit answered three times, stored once
    EXPECT_EQ(Dump(Dlg().m_ConnectionsTree), kDemoConnections);
    EXPECT_EQ(Dump(Dlg().m_AvailableTree), kDemoAvailable);
    EXPECT_EQ(ReceiverItemCount(), 3);

    const std::vector<bool> receiverRows = Rows(false, false, false);
    const std::vector<UnitView> units{
        {1,
         kDemoConnections[0].substr(6),
         {"HALL", "198.18.1.11", "02:18:00:00:01:01", 0},
         Rows(true, true, false),
         "NULL",
         "",
         ""},
        {1,
         kDemoConnections[3].substr(6),
         {"STAGE", "198.18.1.12", "02:18:00:00:01:02", 1},
         Rows(true, true, true),
         "STAGEL: Receiver (198.18.1.23) [02:18:00:00:02:03]",
         "STAGER: Receiver (198.18.1.24) [02:18:00:00:02:04]",
         "NULL"},
        {1,
         kDemoConnections[1].substr(6),
         {"FOYER", "198.18.1.21", "02:18:00:00:02:01", -1},
         receiverRows,
         "",
         "",
         ""},
        {1,
         kDemoConnections[2].substr(6),
         {"BAR", "198.18.1.22", "02:18:00:00:02:02", -1},
         receiverRows,
         "",
         "",
         ""},
        {1,
         kDemoConnections[4].substr(6),
         {"STAGEL", "198.18.1.23", "02:18:00:00:02:03", -1},
         receiverRows,
         "",
         "",
         ""},
        {0,
         kDemoAvailable[2].substr(6),
         {"SPARE1", "198.18.1.25", "02:18:00:00:02:05", -1},
         receiverRows,
         "",
         "",
         ""},
        {0,
         kDemoAvailable[3].substr(6),
         {"SPARE2", "198.18.1.26", "02:18:00:00:02:06", -1},
         receiverRows,
         "",
         "",
         ""},
        {0,
         kDemoAvailable[4].substr(6),
         {"SPARE3", "198.18.1.27", "02:18:00:00:02:07", -1},
         receiverRows,
         "",
         "",
         ""},
    };
    for (const UnitView& u : units) {
        CTreeCtrl& tree = u.fromConnections ? Dlg().m_ConnectionsTree : Dlg().m_AvailableTree;
        ASSERT_TRUE(Select(tree, u.label)) << u.label;
        EXPECT_EQ(ShownFields(Dlg()), u.fields) << u.label;
        EXPECT_EQ(RowsShown(Dlg()), u.rows) << u.label;
        EXPECT_EQ(LastTreeIsConnections.load(), u.fromConnections) << u.label;
        if (!u.connect.empty()) {  // the rows a Transmitter shows
            EXPECT_EQ(GetPickerText(&Dlg(), kConnectPicker), u.connect) << u.label;
        }
        if (!u.backup1.empty()) {
            EXPECT_EQ(GetPickerText(&Dlg(), kBackup1Picker), u.backup1) << u.label;
            EXPECT_EQ(GetPickerText(&Dlg(), kBackup2Picker), u.backup2) << u.label;
        }
    }
}

TEST_F(ViewsLab, FortyUnitsFillTheTableAtThirtyTwoAndTheLogSaysSo) {
    ASSERT_NO_FATAL_FAILURE(Start(Sim("many:40")));
    ASSERT_TRUE(RunOnWorker([this] { RefreshWorker(&Dlg()); }));
    EXPECT_EQ(Devices().DeviceCount(), 32);
    EXPECT_EQ(vxtest::CountLine(Dlg(), "40 units answered; 32 are shown."), 1);
    std::chrono::microseconds rebuild{};
    ASSERT_TRUE(RunOnWorker([&] {
        const auto start = std::chrono::steady_clock::now();
        RebuildDeviceTrees(&Dlg());
        rebuild = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start);
    }));
    std::printf("Rebuild of 32 units on the lab: %lld us\n",
                static_cast<long long>(rebuild.count()));
    RecordProperty("rebuild_32_us", static_cast<int>(rebuild.count()));

    const std::vector<std::string> connections = Dump(Dlg().m_ConnectionsTree);
    const std::vector<std::string> available = Dump(Dlg().m_AvailableTree);
    int transmitters = 0;
    for (const std::string& line : connections) {
        transmitters += line.rfind("0 ", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(transmitters, 8);
    EXPECT_EQ(connections.size(), 16u);  // each Transmitter with the Receiver behind it
    EXPECT_EQ(available.size(), 17u);    // the heading and 16 free Receivers
    EXPECT_EQ(connections.size() + available.size() - 1, 32u);
    ASSERT_FALSE(connections.empty());
    EXPECT_EQ(connections.front(), "0 1 - TX00: Multicast (198.19.1.1) [02:19:00:00:01:01]");
    EXPECT_EQ(available.back(), "1 1 - RX31: Receiver (198.19.2.32) [02:19:00:00:02:20]");
}

TEST_F(ViewsLab, RefreshLogsEachAddressConflict) {
    ASSERT_NO_FATAL_FAILURE(Start({.layoutFile = VX_LAB_FACTORY_LAYOUT, .extraArgs = {}}));
    ASSERT_TRUE(RunOnWorker([this] { RefreshWorker(&Dlg()); }));
    std::vector<std::string> conflicts;
    for (const std::string& line : vxtest::LogLines(Dlg())) {
        if (line.rfind("Address conflict: ", 0) == 0) {
            conflicts.push_back(line);
        }
    }
    std::sort(conflicts.begin(), conflicts.end());
    EXPECT_EQ(conflicts, (std::vector<std::string>{
                             "Address conflict: 198.18.0.1 is this station's own address but is "
                             "used by LOBBY [02:18:00:00:06:01].",
                             "Address conflict: 198.18.0.250 is used by 2 units.",
                             "Address conflict: 198.18.0.251 is used by 16 units.",
                             "Address conflict: 198.19.255.255 is the broadcast address of "
                             "198.18.0.0/15 but is used by ATTIC [02:18:00:00:06:02]."}));
}

TEST_F(ViewsLab, RepliesAfterTheWaitShowAtTheNextRebuild) {
    ASSERT_NO_FATAL_FAILURE(Start(Sim("demo", {"--delay", "2000"})));
    // A Refresh whose wait ends before any answer (its 5 s wait shortened to none here).
    ASSERT_TRUE(RunOnWorker([&] {
        BroadcastDiscovery();
        RebuildDeviceTrees(&Dlg());
    }));
    EXPECT_TRUE(Dump(Dlg().m_ConnectionsTree).empty());
    EXPECT_EQ(Dump(Dlg().m_AvailableTree), kEmptyAvailable);

    // The late answers are stored as they come, but the trees wait for the next rebuild.
    ASSERT_TRUE(WaitUntil([] { return Devices().DeviceCount() == 9; }, 10s));
    EXPECT_TRUE(Dump(Dlg().m_ConnectionsTree).empty());
    ASSERT_TRUE(RunOnWorker([&] { RebuildDeviceTrees(&Dlg()); }));
    EXPECT_EQ(Dump(Dlg().m_ConnectionsTree), kDemoConnections);
    EXPECT_EQ(Dump(Dlg().m_AvailableTree), kDemoAvailable);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();  // test discovery at build time needs no window system
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
