// The six operations from end to end on the lab: the real dialog (offscreen) and the real
// capture library in the station namespace, vx418-sim playing the demo units. Each operation is
// pressed as a user does it; the simulator's events show what the units did, the Log pane shows
// the reply handler's line, and a later discovery shows what the window showed (or, where the
// units do more than the window assumes, exactly that difference; see docs/operations.md).
// Needs root for the namespaces; skipped otherwise.

#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/window_program.h"
#include "lab_capture_backend.h"
#include "lab_fixture.h"
#include "lab_test_base.h"
#include "net/adapter_state.h"
#include "net/posix/pcap_backend.h"
#include "ops/adapter_workers.h"
#include "ops_lab_support.h"
#include "platform/threads.h"
#include "protocol/device_table.h"

namespace {

using namespace opslab;
using vxlab::SimEvent;

const std::string kNameDone = "Succeeded in updating device's name.";
const std::string kNameFailed = "Failed to update device's name.";
const std::string kIpDone =
    "Succeeded in updating device's IP address. Please wait 3 seconds to refresh";
const std::string kIpFailed = "Failed to update device's IP address.";
const std::string kModeDone =
    "Succeeded in updating device's topology mode. Please wait 3 seconds to refresh";
const std::string kModeFailed = "Failed to update device's topology mode.";
const std::string kAddDone = "Succeeded in adding the Receiver.";
const std::string kAddFailed = "Failed to add the Receiver.";
const std::string kDeleteDone = "Succeeded in deleting the Receiver.";
const std::string kDeleteFailed = "Failed to delete the Receiver.";

// Both trees as the user reads them, "C " for Connections and "A " for Available Receivers.
std::vector<std::string> Trees(CVX418Dlg& dlg) {
    std::vector<std::string> lines;
    for (const std::string& line : views_test::Dump(dlg.m_ConnectionsTree)) {
        lines.push_back("C " + line);
    }
    for (const std::string& line : views_test::Dump(dlg.m_AvailableTree)) {
        lines.push_back("A " + line);
    }
    return lines;
}

// The unit's label in whichever tree shows it; empty when none does.
std::string LabelOf(CVX418Dlg& dlg, const std::string& mac) {
    for (CTreeCtrl* tree : {&dlg.m_ConnectionsTree, &dlg.m_AvailableTree}) {
        if (const HTREEITEM item = FindUnit(*tree, mac)) {
            return tree->GetItemText(item);
        }
    }
    return {};
}

const std::vector<std::string> kDemoTrees{
    "C 0 1 - HALL: Multicast (198.18.1.11) [02:18:00:00:01:01]",
    "C 1 1 - FOYER: Receiver (198.18.1.21) [02:18:00:00:02:01]",
    "C 1 1 - BAR: Receiver (198.18.1.22) [02:18:00:00:02:02]",
    "C 0 1 - STAGE: Unicast (198.18.1.12) [02:18:00:00:01:02]",
    "C 1 1 - STAGEL: Receiver (198.18.1.23) [02:18:00:00:02:03]",
    "A 0 -1 - Available Receiver:",
    "A 1 1 - STAGER: Receiver (198.18.1.24) [02:18:00:00:02:04]",
    "A 1 1 - SPARE1: Receiver (198.18.1.25) [02:18:00:00:02:05]",
    "A 1 1 - SPARE2: Receiver (198.18.1.26) [02:18:00:00:02:06]",
    "A 1 1 - SPARE3: Receiver (198.18.1.27) [02:18:00:00:02:07]",
};

struct UnitField {
    std::string mac, field, value;
};

struct OpCase {
    const char* what;
    std::function<bool(CVX418Dlg&)> press;  // select, pick or type, then the button
    const char* simOp;
    int requests;  // frames one press sends
    std::string accepted, refused;
    std::vector<UnitField> unitsAfter;  // the simulator's view once accepted
};

// One after the other on the demo layout; each starts from the units' state the previous one
// left (the accepted run rediscovers between operations).
std::vector<OpCase> DemoCases() {
    return {
        {"rename SPARE1",
         [](CVX418Dlg& d) {
             const bool selected = SelectUnit(d.m_AvailableTree, kSpare1);
             Type(d.m_NameEdit, "lobby");
             Press(d.m_ChangeNameButton);
             return selected;
         },
         "set-name",
         1,
         kNameDone,
         kNameFailed,
         {{kSpare1, "name", "LOBBY"}}},
        {"change the IP address of STAGE's main Receiver",
         [](CVX418Dlg& d) {
             const bool selected = SelectUnit(d.m_ConnectionsTree, kStageL);
             Type(d.m_IpEdit, "198.18.1.33");
             Press(d.m_ChangeIpButton);
             return selected;
         },
         "set-ip",
         1,
         kIpDone,
         kIpFailed,
         {{kStageL, "ip", "198.18.1.33"}, {kStage, "peer", "198.18.1.33"}}},
        {"add SPARE3 to the unicast STAGE",
         [](CVX418Dlg& d) {
             const bool ok =
                 SelectUnit(d.m_ConnectionsTree, kStage) && Pick(d.m_ConnectPicker, kSpare3);
             Press(d.m_AddConnectButton);
             return ok;
         },
         "add-receiver",
         1,
         kAddDone,
         kAddFailed,
         // The replaced main Receiver keeps its own link.
         {{kStage, "t1", kSpare3}, {kSpare3, "t1", kStage}, {kStageL, "t1", kStage}}},
        {"add SPARE2 as STAGE's backup 1",
         [](CVX418Dlg& d) {
             const bool ok =
                 SelectUnit(d.m_ConnectionsTree, kStage) && Pick(d.m_Backup1Picker, kSpare2);
             Press(d.m_AddBackup1Button);
             return ok;
         },
         "add-backup",
         1,
         kAddDone,
         kAddFailed,
         // A backup's own link stays as it was.
         {{kStage, "t2", kSpare2}, {kSpare2, "t1", kNoMac}, {kStageR, "t1", kNoMac}}},
        {"add SPARE1 as STAGE's backup 2",
         [](CVX418Dlg& d) {
             const bool ok =
                 SelectUnit(d.m_ConnectionsTree, kStage) && Pick(d.m_Backup2Picker, kSpare1);
             Press(d.m_AddBackup2Button);
             return ok;
         },
         "add-backup",
         1,
         kAddDone,
         kAddFailed,
         {{kStage, "t3", kSpare1}, {kSpare1, "t1", kNoMac}}},
        {"delete a multicast and a unicast Receiver",
         [](CVX418Dlg& d) {
             // FOYER, and STAGE's main Receiver, whichever the earlier cases left there.
             CTreeCtrl& tree = d.m_ConnectionsTree;
             const HTREEITEM stage = FindUnit(tree, kStage);
             const bool ticked = TickUnit(tree, kFoyer) && stage && tree.GetChildItem(stage) &&
                                 tree.SetCheck(tree.GetChildItem(stage), true);
             Press(d.m_DeleteReceiverButton);
             return ticked;
         },
         "delete-receiver",
         2,
         kDeleteDone,
         kDeleteFailed,
         // Backup 1 moves up to main Receiver on the unit and names it; the window too.
         {{kFoyer, "t1", kNoMac},
          {kSpare3, "t1", kNoMac},
          {kStage, "t1", kSpare2},
          {kSpare2, "t1", kStage},
          {kStage, "t2", kNoMac}}},
        {"switch HALL to unicast",
         [](CVX418Dlg& d) {
             const bool selected = SelectUnit(d.m_ConnectionsTree, kHall);
             d.m_TopologyCombo.SetCurSel(1);
             Press(d.m_ChangeTopologyButton);
             return selected;
         },
         "set-mode",
         1,
         kModeDone,
         kModeFailed,
         {{kHall, "mode", "1"}, {kBar, "t1", kNoMac}}},
    };
}

class OpsLab : public vxlab::LabTestBase {
  protected:
    void TearDown() override {
        if (gate_) {
            gate_->Release();
        }
        if (dialog_) {
            WorkersDone();
            adaptertest::StopCapture(*dialog_);
            WaitUntil([] { return RunningWorkerCount() == 0; }, 5s);
            dialog_.reset();
        }
        SetCaptureBackend(nullptr);
        SetCurrentAdapter({});
        LabTestBase::TearDown();
    }

    // The simulator, then the dialog in the station namespace on the lab adapter with the
    // units discovered.
    void Start(std::vector<std::string> simArgs = {}) {
        StartLab({.preset = "demo", .layoutFile = {}, .extraArgs = std::move(simArgs)});
        ASSERT_FALSE(HasFatalFailure());
        gate_ = std::make_shared<SendGate>(LabCaptureBackend());
        backend_ = std::make_shared<adaptertest::CountingBackend>(gate_);
        SetCaptureBackend(backend_);
        dialog_ = OpenOnLab();
        ASSERT_TRUE(dialog_) << "Set Adapter on the lab link failed";
        ASSERT_TRUE(Discover(*dialog_, 9));
    }

    CVX418Dlg& Dlg() { return *dialog_; }

    // Reply events since from for op with this outcome.
    int Replies(std::size_t from, const std::string& op, bool accepted) const {
        const auto events = lab_->Events();
        int n = 0;
        for (std::size_t i = from; i < events.size(); ++i) {
            n += events[i].Is("reply") && events[i].Text("op") == op &&
                 events[i].Text("accepted") == (accepted ? "true" : "false");
        }
        return n;
    }

    // Presses the case's button and waits until the workers are done, the units have answered
    // and the Log pane has the expected line once per request.
    void Run(const OpCase& c, bool accepted) {
        const std::string& line = accepted ? c.accepted : c.refused;
        const std::size_t from = lab_->EventCount();
        const int before = CountLine(Dlg(), line);
        ASSERT_TRUE(c.press(Dlg())) << "the unit or picker entry is not shown";
        ASSERT_TRUE(WorkersDone());
        EXPECT_TRUE(WaitUntil([&] { return Replies(from, c.simOp, accepted) == c.requests; }, 3s));
        EXPECT_TRUE(WaitUntil([&] { return CountLine(Dlg(), line) == before + c.requests; }, 3s))
            << "\"" << line << "\" " << CountLine(Dlg(), line) - before << " times";
    }

    std::shared_ptr<SendGate> gate_;
    std::shared_ptr<adaptertest::CountingBackend> backend_;
    std::unique_ptr<CVX418Dlg> dialog_;
};

TEST_F(OpsLab, EachOperationChangesTheUnitsAndADiscoveryShowsWhatTheWindowShowed) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::vector<OpCase> cases = DemoCases();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const OpCase& c = cases[i];
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(Run(c, true));
        for (const UnitField& u : c.unitsAfter) {
            EXPECT_EQ(lab_->UnitState(u.mac)->Text(u.field), u.value) << u.mac << " " << u.field;
        }
        const std::vector<std::string> window = Trees(Dlg());
        // The last one through the Refresh button, the others without its five-second wait.
        ASSERT_TRUE(i + 1 == cases.size() ? PressRefresh(Dlg()) : Discover(Dlg(), 9));
        EXPECT_EQ(window, Trees(Dlg()));
    }
}

TEST_F(OpsLab, RefusedOperationsLogTheirFailureAndTheWindowPutsTheUnitsValuesBack) {
    ASSERT_NO_FATAL_FAILURE(Start({"--refuse", "all"}));
    const std::size_t unitEventsAtStart = lab_->EventCount();
    for (const OpCase& c : DemoCases()) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(Run(c, false));
        // The change shown at the press goes once the unit's refusal arrives.
        EXPECT_TRUE(WaitUntil(
            [&] { return PendingRefusalRebuilds() == 0 && Trees(Dlg()) == kDemoTrees; }, 3s))
            << testing::PrintToString(Trees(Dlg()));
    }
    for (const std::string& line : LogLines(Dlg())) {
        EXPECT_EQ(line.rfind("Succeeded in", 0), std::string::npos) << line;
    }
    const auto events = lab_->Events();
    for (std::size_t i = unitEventsAtStart; i < events.size(); ++i) {
        EXPECT_FALSE(events[i].Is("unit")) << events[i].Line();
    }
    ASSERT_TRUE(PressRefresh(Dlg()));
    EXPECT_EQ(Trees(Dlg()), kDemoTrees);
}

TEST_F(OpsLab, EightRenamesPressedTogetherAllReachTheUnitsAndTheTable) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::vector<std::string> units{kHall,   kStage,  kFoyer,  kBar,
                                         kStageL, kSpare1, kSpare2, kSpare3};
    const std::size_t from = lab_->EventCount();
    // Each worker has read its selection and name once its frame waits at the gate, so the
    // next unit can be selected; the eight frames then leave together.
    gate_->Hold();
    for (std::size_t i = 0; i < units.size(); ++i) {
        ASSERT_TRUE(SelectUnit(Dlg().m_ConnectionsTree, units[i]) ||
                    SelectUnit(Dlg().m_AvailableTree, units[i]))
            << units[i];
        Type(Dlg().m_NameEdit, "EIGHT" + std::to_string(i));
        Press(Dlg().m_ChangeNameButton);
        ASSERT_TRUE(WaitUntil([&] { return gate_->Waiting() == static_cast<int>(i) + 1; }, 5s));
    }
    gate_->Release();
    ASSERT_TRUE(WorkersDone());
    EXPECT_TRUE(WaitUntil([&] { return Replies(from, "set-name", true) == 8; }, 3s));
    EXPECT_TRUE(WaitUntil([&] { return CountLine(Dlg(), kNameDone) == 8; }, 3s));
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::string name = "EIGHT" + std::to_string(i);
        EXPECT_EQ(lab_->UnitState(units[i])->Text("name"), name);
        EXPECT_EQ(Devices().DeviceNameByMac(units[i]), name);
        const std::string label = LabelOf(Dlg(), units[i]);
        EXPECT_EQ(label.rfind(name + ":", 0), 0u) << label;
    }
    const std::vector<std::string> window = Trees(Dlg());
    ASSERT_TRUE(Discover(Dlg(), 9));
    EXPECT_EQ(Trees(Dlg()), window);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int OpenFileCount() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                          std::filesystem::directory_iterator{}));
}

// CI runs the default; VX_OPS_SOAK_PRESSES=1000 for the full soak.
int SoakPresses() {
    const char* text = std::getenv("VX_OPS_SOAK_PRESSES");
    const int n = text != nullptr ? std::atoi(text) : 0;
    return n > 0 ? n : 100;
}

TEST_F(OpsLab, SetAdapterPressedManyTimesWhileRenamesSendEndsWithOneLoopAndNoFileLeft) {
    ASSERT_NO_FATAL_FAILURE(Start());
    CWnd& setAdapter = *Dlg().GetDlgItem(IDC_SET_ADAPTER);
    const auto settled = [&](int opened) {
        return WaitUntil(
            [&] {
                return gate_->Opened() == opened && backend_->RunningLoops() == 1 &&
                       backend_->OpenHandles() == 1;
            },
            5s);
    };
    // Warm up: whatever the first presses open for good is not a leak.
    Press(setAdapter);
    ASSERT_TRUE(settled(2));
    const int filesBefore = OpenFileCount();

    // Renames of SPARE1 keep going, at most about two at a time beside the capture loop and the
    // Set Adapter runs.
    int renames = 0;
    QTimer renamer;
    QObject::connect(&renamer, &QTimer::timeout, [&] {
        if (RunningWorkerCount() > 3 || !SelectUnit(Dlg().m_AvailableTree, kSpare1)) {
            return;
        }
        Type(Dlg().m_NameEdit, renames % 2 ? "SOAKB" : "SOAKA");
        Press(Dlg().m_ChangeNameButton);
        ++renames;
    });
    renamer.start(2);

    const int presses = SoakPresses();
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < presses; i += 2) {
        // Two presses in a row, as a double click: the second run waits for the first.
        Press(setAdapter);
        Press(setAdapter);
        ASSERT_TRUE(settled(2 + i + 2)) << "press " << i << ": " << gate_->Opened() << " opens, "
                                        << backend_->RunningLoops() << " loops";
    }
    const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    renamer.stop();
    ASSERT_TRUE(WorkersDone());

    const int filesAfter = OpenFileCount();
    std::printf(
        "Set Adapter pressed %d times in %lld ms while %d renames ran; open files %d "
        "before, %d after; %d capture loop(s), %d open handle(s)\n",
        presses + presses % 2, static_cast<long long>(wall.count()), renames, filesBefore,
        filesAfter, backend_->RunningLoops(), backend_->OpenHandles());
    RecordProperty("presses", presses);
    RecordProperty("renames", renames);
    RecordProperty("files_before", filesBefore);
    RecordProperty("files_after", filesAfter);
    EXPECT_EQ(filesAfter, filesBefore);
    EXPECT_EQ(backend_->RunningLoops(), 1);
    EXPECT_EQ(backend_->OpenHandles(), 1);
    EXPECT_GT(renames, 0);
    EXPECT_EQ(CountLine(Dlg(), kAdapterSet), gate_->Opened());
    EXPECT_FALSE(HasLine(Dlg(), "Failed to set the network adapter."));
}

TEST_F(OpsLab, ClosingTheProgramWhileOperationsAndARefreshRunEndsIt) {
    StartLab({});
    ASSERT_FALSE(HasFatalFailure());
    // A separate process that ends the way the program does; it inherits the station namespace.
    const std::string out = "/tmp/vx-ops-close-" + std::to_string(getpid());
    std::string error;
    auto child = vxlab::BackgroundProcess::Start({"/proc/self/exe", "--close-during-operations"},
                                                 out + ".out", out + ".err", error);
    ASSERT_TRUE(child) << error;
    const auto status = child->Wait(30s);
    const std::string said = ReadFile(out + ".out");
    const std::string complained = ReadFile(out + ".err");
    std::filesystem::remove(out + ".out");
    std::filesystem::remove(out + ".err");
    ASSERT_TRUE(status) << "the program did not end";
    EXPECT_EQ(*status, 0) << complained.substr(complained.size() -
                                               std::min<std::size_t>(complained.size(), 4000));
    // The capture loop and the sleeping Refresh at least, and whatever operations were running.
    int running = 0;
    EXPECT_EQ(std::sscanf(said.c_str(), "workers running at the close: %d", &running), 1) << said;
    EXPECT_GE(running, 2);
    int operations = 0;
    for (const SimEvent& e : lab_->Events()) {
        operations += e.Is("request") && e.Text("op") != "discovery";
    }
    std::printf("%d workers running at the close, %d operation requests before it\n", running,
                operations);
    EXPECT_GT(operations, 0) << "no operation reached the units before the close";
}

// The scripted user of the close test: Set Adapter, the trees filled, then operations of every
// kind pressed every 2 ms with a Refresh among them, and the close box 400 ms later.
void StartOperationStorm(CVX418Dlg* d) {
    auto* storm = new QTimer(d->GetSafeHwnd());
    auto* step = new int(0);
    QObject::connect(storm, &QTimer::timeout, [d, step] {
        switch ((*step)++ % 6) {
            case 0:
                SelectUnit(d->m_AvailableTree, kSpare1);
                d->m_NameEdit.SetWindowText("CLOSING");
                DispatchCommand(d, Command::ChangeName);
                break;
            case 1:
                SelectUnit(d->m_ConnectionsTree, kStageL);
                d->m_IpEdit.SetWindowText(*step % 2 ? "198.18.1.33" : "198.18.1.23");
                DispatchCommand(d, Command::ChangeIp);
                break;
            case 2:
                SelectUnit(d->m_ConnectionsTree, kStage);
                Pick(d->m_ConnectPicker, kSpare3);
                DispatchCommand(d, Command::AddReceiver);
                break;
            case 3:
                SelectUnit(d->m_ConnectionsTree, kStage);
                Pick(d->m_Backup1Picker, kSpare2);
                DispatchCommand(d, *step % 2 ? Command::AddBackup2 : Command::AddBackup1);
                break;
            case 4:
                TickUnit(d->m_ConnectionsTree, kFoyer);
                TickUnit(d->m_ConnectionsTree, kBar);
                DispatchCommand(d, Command::DeleteReceivers);
                break;
            default:
                SelectUnit(d->m_ConnectionsTree, kHall);
                d->m_TopologyCombo.SetCurSel(*step % 2);
                DispatchCommand(d, Command::ChangeTopology);
                break;
        }
    });
    storm->start(2);
    QTimer::singleShot(100, d->GetSafeHwnd(), [d] { DispatchCommand(d, Command::Refresh); });
    QTimer::singleShot(400, d->GetSafeHwnd(), [d] {
        std::printf("workers running at the close: %d\n", RunningWorkerCount());
        std::fflush(stdout);
        d->GetSafeHwnd()->reject();
    });
}

int RunCloseDuringOperations(int argc, char** argv) {
    const std::string lockDir = vxtest::PrivateLockDirectory();
    if (lockDir.empty()) {
        return 3;
    }
    QApplication application(argc, argv);
    QTimer::singleShot(0, [lockDir] {
        std::filesystem::remove_all(lockDir);
        CVX418Dlg* d = MainDialog.load();
        adaptertest::SelectAdapter(*d, kLabEntry);
        DispatchCommand(d, Command::SetAdapter);
        auto* wait = new QTimer(d->GetSafeHwnd());
        QObject::connect(wait, &QTimer::timeout, [d, wait] {
            if (HasLine(*d, kAdapterSet) && !FindUnit(d->m_ConnectionsTree, kStage)) {
                wait->setInterval(50);
                static bool discovering = false;
                if (!std::exchange(discovering, true)) {
                    StartDetachedThread([d] {
                        BroadcastDiscovery();
                        RebuildDeviceTrees(d);
                    });
                }
            } else if (FindUnit(d->m_ConnectionsTree, kStage)) {
                wait->stop();
                StartOperationStorm(d);
            }
        });
        wait->start(10);
    });
    RunMainWindow(std::make_shared<PcapCaptureBackend>());  // the program's own end
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--close-during-operations") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return RunCloseDuringOperations(argc, argv);
    }
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();  // test discovery at build time needs no window system
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
