// The six operations on the real dialog (offscreen), with the in-memory segment in place of the
// capture library: the frames each button sends, the message boxes, the Log pane lines and the
// trees right after the operation, before any unit has answered.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/command_dispatch.h"
#include "dialog_support.h"
#include "forwarding_capture.h"
#include "net/adapter_state.h"
#include "net/memory_segment.h"
#include "ops/adapter_workers.h"
#include "protocol/wire_format.h"
#include "shell/cvx418_dlg.h"
#include "shell/shell_state.h"
#include "sim_engine.h"
#include "sim_layout.h"
#include "unit_records.h"
#include "views/device_trees.h"
#include "views/labels.h"
#include "views/view_plans.h"

using namespace views_test;
using vxtest::LogLines;
using namespace std::chrono_literals;

namespace {

CVX418Dlg* theDialog = nullptr;
std::shared_ptr<MemorySegment> theSegment;

class QuietSink : public LineSink, public vxsim::EventSink {
  public:
    void Log(std::string_view) override {}
    void Trace(std::string_view) override {}
    void Emit(const vxsim::JsonLine&) override {}
};

DeviceRecord At(DeviceRecord r, std::uint8_t lastOctet) {
    r.Ip = Ip(lastOctet);
    return r;
}

// 1 unicast Transmitter with main Receiver 7 and backup 1 Receiver 8; 3 multicast Transmitter
// feeding 4 and 5; 2 and 6 free. Addresses as in the protocol notes' examples.
std::vector<DeviceRecord> Layout() {
    DeviceRecord stage = WithPeer(WithPeer(Transmitter("STAGE", 1, kUnicast), 0, 7), 1, 8);
    return {
        At(stage, 60),
        At(Receiver("SPARE", 2), 61),
        At(Transmitter("HALL", 3, kMulticast), 62),
        Receiver("ROOMA", 4, 3),
        Receiver("ROOMB", 5, 3),
        Receiver("FREE", 6),
        Receiver("MAIN", 7, 1),
        Receiver("BACKUP", 8, 1),
    };
}

std::string Hex(const std::vector<std::uint8_t>& frame, std::size_t offset, std::size_t length) {
    std::string text;
    for (std::size_t i = offset; i < offset + length && i < frame.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i == offset ? "%02x" : " %02x", frame[i]);
        text += byte;
    }
    return text;
}

// The block of a request frame, and its destination MAC.
std::string BlockHex(const MemorySegment::Frame& f, std::size_t size) {
    return Hex(f, kTfdpDataOffset, size);
}
std::string DestMac(const MemorySegment::Frame& f) {
    return Hex(f, kEthDestMacOffset, kMacSize);
}

class OpsDialog : public ::testing::Test {
  protected:
    CVX418Dlg& dlg = *theDialog;

    void SetUp() override {
        Load(Layout());
        ASSERT_TRUE(RunOnWorker([this] { RebuildDeviceTrees(&dlg); }));
        for (CComboBox* p : {&dlg.m_ConnectPicker, &dlg.m_Backup1Picker, &dlg.m_Backup2Picker}) {
            p->ResetContent();
        }
        OpenAdapter();
        logStart_ = LogLines(dlg).size();
    }

    void TearDown() override { ASSERT_TRUE(Finish()); }

    static void Load(const std::vector<DeviceRecord>& records) {
        QuietSink sink;
        Devices().Clear();
        for (const DeviceRecord& r : records) {
            const auto wire = WireRecord(r);
            Devices().StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize>(wire),
                                            sink);
        }
    }

    static void OpenAdapter() {
        std::string error;
        AdapterSnapshot adapter;
        adapter.AdapterHandle = theSegment->Open("rpcap://seg0", {}, error);
        adapter.AdapterMac = Mac(0xaa);
        adapter.AdapterIp = Ip(1);
        SetCurrentAdapter(std::move(adapter));
        theSegment->ClearSentFrames();
    }
    static void CloseAdapter() { SetCurrentAdapter({}); }

    static std::string Label(std::uint8_t n) {
        const auto devices = Devices().Snapshot();
        return DeviceLabel(devices, FindInSnapshot(devices, MacTextOf(n)));
    }
    void SelectConnections(const std::string& label) {
        ASSERT_TRUE(Select(dlg.m_ConnectionsTree, label)) << label;
    }
    void SelectAvailable(const std::string& label) {
        ASSERT_TRUE(Select(dlg.m_AvailableTree, label)) << label;
    }
    void SelectUnit(std::uint8_t n) {
        const std::string label = Label(n);
        if (!Select(dlg.m_ConnectionsTree, label)) {
            SelectAvailable(label);
        }
    }
    // Fills the picker as its drop-down does and chooses the entry naming unit n.
    void Pick(Command fillCommand, CComboBox& picker, std::uint8_t n) {
        DispatchCommand(&dlg, fillCommand);
        for (int i = 0; i < picker.GetCount(); ++i) {
            if (MacFromLabel(picker.GetLBText(i)) == MacTextOf(n)) {
                picker.SetCurSel(i);
                return;
            }
        }
        ADD_FAILURE() << "unit " << int{n} << " not offered";
    }

    static bool Finish() {
        const bool done = WaitUntil([] { return RunningWorkerCount() == 0; }, 20s);
        QCoreApplication::processEvents();  // the workers' last Log lines are queued
        return done;
    }
    void Press(Command command) {
        DispatchCommand(&dlg, command);
        ASSERT_TRUE(Finish());
    }
    // Presses a button whose worker opens a message box; returns the box's text after OK.
    std::string PressAndAnswer(Command command) {
        DispatchCommand(&dlg, command);
        std::string text;
        const bool shown = WaitUntil([] { return !vxtest::OpenMessageBoxes().empty(); }, 10s);
        if (shown) {
            QMessageBox* box = vxtest::OpenMessageBoxes().front();
            text = box->text().toStdString() + " | " + box->windowTitle().toStdString();
            box->button(QMessageBox::Ok)->click();
        }
        EXPECT_TRUE(Finish());
        return text;
    }

    std::vector<std::string> NewLines() {
        const auto lines = LogLines(dlg);
        return {lines.begin() + static_cast<std::ptrdiff_t>(logStart_), lines.end()};
    }
    static std::vector<MemorySegment::Frame> Frames() { return theSegment->SentFrames(); }
    std::vector<std::string> ConnectionsTree() { return Dump(dlg.m_ConnectionsTree); }
    std::vector<std::string> AvailableTree() { return Dump(dlg.m_AvailableTree); }

    std::size_t logStart_ = 0;
};

// ---- rename and change IP ----

TEST_F(OpsDialog, RenameSendsTheUpperCasedNameOrRefusesItInABox) {
    struct Case {
        std::string typed;
        std::string box;        // empty: accepted
        std::string nameBytes;  // block bytes 16..31 when accepted
    };
    const std::string zeros9 = " 00 00 00 00 00 00 00 00 00";
    const std::vector<Case> cases{
        {"studio4", "", "53 54 55 44 49 4f 34" + zeros9},
        {"ABCDEFGHIJKLMNOP", "", "41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50"},
        {"", "", "00 00 00 00 00 00 00" + zeros9},
        {"abcdefghijklmnop-", "Device Name Too Long. | Information", ""},
        {"a b", "Device Name Format Error. | Information", ""},
        {"x-y", "Device Name Format Error. | Information", ""},
        {"r\xe9gie", "Device Name Format Error. | Information", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        SetUp();
        SelectUnit(6);
        dlg.m_NameEdit.SetWindowText(c.typed);
        if (c.box.empty()) {
            Press(Command::ChangeName);
            ASSERT_EQ(Frames().size(), 1u);
            EXPECT_EQ(DestMac(Frames()[0]), "02 00 00 00 00 06");
            EXPECT_EQ(Hex(Frames()[0], kTfdpDataOffset + kConfigNameOffset, kConfigNameSize),
                      c.nameBytes);
            EXPECT_EQ(NewLines(), std::vector<std::string>{"Updating device's name. Please wait"});
        } else {
            EXPECT_EQ(PressAndAnswer(Command::ChangeName), c.box);
            EXPECT_TRUE(Frames().empty());
            EXPECT_EQ(NewLines(), std::vector<std::string>{"Updating device's name. Please wait"});
            EXPECT_EQ(Devices().DeviceNameByMac(MacTextOf(6)), "FREE");
        }
    }
    // The last accepted name shows at once, before any reply.
    SetUp();
    SelectUnit(6);
    dlg.m_NameEdit.SetWindowText("studio4");
    Press(Command::ChangeName);
    EXPECT_EQ(AvailableTree()[2], "1 1 - STUDIO4: Receiver (192.168.0.6) [02:00:00:00:00:06]");
}

TEST_F(OpsDialog, ChangeIpSendsTheFieldsReadOrRefusesTheText) {
    struct Case {
        std::string typed;
        std::string sent;  // block bytes 10..13; empty: refused with "IP Format Error."
        std::string shown;
    };
    const std::vector<Case> cases{
        {"192.168.1.20", "c0 a8 01 14", "192.168.1.20"},
        {"10.1", "", ""},             // shortened: the parser reads 10.0.0.1
        {"192.168.001.010", "", ""},  // leading zeros: the parser reads octal
        {"192.168.1.256", "", ""},
        {"a.b.c.d", "", ""},
        {"255.255.255.255", "", ""},
        {"10.0.0.5 7", "", ""},  // the parser stops at the blank; the rest would be lost
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        SetUp();
        SelectUnit(3);
        dlg.m_IpEdit.SetWindowText(c.typed);
        if (c.sent.empty()) {
            EXPECT_EQ(PressAndAnswer(Command::ChangeIp), "IP Format Error. | Information");
            EXPECT_TRUE(Frames().empty());
            EXPECT_EQ(Devices().DeviceIpTextByMac(MacTextOf(3)), "192.168.0.62");
        } else {
            Press(Command::ChangeIp);
            ASSERT_EQ(Frames().size(), 1u);
            EXPECT_EQ(Hex(Frames()[0], kTfdpDataOffset + kConfigNewIpOffset, kIpv4Size), c.sent);
            EXPECT_EQ(BlockHex(Frames()[0], kConfigNewIpOffset),
                      "c0 a8 00 3e 02 00 00 00 00 03");  // the unit's own address and MAC
            // Shown at once, before any reply.
            EXPECT_EQ(ConnectionsTree()[2],
                      "0 1 - HALL: Multicast (" + c.shown + ") [02:00:00:00:00:03]");
        }
        EXPECT_EQ(NewLines(),
                  std::vector<std::string>{"Updating device's IP address. Please wait"});
    }
}

TEST_F(OpsDialog, AFailedSendWritesTheFailureLineAndChangesNothing) {
    const auto table = Devices().Snapshot();
    CloseAdapter();
    SelectUnit(6);
    dlg.m_NameEdit.SetWindowText("new");
    Press(Command::ChangeName);
    SelectUnit(1);
    Press(Command::DeleteReceivers);  // nothing ticked: no line
    dlg.m_ConnectionsTree.SetCheck(Find(dlg.m_ConnectionsTree, Label(7)), true);
    Press(Command::DeleteReceivers);
    SelectUnit(1);
    Pick(Command::FillConnectPicker, dlg.m_ConnectPicker, 2);
    Press(Command::AddReceiver);
    SelectUnit(3);
    dlg.m_TopologyCombo.SetCurSel(1);
    Press(Command::ChangeTopology);
    dlg.m_IpEdit.SetWindowText("192.168.0.99");
    Press(Command::ChangeIp);
    SelectUnit(1);
    Pick(Command::FillBackup2Picker, dlg.m_Backup2Picker, 6);
    Press(Command::AddBackup2);
    EXPECT_EQ(NewLines(), (std::vector<std::string>{
                              "Updating device's name. Please wait",
                              "Failed to update device's name.",
                              "Deleting the Receiver(s) for this Transmitter. Please wait.",
                              "Failed to delete the Receiver.",
                              "Adding the Receiver to this Transmitter. Please wait.",
                              "Failed to add the Receiver.",
                              "Updating device's topology mode. Please wait.",
                              "Failed to update device's topology mode.",
                              "Updating device's IP address. Please wait",
                              "Failed to update device's IP address.",
                              "Adding the Backup Receiver to this Transmitter. Please wait.",
                              "Failed to add the backup Receiver.",
                          }));
    // Not even the unicast Transmitter's main Receiver moved: nothing was requested.
    EXPECT_EQ(Devices().Snapshot(), table);
}

// ---- topology ----

TEST_F(OpsDialog, TopologyChangeSendsTheModeAndForgetsTheAttachments) {
    SelectUnit(3);  // multicast, feeding 4 and 5
    Pick(Command::FillBackup1Picker, dlg.m_Backup1Picker, 6);
    Pick(Command::FillConnectPicker, dlg.m_ConnectPicker, 6);
    dlg.m_TopologyCombo.SetCurSel(1);
    Press(Command::ChangeTopology);
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(Hex(Frames()[0], 68, 2), "00 01");
    EXPECT_EQ(NewLines(),
              std::vector<std::string>{"Updating device's topology mode. Please wait."});
    EXPECT_EQ(Devices().DeviceModeByMac(MacTextOf(3)), 1);
    EXPECT_EQ(dlg.m_Backup1Picker.GetCount(), 0);
    EXPECT_GT(dlg.m_ConnectPicker.GetCount(), 0);
    // Both Receivers are free at once, before the unit answers.
    const auto available = AvailableTree();
    EXPECT_NE(std::find(available.begin(), available.end(),
                        "1 1 - ROOMA: Receiver (192.168.0.4) [02:00:00:00:00:04]"),
              available.end());

    SelectUnit(1);  // unicast with main and backup: the same mode again still forgets them
    dlg.m_TopologyCombo.SetCurSel(0);
    Press(Command::ChangeTopology);
    EXPECT_EQ(Hex(Frames()[1], 68, 2), "00 00");
    EXPECT_EQ(Devices().T1MacTextAt(Devices().FindDeviceByMac(MacTextOf(1))), kEmptyMacText);
    EXPECT_EQ(Devices().T2MacTextAt(Devices().FindDeviceByMac(MacTextOf(1))), kEmptyMacText);
}

// ---- add, add backup ----

TEST_F(OpsDialog, AddAddressesTheUnitItsModeNames) {
    // Unicast: to the Transmitter, naming the Receiver.
    SelectUnit(1);
    Pick(Command::FillConnectPicker, dlg.m_ConnectPicker, 2);
    Press(Command::AddReceiver);
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(DestMac(Frames()[0]), "02 00 00 00 00 01");
    EXPECT_EQ(BlockHex(Frames()[0], kConnectionBlockSize),
              "c0 a8 00 3d 02 00 00 00 00 02 c0 a8 00 3c 02 00 00 00 00 01 00 00");
    EXPECT_EQ(Devices().T1MacTextAt(0), MacTextOf(2));

    // Multicast: to the Receiver, naming the Transmitter; the Connect picker is emptied.
    SelectUnit(3);
    Pick(Command::FillConnectPicker, dlg.m_ConnectPicker, 6);
    Press(Command::AddReceiver);
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(DestMac(Frames()[1]), "02 00 00 00 00 06");
    EXPECT_EQ(BlockHex(Frames()[1], kConnectionBlockSize),
              "c0 a8 00 3e 02 00 00 00 00 03 c0 a8 00 06 02 00 00 00 00 06 00 00");
    EXPECT_EQ(dlg.m_ConnectPicker.GetCount(), 0);
    const auto tree = ConnectionsTree();
    EXPECT_NE(std::find(tree.begin(), tree.end(),
                        "1 1 - FREE: Receiver (192.168.0.6) [02:00:00:00:00:06]"),
              tree.end());
    EXPECT_EQ(NewLines(), (std::vector<std::string>{
                              "Adding the Receiver to this Transmitter. Please wait.",
                              "Adding the Receiver to this Transmitter. Please wait.",
                          }));
}

// Holds each send until `count` sends wait, so that workers started together have all read the
// window before the first of them rebuilds the trees (which clears the selection).
class SendTogether final : public vxtest::ForwardingHandle {
  public:
    SendTogether(std::unique_ptr<CaptureHandle> inner, int count)
        : ForwardingHandle(std::move(inner)), count_(count) {}
    int SendPacket(const std::uint8_t* frame, std::size_t length) override {
        {
            std::unique_lock lock(mutex_);
            ++waiting_;
            arrived_.notify_all();
            arrived_.wait_for(lock, 5s, [this] { return waiting_ >= count_; });
        }
        return ForwardingHandle::SendPacket(frame, length);
    }

  private:
    const int count_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    int waiting_ = 0;
};

TEST_F(OpsDialog, AddBackupGoesToTheTransmitterWithItsOwnSlot) {
    std::string error;
    AdapterSnapshot adapter = CurrentAdapter();
    adapter.AdapterHandle =
        std::make_shared<SendTogether>(theSegment->Open("rpcap://seg0", {}, error), 2);
    SetCurrentAdapter(adapter);
    SelectUnit(3);  // multicast: a backup request still goes to the Transmitter
    Pick(Command::FillBackup2Picker, dlg.m_Backup2Picker, 6);
    Pick(Command::FillBackup1Picker, dlg.m_Backup1Picker, 2);
    DispatchCommand(&dlg, Command::AddBackup2);
    DispatchCommand(&dlg, Command::AddBackup1);  // a quick second click has a slot of its own
    ASSERT_TRUE(Finish());
    ASSERT_EQ(Frames().size(), 2u);
    std::vector<std::string> tails;
    for (const auto& f : Frames()) {
        EXPECT_EQ(DestMac(f), "02 00 00 00 00 03");
        tails.push_back(Hex(f, 64, 12));
    }
    std::sort(tails.begin(), tails.end());
    EXPECT_EQ(tails, (std::vector<std::string>{
                         "c0 a8 00 3e 02 00 00 00 00 03 00 01",
                         "c0 a8 00 3e 02 00 00 00 00 03 00 02",
                     }));
    const DeviceRecord hall = Devices().RecordByMac(MacTextOf(3));
    EXPECT_EQ(MacText(hall.T3Mac), MacTextOf(6));
    EXPECT_EQ(MacText(hall.T2Mac), MacTextOf(2));
    EXPECT_EQ(Devices().T1MacTextAt(Devices().FindDeviceByMac(MacTextOf(6))), kEmptyMacText);
}

// ---- delete ----

TEST_F(OpsDialog, DeleteSendsOneRequestPerTickedReceiver) {
    for (const int n : {4, 5, 7}) {
        dlg.m_ConnectionsTree.SetCheck(
            Find(dlg.m_ConnectionsTree, Label(static_cast<std::uint8_t>(n))), true);
    }
    dlg.m_ConnectionsTree.SetCheck(Find(dlg.m_ConnectionsTree, Label(3)), true);  // top level
    Press(Command::DeleteReceivers);
    ASSERT_EQ(Frames().size(), 3u);
    // In tree order. Unicast: the Transmitter addressed; its backup moves up to main Receiver
    // and leaves the backup slot, as the units do.
    EXPECT_EQ(DestMac(Frames()[0]), "02 00 00 00 00 01");
    // Multicast: each Receiver addressed, naming the Transmitter first, selector 0, delete.
    EXPECT_EQ(DestMac(Frames()[1]), "02 00 00 00 00 04");
    EXPECT_EQ(BlockHex(Frames()[1], kConnectionBlockSize),
              "c0 a8 00 3e 02 00 00 00 00 03 c0 a8 00 04 02 00 00 00 00 04 00 00");
    EXPECT_EQ(Hex(Frames()[1], kTfdpCodeOffset, 2), "00 02");
    EXPECT_EQ(DestMac(Frames()[2]), "02 00 00 00 00 05");
    const DeviceRecord stage = Devices().RecordByMac(MacTextOf(1));
    EXPECT_EQ(MacText(stage.T1Mac), MacTextOf(8));
    EXPECT_EQ(MacText(stage.T2Mac), kEmptyMacText);
    EXPECT_EQ(Devices().T1MacTextAt(Devices().FindDeviceByMac(MacTextOf(7))), kEmptyMacText);
    EXPECT_EQ(Devices().T1MacTextAt(Devices().FindDeviceByMac(MacTextOf(8))), MacTextOf(1));
    EXPECT_EQ(NewLines(), std::vector<std::string>(
                              3, "Deleting the Receiver(s) for this Transmitter. Please wait."));
    for (const HTREEITEM item : ReceiverItems()) {
        EXPECT_FALSE(dlg.m_ConnectionsTree.GetCheck(item));
    }
}

// A rebuild by another worker (or a Refresh) right after each frame leaves: every tick and item
// handle of the tree is gone by the next one.
class RebuildAfterEachSend final : public vxtest::ForwardingHandle {
  public:
    RebuildAfterEachSend(std::unique_ptr<CaptureHandle> inner, CVX418Dlg* dialog)
        : ForwardingHandle(std::move(inner)), dialog_(dialog) {}
    int SendPacket(const std::uint8_t* frame, std::size_t length) override {
        const int result = ForwardingHandle::SendPacket(frame, length);
        RebuildDeviceTrees(dialog_);
        return result;
    }

  private:
    CVX418Dlg* dialog_;
};

TEST_F(OpsDialog, DeleteActsOnTheItemsTickedAtThePressWhateverRebuildsMeanwhile) {
    std::string error;
    AdapterSnapshot adapter = CurrentAdapter();
    adapter.AdapterHandle =
        std::make_shared<RebuildAfterEachSend>(theSegment->Open("rpcap://seg0", {}, error), &dlg);
    SetCurrentAdapter(adapter);
    for (const int n : {4, 5, 7}) {
        dlg.m_ConnectionsTree.SetCheck(
            Find(dlg.m_ConnectionsTree, Label(static_cast<std::uint8_t>(n))), true);
    }
    Press(Command::DeleteReceivers);
    std::vector<std::string> addressed;
    for (const auto& f : Frames()) {
        addressed.push_back(DestMac(f));
    }
    EXPECT_EQ(addressed, (std::vector<std::string>{"02 00 00 00 00 01", "02 00 00 00 00 04",
                                                   "02 00 00 00 00 05"}));
}

// ---- refusals that keep the table's first record out of it ----

TEST_F(OpsDialog, ASelectionThatNamesNoUnitIsRefusedWithOneLine) {
    struct Case {
        const char* what;
        std::function<void()> select;
        Command command;
        std::string line;
    };
    const auto none = [this] {
        dlg.m_ConnectionsTree.SelectItem({});
        dlg.m_AvailableTree.SelectItem({});
    };
    const auto heading = [this] { SelectAvailable(kAvailableHeading); };
    const auto placeholder = [this] {
        Load({WithPeer(Transmitter("T", 1, kUnicast), 0, 99), Receiver("R", 2)});
        RunOnWorker([this] { RebuildDeviceTrees(&dlg); });
        SelectConnections("UNKNOWN: Receiver (192.168.0.99) [02:00:00:00:00:63]");
    };
    const auto receiver = [this] { SelectUnit(6); };
    const std::vector<Case> cases{
        {"none", none, Command::ChangeName, "Please select a device to change its name."},
        {"heading", heading, Command::ChangeIp, "Please select a device to change its IP address."},
        {"placeholder", placeholder, Command::ChangeName,
         "Please select a device to change its name."},
        {"none", none, Command::ChangeTopology,
         "Please select a Transmitter to change its topology mode."},
        {"heading", heading, Command::AddReceiver,
         "Please select a Transmitter to add a Receiver to."},
        {"receiver", receiver, Command::AddReceiver,
         "Please select a Transmitter to add a Receiver to."},
        {"receiver", receiver, Command::AddBackup1,
         "Please select a Transmitter to add a Receiver to."},
        {"placeholder", placeholder, Command::AddBackup2,
         "Please select a Transmitter to add a Receiver to."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " " + c.line);
        SetUp();
        c.select();
        Pick(Command::FillConnectPicker, dlg.m_ConnectPicker, 2);
        const auto table = Devices().Snapshot();
        Press(c.command);
        EXPECT_EQ(NewLines(), std::vector<std::string>{c.line});
        EXPECT_TRUE(Frames().empty());
        EXPECT_EQ(Devices().Snapshot(), table);
    }
}

TEST_F(OpsDialog, PickerAndTopologyChoicesMustNameSomething) {
    SelectUnit(1);
    dlg.m_ConnectPicker.ResetContent();
    Press(Command::AddReceiver);
    dlg.m_TopologyCombo.SetCurSel(-1);
    Press(Command::ChangeTopology);
    // Typed over: the text is not an entry, even when it matches one.
    Pick(Command::FillConnectPicker, dlg.m_ConnectPicker, 2);
    QLineEdit* edit = qobject_cast<QComboBox*>(dlg.m_ConnectPicker.widget())->lineEdit();
    const QString typed = edit->text();
    edit->clear();
    QTest::keyClicks(edit, typed);
    EXPECT_EQ(dlg.m_ConnectPicker.GetCurSel(), -1);
    Press(Command::AddReceiver);
    EXPECT_EQ(NewLines(), (std::vector<std::string>{
                              "Please select a Receiver to add.",
                              "Please select Multicast or Unicast as the topology mode.",
                              "Please select a Receiver to add.",
                          }));
    EXPECT_TRUE(Frames().empty());
    // Choosing it from the list counts again.
    auto* combo = qobject_cast<QComboBox*>(dlg.m_ConnectPicker.widget());
    combo->setCurrentIndex(0);
    emit combo->activated(0);
    EXPECT_EQ(dlg.m_ConnectPicker.GetCurSel(), 0);
}

TEST_F(OpsDialog, DeleteSkipsAPlaceholderAndStopsAtATransmitter) {
    // Children: a placeholder under T, R under M, and under U its main "Receiver" X, which
    // is a Transmitter.
    Load({WithPeer(Transmitter("T", 1, kUnicast), 0, 99), Transmitter("M", 3, kMulticast),
          Receiver("R", 2, 3), WithPeer(Transmitter("U", 5, kUnicast), 0, 4),
          Transmitter("X", 4, kMulticast)});
    ASSERT_TRUE(RunOnWorker([this] { RebuildDeviceTrees(&dlg); }));
    for (const HTREEITEM item : ReceiverItems()) {
        dlg.m_ConnectionsTree.SetCheck(item, true);
    }
    Press(Command::DeleteReceivers);
    EXPECT_EQ(NewLines(),
              (std::vector<std::string>{
                  "Skipped UNKNOWN: Receiver (192.168.0.99) [02:00:00:00:00:63]: it is not among "
                  "the units found.",
                  "Deleting the Receiver(s) for this Transmitter. Please wait.",
                  "Please select a Receiver to delete.",
              }));
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(DestMac(Frames()[0]), "02 00 00 00 00 02");
}

TEST_F(OpsDialog, AUnitWithABracketInItsNameCanBeSelectedAndRenamed) {
    Load({Receiver("A[1]", 2)});
    ASSERT_TRUE(RunOnWorker([this] { RebuildDeviceTrees(&dlg); }));
    SelectAvailable("A[1]: Receiver (192.168.0.2) [02:00:00:00:00:02]");
    EXPECT_EQ(dlg.m_NameEdit.GetWindowText(), "A[1]");
    dlg.m_NameEdit.SetWindowText("A1");
    Press(Command::ChangeName);
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(Devices().DeviceNameByMac(MacTextOf(2)), "A1");
}

// ---- Set Adapter beside a Refresh ----

TEST_F(OpsDialog, SetAdapterDuringARefreshLeavesTheBusySetToTheRefresh) {
    CloseAdapter();
    EnableActionControls(&dlg, true);
    DispatchCommand(&dlg, Command::Refresh);
    ASSERT_TRUE(WaitUntil([&] { return !dlg.m_RefreshButton.IsWindowEnabled(); }, 5s));
    dlg.m_AdapterCombo.SetCurSel(0);
    DispatchCommand(&dlg, Command::SetAdapter);
    ASSERT_TRUE(WaitUntil(
        [&] { return vxtest::HasLine(dlg, "Succeed in setting the network adapter."); }, 5s));
    EXPECT_FALSE(dlg.m_RefreshButton.IsWindowEnabled());
    ASSERT_TRUE(
        WaitUntil([&] { return vxtest::HasLine(dlg, "Finished searching for VX418."); }, 15s));
    EXPECT_TRUE(WaitUntil([&] { return dlg.m_RefreshButton.IsWindowEnabled(); }, 5s));

    // Typed over, the adapter list names no adapter: the open fails and capture stops.
    QLineEdit* edit = qobject_cast<QComboBox*>(dlg.m_AdapterCombo.widget())->lineEdit();
    QTest::keyClicks(edit, "x");
    const int failures = vxtest::CountLine(dlg, "Failed to set the network adapter.");
    Press(Command::SetAdapter);
    EXPECT_EQ(vxtest::CountLine(dlg, "Failed to set the network adapter."), failures + 1);
    EXPECT_TRUE(theSegment->WaitForRunningLoops(0, 5s));
}

// ---- Refresh ----

TEST_F(OpsDialog, ARefreshThatLosesFramesSaysHowManyOnce) {
    theSegment->AddDrops({5, 0});  // lost before the Refresh: not its loss
    const std::string searching = "Searching for VX418 and refreshing. Please wait.";
    DispatchCommand(&dlg, Command::Refresh);
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto lines = NewLines();
            return std::find(lines.begin(), lines.end(), searching) != lines.end();
        },
        5s));
    theSegment->AddDrops({2, 1});
    ASSERT_TRUE(Finish());
    const auto lines = NewLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"3 frames were dropped by the capture; some units may be "
                                        "missing. Refresh again.",
                                        "Finished searching for VX418."}));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("dropped") != l.npos; }),
              1);
}

// ---- sequences against the units' own model ----

// The simulator's engine as the units: each frame sent is answered at once, its replies handed
// to the window's capture callback, so the answer arrives before the worker shows the change.
class UnitsAnswer final : public vxtest::ForwardingHandle {
  public:
    UnitsAnswer(std::unique_ptr<CaptureHandle> inner, vxsim::Engine& engine)
        : ForwardingHandle(std::move(inner)), engine_(engine) {}
    int SendPacket(const std::uint8_t* frame, std::size_t length) override {
        const int result = ForwardingHandle::SendPacket(frame, length);
        const std::lock_guard lock(mutex_);
        for (const vxsim::OutFrame& reply : engine_.Handle({frame, length})) {
            HandleWindowFrame(reply.bytes.data(), reply.bytes.size(), CurrentAdapter().AdapterMac);
        }
        return result;
    }

  private:
    vxsim::Engine& engine_;
    std::mutex mutex_;
};

std::vector<DeviceRecord> AsRecords(const std::vector<vxsim::SimUnit>& units) {
    DeviceTable table;
    QuietSink sink;
    for (const vxsim::SimUnit& u : units) {
        const auto wire = vxsim::EncodeRecord(u);
        table.StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize>(wire), sink);
    }
    return table.Snapshot();
}

bool IsRow(const std::string& line) {
    return line.rfind("row ", 0) == 0;
}

// Both trees' labels, then each unit's fields and Receiver rows as selecting it shows them.
std::vector<std::string> View(const std::vector<DeviceRecord>& records) {
    std::vector<std::string> lines;
    const DeviceTreesPlan plan = PlanDeviceTrees(records);
    for (const TransmitterBranch& branch : plan.connections) {
        lines.push_back(branch.item.label);
        for (const TreeEntry& child : branch.children) {
            lines.push_back(child.label);
        }
    }
    for (const TreeEntry& entry : plan.available) {
        lines.push_back(entry.label);
    }
    for (int i = 0; i < static_cast<int>(records.size()); ++i) {
        const SelectedUnitView v = PlanSelectedUnit(records, DeviceLabel(records, i));
        std::string row = "row " + v.name + " " + v.ip + " " + std::to_string(v.selector);
        for (const PickerContent* p : {&v.connect, &v.backup1, &v.backup2}) {
            row += " | " + (p->entries.empty() ? "" : p->entries[0]) + std::to_string(p->selected);
        }
        lines.push_back(row);
    }
    return lines;
}

class OpsModel : public OpsDialog {
  protected:
    // The demo units, known to the window as after a Refresh; the engine refuses `refused`.
    void UseUnits(const std::set<vxsim::Operation>& refused,
                  const vxsim::Readings& readings = vxsim::Readings::Usual()) {
        vxsim::FaultSwitches faults;
        faults.refuse = refused;
        vxsim::UnitSet units = vxsim::DemoPreset();
        units.SetReadings(readings);
        engine_ = std::make_unique<vxsim::Engine>(std::move(units), faults, events_);
        Refresh();
        std::string error;
        AdapterSnapshot adapter = CurrentAdapter();
        adapter.AdapterHandle =
            std::make_shared<UnitsAnswer>(theSegment->Open("rpcap://seg0", {}, error), *engine_);
        SetCurrentAdapter(std::move(adapter));
    }
    // The units as a Refresh would find them now.
    void Refresh() {
        Load(AsRecords(engine_->Units().Units()));
        ASSERT_TRUE(RunOnWorker([this] { RebuildDeviceTrees(&dlg); }));
    }
    // The MAC of every unit the trees show, once per item.
    std::multiset<std::string> TreeMacs() {
        std::multiset<std::string> macs;
        for (CTreeCtrl* tree : {&dlg.m_ConnectionsTree, &dlg.m_AvailableTree}) {
            for (const std::string& line : Dump(*tree)) {
                if (line.back() == ']') {
                    macs.insert(MacFromLabel(line));
                }
            }
        }
        return macs;
    }
    // Every unit of the table is listed, and (unless after a Refresh, where the units may say
    // so) only once.
    void ExpectEachUnitListed(bool once) {
        const std::multiset<std::string> macs = TreeMacs();
        for (const DeviceRecord& r : Devices().Snapshot()) {
            EXPECT_NE(macs.count(MacText(r.Mac)), 0u) << MacText(r.Mac) << " shown nowhere";
        }
        if (once) {
            EXPECT_EQ(std::set<std::string>(macs.begin(), macs.end()).size(), macs.size())
                << "a unit shown twice";
        }
    }
    // What the trees show (not their plan), and the rows the window's table gives.
    std::vector<std::string> WindowView() {
        std::vector<std::string> lines;
        for (CTreeCtrl* tree : {&dlg.m_ConnectionsTree, &dlg.m_AvailableTree}) {
            for (const std::string& line : Dump(*tree)) {
                if (line.back() == ']') {  // not the heading
                    lines.push_back(line.substr(line.find(" - ") + 3));
                }
            }
        }
        const auto view = View(Devices().Snapshot());
        lines.insert(lines.end(), std::find_if(view.begin(), view.end(), IsRow), view.end());
        return lines;
    }
    // The model's units in the window's table order, so that the labels line up.
    std::vector<std::string> ModelView() const {
        std::vector<vxsim::SimUnit> units;
        for (const DeviceRecord& r : Devices().Snapshot()) {
            units.push_back(*engine_->Units().Find(r.Mac));
        }
        return View(AsRecords(units));
    }
    std::string LabelOf(const std::string& name) const {
        const auto devices = Devices().Snapshot();
        for (int i = 0; i < static_cast<int>(devices.size()); ++i) {
            if (NameText(devices[static_cast<std::size_t>(i)].Name) == name) {
                return DeviceLabel(devices, i);
            }
        }
        return "no unit " + name;
    }
    // Selects unit, then sets up the command's input from value: the Receiver to pick, the
    // name or address to type; Delete ticks the unit; Topology chooses Multicast.
    void Do(Command command, const std::string& unit, const std::string& value = "") {
        if (!Select(dlg.m_ConnectionsTree, LabelOf(unit))) {
            Select(dlg.m_AvailableTree, LabelOf(unit));
        }
        CComboBox& picker =
            command == Command::AddReceiver ? dlg.m_ConnectPicker : dlg.m_Backup1Picker;
        DispatchCommand(&dlg, command == Command::AddReceiver ? Command::FillConnectPicker
                                                              : Command::FillBackup1Picker);
        for (int i = 0; i < picker.GetCount(); ++i) {
            if (picker.GetLBText(i) == LabelOf(value)) {
                picker.SetCurSel(i);
            }
        }
        dlg.m_NameEdit.SetWindowText(value);
        dlg.m_IpEdit.SetWindowText(value);
        dlg.m_TopologyCombo.SetCurSel(0);
        if (command == Command::DeleteReceivers) {
            dlg.m_ConnectionsTree.SetCheck(Find(dlg.m_ConnectionsTree, LabelOf(unit)), true);
        }
        Press(command);
    }

    std::unique_ptr<vxsim::Engine> engine_;
    QuietSink events_;
};

// Under the usual readings the window shows after each step what the units hold; under the
// others it may differ from them until a Refresh, but it lists every unit, once.
TEST_F(OpsModel, WithoutARefreshTheWindowShowsWhatTheUnitsHold) {
    using vxsim::Operation;
    struct Step {
        Command command;
        const char* unit;
        const char* value;
    };
    const std::set<Operation> all{Operation::SetName,   Operation::SetIp,
                                  Operation::SetMode,   Operation::AddReceiver,
                                  Operation::AddBackup, Operation::DeleteReceiver};
    // The table's short names.
    constexpr Command kDelete = Command::DeleteReceivers, kAdd = Command::AddReceiver,
                      kRename = Command::ChangeName, kTopology = Command::ChangeTopology,
                      kChangeIp = Command::ChangeIp, kAddBackup1 = Command::AddBackup1;
    const std::vector<std::pair<std::set<Operation>, std::vector<Step>>> sequences{
        {{}, {{kDelete, "STAGEL", ""}, {kDelete, "STAGER", ""}}},
        {{}, {{kAddBackup1, "STAGE", "SPARE1"}, {kDelete, "STAGEL", ""}, {kDelete, "SPARE1", ""}}},
        {{}, {{kAdd, "STAGE", "SPARE1"}, {kAdd, "HALL", "STAGEL"}, {kRename, "STAGEL", "s2"}}},
        {{}, {{kAddBackup1, "STAGE", "FOYER"}, {kRename, "FOYER", "F2"}, {kDelete, "STAGEL", ""}}},
        {{}, {{kTopology, "STAGE", ""}, {kChangeIp, "STAGEL", "198.18.1.41"}}},
        {all,
         {{kRename, "HALL", "X"},
          {kChangeIp, "STAGEL", "198.18.1.99"},
          {kTopology, "STAGE", ""},
          {kAdd, "STAGE", "SPARE1"},
          {kAddBackup1, "STAGE", "SPARE2"},
          {kDelete, "FOYER", ""},
          {kRename, "STAGEL", "Y"}}},
    };
    for (const bool alternative : {false, true}) {
        for (const auto& [refused, steps] : sequences) {
            UseUnits(refused,
                     alternative ? vxsim::Readings::Alternative() : vxsim::Readings::Usual());
            for (const Step& step : steps) {
                SCOPED_TRACE(testing::Message() << "command " << static_cast<int>(step.command)
                                                << " on " << step.unit << ", " << refused.size()
                                                << " refused" << (alternative ? ", other" : ""));
                Do(step.command, step.unit, step.value);
                WaitUntil([&] { return PendingRefusalRebuilds() == 0; }, 5s);
                if (!alternative) {
                    EXPECT_EQ(WindowView(), ModelView());
                }
                ExpectEachUnitListed(true);
            }
            Refresh();
            ExpectEachUnitListed(false);
        }
    }
    // The last rename, refused like the address change before it, went to the address STAGEL
    // kept.
    EXPECT_EQ(Hex(Frames().back(), kIpDestOffset, kIpv4Size), "c6 12 01 17");
}

// Qt's editable combo box picks the entry matching typed text when focus leaves it; the window
// must not: typed text is no choice until an entry is picked from the list.
TEST_F(OpsModel, TypedPickerTextStaysNoEntryWhenFocusMovesToTheButton) {
    UseUnits({});
    QApplication::setActiveWindow(dlg.GetSafeHwnd());
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.GetSafeHwnd()));
    for (const char* typed : {"m", "Unicast", "Multicast", "SPARE2"}) {
        SCOPED_TRACE(typed);
        const bool topology = typed != std::string("SPARE2");
        Select(dlg.m_ConnectionsTree, LabelOf(topology ? "STAGE" : "HALL"));
        DispatchCommand(&dlg, Command::FillConnectPicker);
        theSegment->ClearSentFrames();
        auto* box = qobject_cast<QComboBox*>(
            (topology ? dlg.m_TopologyCombo : dlg.m_ConnectPicker).widget());
        box->setFocus();
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), typed);
        // The click takes the focus from the box.
        QTest::mouseClick(
            dlg.GetDlgItem(topology ? IDC_CHANGE_TOPOLOGY : IDC_ADD_CONNECT)->widget(),
            Qt::LeftButton);
        ASSERT_TRUE(Finish());
        EXPECT_EQ(NewLines().back(),
                  topology ? "Please select Multicast or Unicast as the topology mode."
                           : "Please select a Receiver to add.");
        EXPECT_TRUE(Frames().empty());
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
    adapter.description = "seg0 (192.168.0.1)";
    adapter.addresses = {AdapterAddress{true, {192, 168, 0, 1}}};
    theSegment->SetAdapters({adapter});
    theSegment->SetAdapterMac("seg0", Mac(0xaa));
    SetCaptureBackend(theSegment);
    const std::unique_ptr<CVX418Dlg> dialog = CreateMainDialog();
    dialog->GetSafeHwnd()->show();
    theDialog = dialog.get();
    const int result = RUN_ALL_TESTS();
    // Workers may still be finishing their last calls on the dialog; let them return first.
    const bool workersDone = WaitUntil([] { return RunningWorkerCount() == 0; }, 30s);
    SetCurrentAdapter({});
    theDialog = nullptr;
    return workersDone ? result : 1;
}
