// The trees, the selection and the Receiver pickers on the real dialog (offscreen), with the
// in-memory segment standing in for the capture library, and a Refresh whose sends all fail.

#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/command_dispatch.h"
#include "dialog_support.h"
#include "net/capture_backend.h"
#include "net/memory_segment.h"
#include "shell/cvx418_dlg.h"
#include "shell/shell_state.h"
#include "unit_records.h"
#include "views/device_trees.h"
#include "views/labels.h"
#include "views/receiver_pickers.h"
#include "views/selection.h"

using namespace views_test;
using namespace std::chrono_literals;

namespace {

CVX418Dlg* theDialog = nullptr;

class QuietSink : public LineSink {
  public:
    void Log(std::string_view) override {}
    void Trace(std::string_view) override {}
};

// Redirects standard error (where trace lines go) into a file while it lives.
class StderrCapture {
  public:
    StderrCapture() : file_(std::tmpfile()) {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        dup2(fileno(file_), STDERR_FILENO);
    }
    ~StderrCapture() { Restore(); }
    std::string Text() {
        Restore();
        std::string text;
        std::rewind(file_);
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) {
            text.append(buffer, n);
        }
        return text;
    }

  private:
    void Restore() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, STDERR_FILENO);
            close(saved_);
            saved_ = -1;
        }
    }
    std::FILE* file_;
    int saved_ = -1;
};

std::vector<std::string> TraceMessages(const std::string& text) {
    // Each trace line is "time stamp  message"; the stamp ends with two blanks.
    std::vector<std::string> messages;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
            line.pop_back();
        }
        const std::size_t stamp = line.find("  ");
        if (stamp != std::string::npos) {
            messages.push_back(line.substr(stamp + 2));
        }
        start = end + 1;
    }
    return messages;
}

class ViewsDialog : public ::testing::Test {
  protected:
    CVX418Dlg& dlg = *theDialog;

    void SetUp() override {
        Load({});
        RebuildDeviceTrees(&dlg);
        for (CComboBox* picker :
             {&dlg.m_ConnectPicker, &dlg.m_Backup1Picker, &dlg.m_Backup2Picker}) {
            picker->ResetContent();
        }
    }

    static void Load(const std::vector<DeviceRecord>& records) {
        QuietSink sink;
        Devices().Clear();
        for (const DeviceRecord& r : records) {
            const auto wire = WireRecord(r);
            Devices().StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize>(wire),
                                            sink);
        }
    }

    void Rebuild() {
        ASSERT_TRUE(RunOnWorker([this] { RebuildDeviceTrees(&dlg); }));
    }

    void Select(CTreeCtrl& tree, const std::string& label) {
        ASSERT_TRUE(views_test::Select(tree, label)) << label;
    }
    Fields ShownFields() { return views_test::ShownFields(dlg); }
    std::vector<bool> RowsShown() { return views_test::RowsShown(dlg); }
    bool Enabled(int id) { return dlg.GetDlgItem(id)->IsWindowEnabled(); }

    QTreeWidget* Widget(CTreeCtrl& tree) { return qobject_cast<QTreeWidget*>(tree.widget()); }
    QComboBox* Combo(CComboBox& combo) { return qobject_cast<QComboBox*>(combo.widget()); }

    void ClickAt(CTreeCtrl& tree, QPoint at) {
        QTest::mouseClick(Widget(tree)->viewport(), Qt::LeftButton, {}, at);
        QCoreApplication::processEvents();
    }

    void ClickItem(CTreeCtrl& tree, const std::string& label) {
        QTreeWidget* w = Widget(tree);
        const auto items =
            w->findItems(QString::fromLatin1(label.c_str()), Qt::MatchExactly | Qt::MatchRecursive);
        ASSERT_EQ(items.size(), 1) << label;
        ClickAt(tree, w->visualItemRect(items.front()).center());
    }

    void ClickEmptySpace(CTreeCtrl& tree) {
        QTreeWidget* w = Widget(tree);
        const QPoint bottom(w->viewport()->width() / 2, w->viewport()->height() - 2);
        ASSERT_EQ(w->itemAt(bottom), nullptr);
        ClickAt(tree, bottom);
    }

    void OpenPicker(CComboBox& picker) {
        QComboBox* combo = Combo(picker);
        combo->showPopup();
        QCoreApplication::processEvents();
        combo->hidePopup();
    }

    static std::vector<std::string> Entries(CComboBox& picker) {
        std::vector<std::string> entries;
        for (int i = 0; i < picker.GetCount(); ++i) {
            entries.push_back(picker.GetLBText(i));
        }
        return entries;
    }
};

// ---- trees ----

TEST_F(ViewsDialog, EmptyTableLeavesOnlyTheHeading) {
    Rebuild();
    EXPECT_TRUE(Dump(dlg.m_ConnectionsTree).empty());
    EXPECT_EQ(Dump(dlg.m_AvailableTree), std::vector<std::string>{"0 -1 - Available Receiver:"});
    EXPECT_EQ(ReceiverItemCount(), 0);
}

// One segment with every arrangement the trees distinguish.
std::vector<DeviceRecord> MixedSegment() {
    return {
        Transmitter("Hall", 1, kMulticast),
        Receiver("R1", 11, 1),
        Transmitter("Lonely", 2, kMulticast),
        WithPeer(Transmitter("Missing", 3, kUnicast), 0, 99),
        WithPeer(Transmitter("Uni", 4, kUnicast), 0, 12),
        Receiver("R2", 12, 1),  // fed by Hall and named by Uni: listed twice
        WithPeer(Transmitter("BackupOnly", 5, kUnicast), 1, 13),
        Transmitter("Bare", 6, kUnicast),
        Receiver("Orphan", 14, 6),  // names Bare, which does not name it back: free
        Unit("Two", 15, 2, 0),
        Unit("Nine", 16, 9, 0),
        Receiver("Free", 17),
        Receiver("Lost", 18, 77),  // names a Transmitter that is not here: free
    };
}

TEST_F(ViewsDialog, TreesShowEveryUnitWhereItsLinksPutIt) {
    Load(MixedSegment());
    Rebuild();
    const std::vector<std::string> connections{
        "0 1 - Hall: Multicast (192.168.0.1) [02:00:00:00:00:01]",
        "1 1 - R1: Receiver (192.168.0.11) [02:00:00:00:00:0b]",
        "1 1 - R2: Receiver (192.168.0.12) [02:00:00:00:00:0c]",
        "0 0 - Lonely: Multicast (192.168.0.2) [02:00:00:00:00:02]",
        "0 1 - Missing: Unicast (192.168.0.3) [02:00:00:00:00:03]",
        "1 0 - UNKNOWN: Receiver (192.168.0.99) [02:00:00:00:00:63]",
        "0 1 - Uni: Unicast (192.168.0.4) [02:00:00:00:00:04]",
        "1 1 - R2: Receiver (192.168.0.12) [02:00:00:00:00:0c]",
        "0 1 - BackupOnly: Unicast (192.168.0.5) [02:00:00:00:00:05]",
        "1 0 - UNKNOWN: Receiver (0.0.0.0) [00:00:00:00:00:00]",
        "0 0 - Bare: Unicast (192.168.0.6) [02:00:00:00:00:06]",
    };
    EXPECT_EQ(Dump(dlg.m_ConnectionsTree), connections);
    const std::vector<std::string> available{
        "0 -1 - Available Receiver:",
        "1 1 - Orphan: Receiver (192.168.0.14) [02:00:00:00:00:0e]",
        "1 1 - Two: Backup 2 (192.168.0.15) [02:00:00:00:00:0f]",
        "1 1 - Nine (192.168.0.16) [02:00:00:00:00:10]",
        "1 1 - Free: Receiver (192.168.0.17) [02:00:00:00:00:11]",
        "1 1 - Lost: Receiver (192.168.0.18) [02:00:00:00:00:12]",
    };
    EXPECT_EQ(Dump(dlg.m_AvailableTree), available);

    // The Delete worker's list: every second-level item, in insertion order.
    std::vector<std::string> listed;
    for (const HTREEITEM item : ReceiverItems()) {
        listed.push_back(dlg.m_ConnectionsTree.GetItemText(item));
        EXPECT_EQ(dlg.m_ConnectionsTree.GetParentItem(item).id != 0, true);
    }
    EXPECT_EQ(ReceiverItemCount(), 5);
    EXPECT_EQ(listed, (std::vector<std::string>{connections[1].substr(6), connections[2].substr(6),
                                                connections[5].substr(6), connections[7].substr(6),
                                                connections[9].substr(6)}));
}

TEST_F(ViewsDialog, RebuildClearsSelectionButKeepsTheFields) {
    Load(MixedSegment());
    Rebuild();
    Select(dlg.m_AvailableTree, "Free: Receiver (192.168.0.17) [02:00:00:00:00:11]");
    Select(dlg.m_ConnectionsTree, "Uni: Unicast (192.168.0.4) [02:00:00:00:00:04]");
    const Fields shown = ShownFields();
    const std::vector<std::string> connect = Entries(dlg.m_ConnectPicker);
    ASSERT_EQ(shown.name, "Uni");

    Rebuild();
    EXPECT_FALSE(dlg.m_ConnectionsTree.GetSelectedItem());
    EXPECT_FALSE(dlg.m_AvailableTree.GetSelectedItem());
    EXPECT_EQ(ShownFields(), shown);
    EXPECT_EQ(Entries(dlg.m_ConnectPicker), connect);
    EXPECT_EQ(LastTreeIsConnections.load(), 1);
}

TEST_F(ViewsDialog, RebuildsFromSeveralWorkersNeverListAUnitTwice) {
    Load(MixedSegment());
    Rebuild();
    const std::vector<std::string> once = Dump(dlg.m_ConnectionsTree);
    std::atomic<int> running{3};
    const auto rebuilder = [&] {
        for (int i = 0; i < 5; ++i) {
            RebuildDeviceTrees(&dlg);
        }
        --running;
    };
    std::thread a(rebuilder), b(rebuilder), c(rebuilder);
    EXPECT_TRUE(WaitUntil([&] { return running.load() == 0; }, 60s));
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(Dump(dlg.m_ConnectionsTree), once);
    EXPECT_EQ(ReceiverItemCount(), 5);
}

// ---- selection ----

std::vector<DeviceRecord> SelectionSegment() {
    return {
        Transmitter("First", 1, kMulticast),  // what a fall-back to record 0 would show
        WithPeer(WithPeer(Transmitter("Uni", 2, kUnicast), 0, 11), 2, 12),
        Receiver("Main", 11, 2),
        Receiver("Spare", 12),
        Receiver("Fed", 13, 1),
        Transmitter("ModeTwo", 3, 2),
        Transmitter("ModeThree", 4, 3),
        Receiver("a[b", 14),
    };
}

constexpr const char* kUniLabel = "Uni: Unicast (192.168.0.2) [02:00:00:00:00:02]";
constexpr const char* kFirstLabel = "First: Multicast (192.168.0.1) [02:00:00:00:00:01]";
constexpr const char* kSpareLabel = "Spare: Receiver (192.168.0.12) [02:00:00:00:00:0c]";
constexpr const char* kMainLabel = "Main: Receiver (192.168.0.11) [02:00:00:00:00:0b]";

TEST_F(ViewsDialog, UnicastTransmitterShowsItsReceiversInEveryRow) {
    Load(SelectionSegment());
    Rebuild();
    EnableActionControls(&dlg, false);  // as before "Set Adapter": showing a row enables it anyway
    Select(dlg.m_ConnectionsTree, kUniLabel);

    EXPECT_EQ(ShownFields(), (Fields{"Uni", "192.168.0.2", "02:00:00:00:00:02", 1}));
    EXPECT_EQ(dlg.m_TopologyCombo.GetWindowText(), "Unicast");
    EXPECT_EQ(LastTreeIsConnections.load(), 1);
    EXPECT_EQ(RowsShown(), Rows(true, true, true));

    EXPECT_EQ(Entries(dlg.m_ConnectPicker), std::vector<std::string>{kMainLabel});
    EXPECT_EQ(GetPickerText(&dlg, kConnectPicker), kMainLabel);
    // No backup 1: the placeholder of zeros is there but not chosen, so the text is empty.
    EXPECT_EQ(Entries(dlg.m_Backup1Picker),
              std::vector<std::string>{"UNKNOWN: Backup 1 (0.0.0.0) [00:00:00:00:00:00]"});
    EXPECT_EQ(dlg.m_Backup1Picker.GetWindowText(), "");
    EXPECT_EQ(GetPickerText(&dlg, kBackup1Picker), "NULL");
    EXPECT_EQ(GetPickerText(&dlg, kBackup2Picker), kSpareLabel);

    for (const int id :
         {IDC_TOPOLOGY_COMBO, IDC_CHANGE_TOPOLOGY, IDC_CONNECT_PICKER, IDC_ADD_CONNECT,
          IDC_BACKUP1_PICKER, IDC_ADD_BACKUP1, IDC_BACKUP2_PICKER, IDC_ADD_BACKUP2}) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    EXPECT_FALSE(Enabled(IDC_REFRESH));  // the rest of the busy set stays as it was
}

TEST_F(ViewsDialog, MulticastTransmitterShowsTheConnectRowOnly) {
    Load(SelectionSegment());
    Rebuild();
    Select(dlg.m_ConnectionsTree, kFirstLabel);
    EXPECT_EQ(ShownFields(), (Fields{"First", "192.168.0.1", "02:00:00:00:00:01", 0}));
    EXPECT_EQ(dlg.m_TopologyCombo.GetWindowText(), "Multicast");
    EXPECT_EQ(RowsShown(), Rows(true, true, false));
    EXPECT_EQ(dlg.m_ConnectPicker.GetWindowText(), "");
    EXPECT_EQ(GetPickerText(&dlg, kConnectPicker), "NULL");
}

TEST_F(ViewsDialog, ReceiverAndModeTwoHideTheRowsModeThreeLeavesThem) {
    Load(SelectionSegment());
    Rebuild();
    Select(dlg.m_AvailableTree, kSpareLabel);
    EXPECT_EQ(ShownFields(), (Fields{"Spare", "192.168.0.12", "02:00:00:00:00:0c", -1}));
    EXPECT_EQ(dlg.m_TopologyCombo.GetWindowText(), "");
    EXPECT_EQ(LastTreeIsConnections.load(), 0);
    EXPECT_EQ(RowsShown(), Rows(false, false, false));
    EXPECT_FALSE(Enabled(IDC_CHANGE_TOPOLOGY));

    Select(dlg.m_ConnectionsTree, "ModeTwo (192.168.0.3) [02:00:00:00:00:03]");
    EXPECT_EQ(ShownFields(), (Fields{"ModeTwo", "192.168.0.3", "02:00:00:00:00:03", -1}));
    EXPECT_EQ(RowsShown(), Rows(false, false, false));

    Select(dlg.m_ConnectionsTree, kUniLabel);
    Select(dlg.m_ConnectionsTree, "ModeThree (192.168.0.4) [02:00:00:00:00:04]");
    EXPECT_EQ(ShownFields(), (Fields{"ModeThree", "192.168.0.4", "02:00:00:00:00:04", -1}));
    EXPECT_EQ(RowsShown(), Rows(true, true, true));
    EXPECT_EQ(GetPickerText(&dlg, kConnectPicker), kMainLabel);  // what Uni left
}

TEST_F(ViewsDialog, LabelNamingNoUnitNeverShowsAnotherUnit) {
    Load(SelectionSegment());
    Rebuild();
    const auto expectBlank = [&](const std::string& mac) {
        EXPECT_EQ(ShownFields(), (Fields{"", "", mac, -1}));
        EXPECT_EQ(RowsShown(), Rows(false, false, false));
        EXPECT_EQ(dlg.m_ConnectPicker.GetCount(), 0);
        EXPECT_EQ(dlg.m_Backup1Picker.GetCount(), 0);
        EXPECT_EQ(dlg.m_Backup2Picker.GetCount(), 0);
    };

    Select(dlg.m_ConnectionsTree, kUniLabel);
    Select(dlg.m_AvailableTree, "Available Receiver:");
    expectBlank("Available Receiver:");

    // A "[" in the unit's own name: the unit itself, not a blank.
    Select(dlg.m_ConnectionsTree, kUniLabel);
    Select(dlg.m_AvailableTree, "a[b: Receiver (192.168.0.14) [02:00:00:00:00:0e]");
    EXPECT_EQ(ShownFields(), (Fields{"a[b", "192.168.0.14", "02:00:00:00:00:0e", -1}));

    // A unit that a later discovery no longer found, before the trees are rebuilt.
    std::vector<DeviceRecord> without = SelectionSegment();
    without.erase(without.begin() + 3);  // Spare
    Load(without);
    Select(dlg.m_ConnectionsTree, kUniLabel);
    Select(dlg.m_AvailableTree, kSpareLabel);
    expectBlank("02:00:00:00:00:0c");

    // A placeholder of a configured but silent Receiver.
    Load({WithPeer(Transmitter("Missing", 5, kUnicast), 0, 99)});
    Rebuild();
    Select(dlg.m_ConnectionsTree, "UNKNOWN: Receiver (192.168.0.99) [02:00:00:00:00:63]");
    expectBlank("02:00:00:00:00:63");
}

TEST_F(ViewsDialog, ClickOnTheSelectedItemMakesItsTreeTheSource) {
    Load(SelectionSegment());
    Rebuild();
    Select(dlg.m_ConnectionsTree, kUniLabel);
    Select(dlg.m_AvailableTree, kSpareLabel);
    ASSERT_EQ(LastTreeIsConnections.load(), 0);

    // The item the Connections tree already had selected: no selection change, still a click.
    ClickItem(dlg.m_ConnectionsTree, kUniLabel);
    EXPECT_EQ(LastTreeIsConnections.load(), 1);
    EXPECT_EQ(ShownFields().name, "Uni");
    EXPECT_EQ(GetSelectedItemText(&dlg, 0), kSpareLabel);  // each tree keeps its own

    ClickItem(dlg.m_AvailableTree, kSpareLabel);
    EXPECT_EQ(LastTreeIsConnections.load(), 0);
    EXPECT_EQ(ShownFields().name, "Spare");
    EXPECT_EQ(GetSelectedItemText(&dlg, 1), kUniLabel);
}

TEST_F(ViewsDialog, ClickOnEmptySpaceShowsThatTreesSelection) {
    Load(SelectionSegment());
    Rebuild();
    Select(dlg.m_ConnectionsTree, kUniLabel);
    Select(dlg.m_AvailableTree, kSpareLabel);
    ASSERT_EQ(LastTreeIsConnections.load(), 0);

    ClickEmptySpace(dlg.m_ConnectionsTree);
    EXPECT_EQ(LastTreeIsConnections.load(), 1);
    EXPECT_EQ(GetSelectedItemText(&dlg, 1), kUniLabel);
    EXPECT_EQ(ShownFields().name, "Uni");
}

TEST_F(ViewsDialog, WorkersReadTheSelectionAndItsParent) {
    Load(SelectionSegment());
    Rebuild();
    Select(dlg.m_ConnectionsTree, kMainLabel);
    Select(dlg.m_AvailableTree, kSpareLabel);
    std::string selected, parentText, parentMac, available;
    ASSERT_TRUE(RunOnWorker([&] {
        selected = GetSelectedDeviceMac(&dlg, 1);
        available = GetSelectedDeviceMac(&dlg, 0);
        parentText = GetParentItemText(&dlg);
        parentMac = GetParentDeviceMac(&dlg);
    }));
    EXPECT_EQ(selected, "02:00:00:00:00:0b");
    EXPECT_EQ(available, "02:00:00:00:00:0c");
    EXPECT_EQ(parentText, kUniLabel);
    EXPECT_EQ(parentMac, "02:00:00:00:00:02");

    Select(dlg.m_ConnectionsTree, kUniLabel);
    EXPECT_EQ(GetParentItemText(&dlg), "");  // a top-level item has no parent
    Rebuild();
    EXPECT_EQ(GetSelectedDeviceMac(&dlg, 1), "");  // nothing selected after a rebuild
    EXPECT_EQ(GetParentDeviceMac(&dlg), "");
}

// ---- pickers ----

TEST_F(ViewsDialog, PickersOfAnEmptyTableOfferNothing) {
    for (CComboBox* picker : {&dlg.m_ConnectPicker, &dlg.m_Backup1Picker, &dlg.m_Backup2Picker}) {
        picker->AddString("stale entry");
        picker->SetCurSel(0);
        OpenPicker(*picker);
        EXPECT_EQ(picker->GetCount(), 0);
    }
    for (const ReceiverPicker p : {kConnectPicker, kBackup1Picker, kBackup2Picker}) {
        EXPECT_EQ(GetPickerText(&dlg, p), "NULL");
        EXPECT_EQ(GetPickedReceiverMac(&dlg, p), "NULL");
    }
}

TEST_F(ViewsDialog, OpeningAPickerOffersTheReceiversOfItsSlot) {
    Load(SelectionSegment());
    Rebuild();
    Select(dlg.m_ConnectionsTree, kUniLabel);
    ASSERT_EQ(GetPickerText(&dlg, kConnectPicker), kMainLabel);

    // Main is attached, so the Connect list no longer holds it; nothing is chosen.
    OpenPicker(dlg.m_ConnectPicker);
    const std::string aLabel = "a[b: Receiver (192.168.0.14) [02:00:00:00:00:0e]";
    EXPECT_EQ(Entries(dlg.m_ConnectPicker), (std::vector<std::string>{kSpareLabel, aLabel}));
    EXPECT_EQ(GetPickerText(&dlg, kConnectPicker), "NULL");

    const std::vector<std::string> backups{
        kMainLabel, kSpareLabel, "Fed: Receiver (192.168.0.13) [02:00:00:00:00:0d]", aLabel};
    OpenPicker(dlg.m_Backup1Picker);
    OpenPicker(dlg.m_Backup2Picker);
    EXPECT_EQ(Entries(dlg.m_Backup1Picker), backups);
    EXPECT_EQ(Entries(dlg.m_Backup2Picker), backups);

    dlg.m_Backup2Picker.SetCurSel(1);
    std::string picked;
    ASSERT_TRUE(RunOnWorker([&] { picked = GetPickedReceiverMac(&dlg, kBackup2Picker); }));
    EXPECT_EQ(picked, "02:00:00:00:00:0c");
}

TEST_F(ViewsDialog, KindTwoIsOfferedWithItsSuffix) {
    Load({Transmitter("T", 1, kMulticast), Unit("Two", 2, 2, 0), Unit("Nine", 3, 9, 0)});
    OpenPicker(dlg.m_ConnectPicker);
    EXPECT_EQ(Entries(dlg.m_ConnectPicker),
              (std::vector<std::string>{"Two: Backup 2 (192.168.0.2) [02:00:00:00:00:02]",
                                        "Nine (192.168.0.3) [02:00:00:00:00:03]"}));
}

TEST_F(ViewsDialog, PlaceholderChosenByKeyboardAndTypedText) {
    Load(SelectionSegment());
    Rebuild();
    Select(dlg.m_ConnectionsTree, kUniLabel);
    dlg.m_Backup1Picker.SetCurSel(0);  // arrow key on the unchosen placeholder
    EXPECT_EQ(GetPickedReceiverMac(&dlg, kBackup1Picker), "00:00:00:00:00:00");

    dlg.m_Backup1Picker.SetCurSel(-1);
    Combo(dlg.m_Backup1Picker)->lineEdit()->setText("typed [02:00:00:00:00:0c]");
    EXPECT_EQ(GetPickerText(&dlg, kBackup1Picker), "NULL");
}

TEST_F(ViewsDialog, ClearPickerEmptiesOnlyRealPickers) {
    Load(SelectionSegment());
    Rebuild();
    Select(dlg.m_ConnectionsTree, kUniLabel);
    std::vector<bool> cleared;
    ASSERT_TRUE(RunOnWorker([&] {
        cleared = {ClearPicker(&dlg, kBackup1Picker),
                   ClearPicker(&dlg, static_cast<ReceiverPicker>(3)),
                   ClearPicker(&dlg, static_cast<ReceiverPicker>(-1))};
    }));
    EXPECT_EQ(cleared, (std::vector<bool>{true, true, true}));
    EXPECT_EQ(dlg.m_Backup1Picker.GetCount(), 0);
    EXPECT_EQ(dlg.m_Backup1Picker.GetWindowText(), "");
    EXPECT_EQ(GetPickerText(&dlg, kConnectPicker), kMainLabel);
    EXPECT_EQ(GetPickerText(&dlg, kBackup2Picker), kSpareLabel);
    EXPECT_EQ(GetPickerText(&dlg, static_cast<ReceiverPicker>(3)), "");
    EXPECT_EQ(GetPickedReceiverMac(&dlg, static_cast<ReceiverPicker>(3)), "");
}

// ---- Refresh ----

TEST_F(ViewsDialog, RefreshWhoseSendsAllFailEmptiesTheTrees) {
    Load(MixedSegment());
    Rebuild();
    EnableActionControls(&dlg, true);
    const std::string logBefore = dlg.m_LogPane.GetWindowText();
    StderrCapture traces;

    DispatchCommand(&dlg, Command::Refresh);  // with no adapter set
    ASSERT_TRUE(WaitUntil(
        [&] {
            return dlg.m_LogPane.GetWindowText().find("Please wait.", logBefore.size()) !=
                   std::string::npos;
        },
        5s));
    EXPECT_FALSE(Enabled(IDC_REFRESH));  // busy for the whole run
    EXPECT_FALSE(Enabled(IDC_BACKUP2_PICKER));
    EXPECT_TRUE(Enabled(IDC_SET_ADAPTER));
    ASSERT_TRUE(WaitUntil(
        [&] {
            return dlg.m_LogPane.GetWindowText().find("Finished", logBefore.size()) !=
                   std::string::npos;
        },
        15s));

    EXPECT_EQ(dlg.m_LogPane.GetWindowText().substr(logBefore.size()),
              "Searching for VX418 and refreshing. Please wait.\r\n"
              "Finished searching for VX418.\r\n");
    EXPECT_TRUE(WaitUntil([&] { return Enabled(IDC_REFRESH); }, 5s));
    EXPECT_EQ(Devices().DeviceCount(), 0);
    EXPECT_TRUE(Dump(dlg.m_ConnectionsTree).empty());
    EXPECT_EQ(Dump(dlg.m_AvailableTree), std::vector<std::string>{"0 -1 - Available Receiver:"});
    EXPECT_EQ(ReceiverItemCount(), 0);
    EXPECT_EQ(TraceMessages(traces.Text()),
              (std::vector<std::string>{
                  "===== Refresh Timeout is 5000 mseconds =====", "Refresh Failed!!!",
                  "Refresh Failed!!!", "Refresh Failed!!!", "##### Table sould be ready #####"}));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();  // test discovery at build time needs no window system
    }
    QApplication app(argc, argv);
    SetCaptureBackend(std::make_shared<MemorySegment>());
    const std::unique_ptr<CVX418Dlg> dialog = CreateMainDialog();
    dialog->GetSafeHwnd()->show();
    theDialog = dialog.get();
    const int result = RUN_ALL_TESTS();
    // A worker may still be finishing its last calls on the dialog (a Refresh re-enables the
    // busy set control by control); let it return before the dialog goes.
    const bool workersDone = views_test::WaitUntil([] { return RunningWorkerCount() == 0; }, 30s);
    theDialog = nullptr;
    return workersDone ? result : 1;
}
