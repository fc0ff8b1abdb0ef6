// Sequences of operations with no Refresh between, on the real dialog (offscreen) with the
// simulator's own unit model answering on the in-memory segment. After every step the trees
// must show what a Refresh would show: each unit once, where the units themselves put it, and
// a refused change put back. Also: text typed into a picker stays "no entry" when focus leaves.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/command_dispatch.h"
#include "dialog_support.h"
#include "net/adapter_state.h"
#include "net/memory_segment.h"
#include "protocol/operation_rules.h"
#include "protocol/wire_format.h"
#include "shell/cvx418_dlg.h"
#include "sim_engine.h"
#include "sim_layout.h"
#include "views/device_trees.h"
#include "views/labels.h"
#include "views/view_plans.h"

using namespace views_test;
using namespace std::chrono_literals;

namespace {

enum Command : int {
    kDelete = 2,
    kRename = 3,
    kChangeIp = 4,
    kAdd = 5,
    kAddBackup1 = 6,
    kTopology = 8,
    kSetAdapter = 9,
    kFillConnect = 11,
    kFillBackup1 = 12,
};

CVX418Dlg* theDialog = nullptr;
std::shared_ptr<MemorySegment> theSegment;

class NoEvents final : public vxsim::EventSink {
  public:
    void Emit(const vxsim::JsonLine&) override {}
};

class QuietSink final : public LineSink {
  public:
    void Log(std::string_view) override {}
    void Trace(std::string_view) override {}
};

// The units on the segment: every frame the window sends goes to the simulator's engine, and
// its replies come back through the capture loop as a real adapter's would.
class UnitsOnTheSegment final : public CaptureHandle {
  public:
    UnitsOnTheSegment(std::unique_ptr<CaptureHandle> inner, vxsim::Engine& engine)
        : inner_(std::move(inner)), engine_(engine) {}
    int SendPacket(const std::uint8_t* frame, std::size_t length) override {
        const int result = inner_->SendPacket(frame, length);
        const std::lock_guard lock(mutex_);
        for (const vxsim::OutFrame& reply : engine_.Handle({frame, length})) {
            theSegment->Inject(reply.bytes);
        }
        return result;
    }
    int Loop(const FrameCallback& onFrame) override { return inner_->Loop(onFrame); }
    void BreakLoop() override { inner_->BreakLoop(); }

  private:
    std::unique_ptr<CaptureHandle> inner_;
    vxsim::Engine& engine_;
    std::mutex mutex_;
};

std::vector<DeviceRecord> AsTable(const std::vector<vxsim::SimUnit>& units) {
    DeviceTable table;
    QuietSink sink;
    for (const vxsim::SimUnit& u : units) {
        const auto wire = vxsim::EncodeRecord(u);
        table.StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize>(wire), sink);
    }
    return table.Snapshot();
}

// "depth label" lines, as the user reads the trees.
std::vector<std::string> Labels(CTreeCtrl& tree) {
    std::vector<std::string> lines;
    for (const std::string& line : Dump(tree)) {
        lines.push_back(line.substr(0, 1) + " " + line.substr(line.find(" - ") + 3));
    }
    return lines;
}

struct Trees {
    std::vector<std::string> connections;
    std::vector<std::string> available;
    std::vector<std::string> rows;  // each unit's fields and Receiver rows when selected
    bool operator==(const Trees&) const = default;
};

std::string Row(const PickerContent& row) {
    return (row.entries.empty() ? "" : row.entries.front()) + "#" + std::to_string(row.selected);
}

std::vector<std::string> PlannedRows(const std::vector<DeviceRecord>& records) {
    std::vector<std::string> rows;
    for (int i = 0; i < static_cast<int>(records.size()); ++i) {
        const SelectedUnitView v = PlanSelectedUnit(records, DeviceLabel(records, i));
        rows.push_back(v.name + " " + v.ip + " " + std::to_string(v.selector) + " | " +
                       Row(v.connect) + " | " + Row(v.backup1) + " | " + Row(v.backup2));
    }
    return rows;
}

Trees PlannedTrees(const std::vector<DeviceRecord>& records) {
    const DeviceTreesPlan plan = PlanDeviceTrees(records);
    Trees trees;
    trees.rows = PlannedRows(records);
    for (const TransmitterBranch& branch : plan.connections) {
        trees.connections.push_back("0 " + branch.item.label);
        for (const TreeEntry& child : branch.children) {
            trees.connections.push_back("1 " + child.label);
        }
    }
    trees.available.push_back(std::string("0 ") + kAvailableHeading);
    for (const TreeEntry& entry : plan.available) {
        trees.available.push_back("1 " + entry.label);
    }
    return trees;
}

std::ostream& operator<<(std::ostream& out, const Trees& trees) {
    for (const auto* lines : {&trees.connections, &trees.available, &trees.rows}) {
        for (const std::string& line : *lines) {
            out << "\n  " << line;
        }
        out << "\n  --";
    }
    return out;
}

class OpsModel : public ::testing::Test {
  public:  // the steps below drive the dialog through the fixture
    CVX418Dlg& dlg = *theDialog;

    // The demo units, known to the window as after a Refresh; the engine refuses `refused`.
    void StartUnits(const std::set<vxsim::Operation>& refused) {
        vxsim::FaultSwitches faults;
        faults.refuse = refused;
        engine_ = std::make_unique<vxsim::Engine>(vxsim::DemoPreset(), faults, events_);
        Devices().Clear();
        QuietSink sink;
        for (const vxsim::SimUnit& u : engine_->Units().Units()) {
            const auto wire = vxsim::EncodeRecord(u);
            Devices().StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize>(wire),
                                            sink);
        }
        ASSERT_TRUE(RunOnWorker([this] { RebuildDeviceTrees(&dlg); }));
        std::string error;
        AdapterSnapshot adapter = CurrentAdapter();
        adapter.AdapterHandle = std::make_shared<UnitsOnTheSegment>(
            theSegment->Open("rpcap://seg0", {}, error), *engine_);
        SetCurrentAdapter(std::move(adapter));
        theSegment->ClearSentFrames();
    }

    // The model's records in the window's table order, so the labels line up.
    Trees ModelTrees() const {
        std::vector<vxsim::SimUnit> ordered;
        for (const DeviceRecord& r : Devices().Snapshot()) {
            if (const vxsim::SimUnit* u = engine_->Units().Find(r.Mac)) {
                ordered.push_back(*u);
            }
        }
        return PlannedTrees(AsTable(ordered));
    }
    Trees WindowTrees() {
        return {Labels(dlg.m_ConnectionsTree), Labels(dlg.m_AvailableTree),
                PlannedRows(Devices().Snapshot())};
    }

    std::string MacOf(const std::string& name) const {
        for (const DeviceRecord& r : Devices().Snapshot()) {
            if (NameText(r.Name) == name) {
                return MacText(r.Mac);
            }
        }
        ADD_FAILURE() << name << " is not in the table";
        return {};
    }
    std::string LabelOf(const std::string& name) const {
        const auto devices = Devices().Snapshot();
        return DeviceLabel(devices, FindInSnapshot(devices, MacOf(name)));
    }
    void SelectUnit(const std::string& name) {
        const std::string label = LabelOf(name);
        if (!Select(dlg.m_ConnectionsTree, label)) {
            ASSERT_TRUE(Select(dlg.m_AvailableTree, label)) << label;
        }
    }
    void Pick(int fillCommand, CComboBox& picker, const std::string& name) {
        DispatchCommand(&dlg, fillCommand);
        for (int i = 0; i < picker.GetCount(); ++i) {
            if (MacFromLabel(picker.GetLBText(i)) == MacOf(name)) {
                picker.SetCurSel(i);
                return;
            }
        }
        ADD_FAILURE() << name << " is not offered";
    }
    void Press(int command) {
        DispatchCommand(&dlg, command);
        ASSERT_TRUE(
            WaitUntil([] { return RunningWorkerCount() <= 1; }, 20s));  // the capture loop stays
    }

    // Lines the capture thread writes for the units' answers since the sequence began.
    std::size_t CountReplyLines() {
        std::size_t n = 0;
        for (const std::string& line : vxtest::LogLines(dlg)) {
            n += line.rfind("Succeeded in ", 0) == 0 || line.rfind("Failed to ", 0) == 0;
        }
        return n;
    }
    std::size_t ReplyLines() { return CountReplyLines() - replyLinesBefore_; }

    std::unique_ptr<vxsim::Engine> engine_;
    NoEvents events_;
    std::size_t replyLinesBefore_ = 0;
};

struct Step {
    std::string what;
    std::function<void(OpsModel&)> act;
};

struct Sequence {
    std::string name;
    std::set<vxsim::Operation> refused;
    std::vector<Step> steps;
};

Step Delete(const std::string& receiver) {
    return {"delete " + receiver, [receiver](OpsModel& t) {
                const HTREEITEM item = Find(t.dlg.m_ConnectionsTree, t.LabelOf(receiver));
                ASSERT_TRUE(item) << receiver << " is not under a Transmitter";
                t.dlg.m_ConnectionsTree.SetCheck(item, true);
                t.Press(kDelete);
            }};
}
Step Add(const std::string& tx, const std::string& rx) {
    return {"add " + rx + " to " + tx, [=](OpsModel& t) {
                t.SelectUnit(tx);
                t.Pick(kFillConnect, t.dlg.m_ConnectPicker, rx);
                t.Press(kAdd);
            }};
}
Step AddBackup1(const std::string& tx, const std::string& rx) {
    return {"add " + rx + " as backup 1 of " + tx, [=](OpsModel& t) {
                t.SelectUnit(tx);
                t.Pick(kFillBackup1, t.dlg.m_Backup1Picker, rx);
                t.Press(kAddBackup1);
            }};
}
Step Rename(const std::string& unit, const std::string& name) {
    return {"rename " + unit, [=](OpsModel& t) {
                t.SelectUnit(unit);
                t.dlg.m_NameEdit.SetWindowText(name);
                t.Press(kRename);
            }};
}
Step SetIp(const std::string& unit, const std::string& ip) {
    return {"address of " + unit, [=](OpsModel& t) {
                t.SelectUnit(unit);
                t.dlg.m_IpEdit.SetWindowText(ip);
                t.Press(kChangeIp);
            }};
}
Step SetMode(const std::string& tx, Topology mode) {
    return {"mode of " + tx, [=](OpsModel& t) {
                t.SelectUnit(tx);
                t.dlg.m_TopologyCombo.SetCurSel(static_cast<int>(mode));
                t.Press(kTopology);
            }};
}

TEST_F(OpsModel, WithoutARefreshTheTreesShowWhatTheUnitsHold) {
    using vxsim::Operation;
    const std::vector<Sequence> sequences{
        {"two deletes under a unicast Transmitter with a backup",
         {},
         {Delete("STAGEL"), Delete("STAGER")}},
        {"a backup replaced, then the main Receiver deleted",
         {},
         {AddBackup1("STAGE", "SPARE1"), Delete("STAGEL"), Delete("SPARE1")}},
        {"a unicast Add over a main Receiver, then a multicast Add",
         {},
         {Add("STAGE", "SPARE1"), Add("HALL", "STAGEL"), Rename("STAGEL", "stagel2")}},
        {"a mode change frees every Receiver", {}, {SetMode("STAGE", Topology::Multicast)}},
        {"every change refused",
         {Operation::SetName, Operation::SetIp, Operation::SetMode, Operation::AddReceiver,
          Operation::AddBackup, Operation::DeleteReceiver},
         {Rename("HALL", "X"), SetIp("STAGEL", "198.18.1.99"),
          SetMode("STAGE", Topology::Multicast), Add("STAGE", "SPARE1"),
          AddBackup1("STAGE", "SPARE2"), Delete("FOYER"), Rename("STAGEL", "Y")}},
    };
    for (const Sequence& sequence : sequences) {
        SCOPED_TRACE(sequence.name);
        StartUnits(sequence.refused);
        std::size_t answered = 0;
        replyLinesBefore_ = CountReplyLines();
        for (const Step& step : sequence.steps) {
            SCOPED_TRACE(step.what);
            step.act(*this);
            // Every request is answered; the trees follow the answers.
            answered = theSegment->SentFrames().size();
            ASSERT_TRUE(WaitUntil([&] { return ReplyLines() >= answered; }, 5s));
            WaitUntil([&] { return WindowTrees() == ModelTrees(); }, 5s);
            EXPECT_EQ(WindowTrees(), ModelTrees());
            std::multiset<std::string> macs;
            const Trees shown = WindowTrees();
            for (const auto* lines : {&shown.connections, &shown.available}) {
                for (const std::string& line : *lines) {
                    if (line.find('[') != std::string::npos) {
                        macs.insert(MacFromLabel(line));
                    }
                }
            }
            for (const std::string& mac : macs) {
                EXPECT_EQ(macs.count(mac), 1u) << mac << " shown twice";
            }
        }
        if (!sequence.refused.empty()) {
            // Later requests go to the address the unit kept, not the refused one.
            const auto last = theSegment->SentFrames().back();
            EXPECT_EQ(std::vector<std::uint8_t>(last.begin() + kIpDestOffset,
                                                last.begin() + kIpDestOffset + kIpv4Size),
                      (std::vector<std::uint8_t>{198, 18, 1, 23}));
        }
    }
}

// Qt's editable combo box picks the entry matching typed text when focus leaves it; the window
// must not: typed text is no choice until an entry is picked from the list.
TEST_F(OpsModel, TypedPickerTextStaysNoEntryWhenFocusMovesToTheButton) {
    StartUnits({});
    QApplication::setActiveWindow(&dlg);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    struct Case {
        std::string unit;
        QComboBox* box;
        std::function<void()> prepare;
        std::string typed;
        int button;
        std::string refusal;
    };
    auto* topology = qobject_cast<QComboBox*>(dlg.m_TopologyCombo.widget());
    auto* connect = qobject_cast<QComboBox*>(dlg.m_ConnectPicker.widget());
    const std::vector<Case> cases{
        {"STAGE", topology, [] {}, "m", IDC_CHANGE_TOPOLOGY,
         "Please select Multicast or Unicast as the topology mode."},
        {"STAGE", topology, [] {}, "Unicast", IDC_CHANGE_TOPOLOGY,
         "Please select Multicast or Unicast as the topology mode."},
        {"STAGE", topology, [] {}, "Multicast", IDC_CHANGE_TOPOLOGY,
         "Please select Multicast or Unicast as the topology mode."},
        {"HALL", connect, [this] { DispatchCommand(&dlg, kFillConnect); }, "SPARE2",
         IDC_ADD_CONNECT, "Please select a Receiver to add."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        ASSERT_NE(c.box, nullptr);
        SelectUnit(c.unit);
        c.prepare();
        theSegment->ClearSentFrames();
        c.box->setFocus();
        c.box->lineEdit()->selectAll();
        QTest::keyClicks(c.box->lineEdit(), QString::fromStdString(c.typed));
        const int before = vxtest::CountLine(dlg, c.refusal);
        auto* button = qobject_cast<QPushButton*>(dlg.GetDlgItem(c.button)->widget());
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);  // takes the focus from the box
        ASSERT_TRUE(
            WaitUntil([] { return RunningWorkerCount() <= 1; }, 20s));  // the capture loop stays
        QCoreApplication::processEvents();
        EXPECT_FALSE(c.box->hasFocus());
        EXPECT_EQ(vxtest::CountLine(dlg, c.refusal), before + 1);
        EXPECT_TRUE(theSegment->SentFrames().empty());
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();  // test discovery at build time needs no window system
    }
    QApplication app(argc, argv);
    theSegment = std::make_shared<MemorySegment>();
    AdapterInfo adapter;
    adapter.name = "rpcap://seg0";
    adapter.description = "seg0 (198.18.0.1)";
    adapter.addresses = {AdapterAddress{true, {198, 18, 0, 1}}};
    theSegment->SetAdapters({adapter});
    theSegment->SetAdapterMac("seg0", {0x02, 0x18, 0, 0, 0, 0xaa});
    SetCaptureBackend(theSegment);
    const std::unique_ptr<CVX418Dlg> dialog = CreateMainDialog();
    dialog->show();
    theDialog = dialog.get();
    // A capture loop on the segment, as after Set Adapter: the units' replies arrive there.
    DispatchCommand(theDialog, kSetAdapter);
    if (!WaitUntil([] { return theSegment->RunningLoops() == 1 && RunningWorkerCount() <= 1; },
                   10s)) {
        return 1;
    }
    const int result = RUN_ALL_TESTS();
    SetCurrentAdapter({});
    theDialog = nullptr;
    return result;
}
