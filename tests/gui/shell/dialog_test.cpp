// The main dialog as the user meets it: controls, busy state, every command it raises, the
// workers the dispatcher starts, the About box and the ways the dialog ends.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/command_dispatch.h"
#include "platform/image_list.h"
#include "platform/message_box.h"
#include "platform/qt/widgets.h"
#include "shell/cvx418_dlg.h"
#include "shell/dialog_units.h"
#include "shell/log_line.h"
#include "shell/shell_state.h"
#include "vx418_version.h"

namespace {

constexpr std::array kBusySet{IDC_REFRESH,        IDC_DELETE_RECEIVER, IDC_CHANGE_NAME,
                              IDC_CHANGE_IP,      IDC_CHANGE_TOPOLOGY, IDC_ADD_CONNECT,
                              IDC_ADD_BACKUP1,    IDC_ADD_BACKUP2,     IDC_CONNECT_PICKER,
                              IDC_BACKUP1_PICKER, IDC_BACKUP2_PICKER};

constexpr std::array kAlwaysUsable{IDC_ADAPTER_COMBO,    IDC_SET_ADAPTER,    IDC_TOPOLOGY_COMBO,
                                   IDC_CONNECTIONS_TREE, IDC_AVAILABLE_TREE, IDC_NAME_EDIT,
                                   IDC_IP_EDIT,          IDC_MAC_EDIT,       IDC_LOG_PANE};

struct ButtonCommand {
    int id;
    Command command;
};
constexpr std::array<ButtonCommand, 9> kButtons{{{IDC_REFRESH, Command::Refresh},
                                                 {IDC_DELETE_RECEIVER, Command::DeleteReceivers},
                                                 {IDC_CHANGE_NAME, Command::ChangeName},
                                                 {IDC_CHANGE_IP, Command::ChangeIp},
                                                 {IDC_ADD_CONNECT, Command::AddReceiver},
                                                 {IDC_ADD_BACKUP1, Command::AddBackup1},
                                                 {IDC_ADD_BACKUP2, Command::AddBackup2},
                                                 {IDC_CHANGE_TOPOLOGY, Command::ChangeTopology},
                                                 {IDC_SET_ADAPTER, Command::SetAdapter}}};

// Template rectangles (dialog units) of the controls that have an id.
struct TemplateRect {
    int id, x, y, w, h;
};
constexpr std::array<TemplateRect, 26> kTemplate{{
    {1019, 245, 97, 37, 10},    {1023, 249, 60, 32, 8},    {1003, 9, 54, 149, 25},
    {1004, 166, 54, 65, 25},    {1005, 291, 146, 133, 14}, {1006, 447, 143, 50, 14},
    {1007, 291, 181, 133, 14},  {1008, 291, 162, 133, 14}, {1009, 447, 162, 50, 14},
    {1020, 248, 113, 34, 8},    {1012, 281, 58, 156, 147}, {1013, 283, 94, 154, 128},
    {1014, 283, 110, 154, 109}, {1015, 447, 57, 50, 14},   {1016, 447, 93, 50, 14},
    {1017, 447, 110, 50, 14},   {1002, 9, 82, 225, 138},   {1018, 247, 235, 257, 88},
    {1026, 250, 202, 43, 8},    {1021, 291, 201, 133, 59}, {1022, 447, 199, 50, 14},
    {1024, 9, 21, 430, 81},     {1025, 447, 20, 50, 14},   {1010, 9, 236, 223, 87},
    {2, 498, 223, 16, 11},      {1, 475, 225, 15, 10},
}};

QRect ToPixels(const TemplateRect& r) {
    const int left = DialogUnitsToPixelsX(r.x);
    const int top = DialogUnitsToPixelsY(r.y);
    return QRect(QPoint(left, top),
                 QPoint(DialogUnitsToPixelsX(r.x + r.w) - 1, DialogUnitsToPixelsY(r.y + r.h) - 1));
}

QWidget* Control(CVX418Dlg* dialog, int id) {
    return dialog->GetDlgItem(id)->widget();
}

// Clicks a widget the way a user does, in its middle (or at a point).
void Click(QWidget* widget, QPoint at = {}) {
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at.isNull() ? QPoint() : at);
}

QPoint ItemCentre(QTreeWidget* tree, QTreeWidgetItem* item) {
    return tree->visualItemRect(item).center();
}

// The top-level widgets of a type (and name) that are on screen.
template <typename T>
std::vector<T*> VisibleTopLevels(const QString& name = {}) {
    std::vector<T*> found;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* typed = qobject_cast<T*>(w);
        if (typed != nullptr && typed->isVisible() && (name.isEmpty() || w->objectName() == name)) {
            found.push_back(typed);
        }
    }
    return found;
}

}  // namespace

class DialogTest : public QObject {
    Q_OBJECT

  private:
    // The dialog the program shows, wired to the real dispatcher.
    std::unique_ptr<CVX418Dlg> real_;
    // A dialog whose commands are only recorded, to see exactly what each control raises.
    std::unique_ptr<CVX418Dlg> recording_;
    std::vector<Command> raised_;
    std::function<void(Command)> onRaised_;

    std::mutex startsMutex_;
    std::vector<WorkerStart> starts_;

    std::vector<WorkerStart> Starts() {
        const std::lock_guard lock(startsMutex_);
        return starts_;
    }

    // Records worker starts without running the workers: the dispatch is under test here.
    void RecordStartsOnly() {
        SetWorkerStartObserver([this](const WorkerStart& start) {
            const std::lock_guard lock(startsMutex_);
            starts_.push_back(start);
            return false;
        });
    }

  private slots:
    void initTestCase() {
        RecordStartsOnly();
        real_ = CreateMainDialog();
        real_->GetSafeHwnd()->show();
        QVERIFY(QTest::qWaitForWindowExposed(real_->GetSafeHwnd()));

        recording_ = std::make_unique<CVX418Dlg>([this](Command command) {
            raised_.push_back(command);
            if (onRaised_) {
                onRaised_(command);
            }
        });
        recording_->GetSafeHwnd()->show();
        QVERIFY(QTest::qWaitForWindowExposed(recording_->GetSafeHwnd()));
    }

    void cleanupTestCase() { SetWorkerStartObserver(nullptr); }

    void init() { raised_.clear(); }

    // Right after start-up: command 0 has run, nothing else.
    void startupState() {
        CVX418Dlg* dialog = real_.get();
        QCOMPARE(MainDialog.load(), dialog);
        for (const int id : kBusySet) {
            QVERIFY2(!dialog->GetDlgItem(id)->IsWindowEnabled(), qPrintable(QString::number(id)));
        }
        for (const int id : kAlwaysUsable) {
            QVERIFY2(dialog->GetDlgItem(id)->IsWindowEnabled(), qPrintable(QString::number(id)));
        }
        QCOMPARE(dialog->m_TopologyCombo.GetCount(), 2);
        QCOMPARE(dialog->m_TopologyCombo.GetLBText(0), std::string("Multicast"));
        QCOMPARE(dialog->m_TopologyCombo.GetLBText(1), std::string("Unicast"));
        QCOMPARE(dialog->m_TopologyCombo.GetCurSel(), -1);

        // The last trace line of command 0, with nothing else in it.
        static const QRegularExpression traced(
            R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}  < refresh timeout is 5000 mseconds >\r\n$)");
        QVERIFY2(traced.match(QString::fromStdString(TraceBufferText())).hasMatch(),
                 TraceBufferText().c_str());
        QCOMPARE(dialog->m_LogPane.GetWindowText(), std::string());
        QVERIFY(Starts().empty());
    }

    void windowAndControlStyles() {
        CVX418Dlg* dialog = real_.get();
        QCOMPARE(dialog->GetSafeHwnd()->windowTitle(), QStringLiteral("VX418 Management Utility"));
        const QSize size(DialogUnitsToPixelsX(521), DialogUnitsToPixelsY(337));
        QCOMPARE(dialog->GetSafeHwnd()->minimumSize(), size);
        QCOMPARE(dialog->GetSafeHwnd()->maximumSize(), size);
        QVERIFY(!(dialog->GetSafeHwnd()->windowFlags() & Qt::WindowMinMaxButtonsHint));

        auto* ok = qobject_cast<QPushButton*>(Control(dialog, IDOK));
        auto* cancel = qobject_cast<QPushButton*>(Control(dialog, IDCANCEL));
        QVERIFY(ok->isHidden() && !ok->isEnabled() && ok->isDefault());
        QVERIFY(cancel->isHidden());

        QVERIFY(qobject_cast<QLineEdit*>(Control(dialog, IDC_MAC_EDIT))->isReadOnly());
        QVERIFY(!qobject_cast<QLineEdit*>(Control(dialog, IDC_NAME_EDIT))->isReadOnly());
        auto* log = qobject_cast<QPlainTextEdit*>(Control(dialog, IDC_LOG_PANE));
        QVERIFY(!log->isReadOnly());
        QCOMPARE(log->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(log->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

        for (const int id : {IDC_CONNECT_PICKER, IDC_BACKUP1_PICKER, IDC_BACKUP2_PICKER,
                             IDC_TOPOLOGY_COMBO, IDC_ADAPTER_COMBO}) {
            auto* combo = qobject_cast<QComboBox*>(Control(dialog, id));
            QVERIFY(combo->isEditable());
            QCOMPARE(combo->insertPolicy(), QComboBox::NoInsert);
        }
        QVERIFY(qobject_cast<VxTreeWidget*>(Control(dialog, IDC_CONNECTIONS_TREE))->checkBoxes());
        QVERIFY(!qobject_cast<VxTreeWidget*>(Control(dialog, IDC_AVAILABLE_TREE))->checkBoxes());
        QCOMPARE(dialog->m_pImageList->GetImageCount(), 2);
    }

    // Every control sits at its template rectangle; combo boxes show only their field.
    void templateGeometry() {
        for (const TemplateRect& r : kTemplate) {
            const QWidget* w = Control(real_.get(), r.id);
            QRect expected = ToPixels(r);
            if (qobject_cast<const QComboBox*>(w) != nullptr) {
                expected.setHeight(w->height());
            }
            QVERIFY2(w->geometry() == expected, qPrintable(QString::number(r.id)));
        }
    }

    void tabOrderFollowsTheTemplate() {
        const std::vector<int> expected{1003, 1004, 1005, 1006, 1007, 1008, 1009, 1012,
                                        1013, 1014, 1015, 1016, 1017, 1002, 1018, 1021,
                                        1022, 1024, 1025, 1010, 2,    1};
        std::vector<int> order;
        QWidget* first = Control(real_.get(), IDC_REFRESH);
        QWidget* w = first;
        do {
            const QVariant id = w->property("controlId");
            if (id.isValid() && (w->focusPolicy() & Qt::TabFocus)) {
                order.push_back(id.toInt());
            }
            w = w->nextInFocusChain();
        } while (w != first && order.size() < 100);
        QCOMPARE(order, expected);
    }

    void busySetSwitchesOnlyItsControls() {
        CVX418Dlg* dialog = recording_.get();
        EnableActionControls(dialog, true);
        for (const int id : kBusySet) {
            QVERIFY(dialog->GetDlgItem(id)->IsWindowEnabled());
        }
        dialog->GetDlgItem(IDC_SET_ADAPTER)->EnableWindow(false);
        EnableActionControls(dialog, false);
        for (const int id : kBusySet) {
            QVERIFY(!dialog->GetDlgItem(id)->IsWindowEnabled());
        }
        QVERIFY(!dialog->GetDlgItem(IDC_SET_ADAPTER)->IsWindowEnabled());  // left as it was
        dialog->GetDlgItem(IDC_SET_ADAPTER)->EnableWindow(true);
        EnableActionControls(nullptr, true);  // no dialog: nothing to do
    }

    void buttonsRaiseTheirCommands() {
        EnableActionControls(recording_.get(), true);
        for (const auto& [id, command] : kButtons) {
            raised_.clear();
            Click(Control(recording_.get(), id));
            QCOMPARE(raised_, std::vector<Command>{command});
        }
    }

    void workersRunOffTheWindowThread() {
        {
            const std::lock_guard lock(startsMutex_);
            starts_.clear();
        }
        EnableActionControls(real_.get(), true);
        for (const auto& [id, command] : kButtons) {
            Click(Control(real_.get(), id));
        }
        // A second press starts a second worker.
        Click(Control(real_.get(), IDC_SET_ADAPTER));
        Click(Control(real_.get(), IDC_CHANGE_NAME));
        EnableActionControls(real_.get(), false);

        QTRY_COMPARE(Starts().size(), kButtons.size() + 2);
        std::vector<int> commands;
        for (const WorkerStart& start : Starts()) {
            commands.push_back(static_cast<int>(start.command));
            QVERIFY(start.thread != std::this_thread::get_id());
            const int expectedSlot = commands.back() == 6 ? 1 : commands.back() == 7 ? 2 : 0;
            QCOMPARE(int{start.backupSlot}, expectedSlot);
        }
        std::sort(commands.begin(), commands.end());
        QCOMPARE(commands, (std::vector<int>{1, 2, 3, 3, 4, 5, 6, 7, 8, 9, 9}));
        QCOMPARE(int{BackupSlot.load()}, 2);
    }

    // Selection changes and clicks of both trees, including clicks that change nothing.
    void treesRaiseTheirCommands() {
        CVX418Dlg* dialog = recording_.get();
        for (const auto& [id, command] :
             {std::pair{IDC_CONNECTIONS_TREE, Command::ShowConnectionsSelection},
              std::pair{IDC_AVAILABLE_TREE, Command::ShowAvailableSelection}}) {
            auto* tree = qobject_cast<QTreeWidget*>(Control(dialog, id));
            CTreeCtrl& wrapper =
                id == IDC_CONNECTIONS_TREE ? dialog->m_ConnectionsTree : dialog->m_AvailableTree;
            raised_.clear();
            wrapper.DeleteAllItems();
            QCOMPARE(raised_, std::vector<Command>{});  // emptying raises nothing
            wrapper.InsertItem("first");
            QCOMPARE(raised_, std::vector<Command>{});  // filling the tree raises nothing
            const HTREEITEM secondHandle = wrapper.InsertItem("second");
            QCOMPARE(raised_, std::vector<Command>{});

            QTreeWidgetItem* second = tree->topLevelItem(1);
            Click(tree->viewport(), ItemCentre(tree, second));
            QCOMPARE(raised_, (std::vector<Command>{command, command}));  // selection, then click

            raised_.clear();
            Click(tree->viewport(), ItemCentre(tree, second));  // already selected
            QCOMPARE(raised_, std::vector<Command>{command});

            raised_.clear();
            Click(tree->viewport(), QPoint(tree->viewport()->width() / 2,
                                           tree->viewport()->height() - 5));  // empty space
            QVERIFY(!raised_.empty());
            QVERIFY(std::all_of(raised_.begin(), raised_.end(),
                                [c = command](Command r) { return r == c; }));
            QCOMPARE(wrapper.GetSelectedItem(), secondHandle);  // the selection stays

            raised_.clear();
            Click(tree->viewport(), ItemCentre(tree, second));
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              ItemCentre(tree, second));  // a tree has no multi-selection
            QCOMPARE(wrapper.GetSelectedItem(), secondHandle);

            raised_.clear();
            QTest::keyClick(tree, Qt::Key_Up);  // selection change by keyboard
            QVERIFY(!raised_.empty() && raised_.back() == command);
        }
    }

    void checkboxClickRaisesAndToggles() {
        CVX418Dlg* dialog = recording_.get();
        auto* tree = qobject_cast<QTreeWidget*>(Control(dialog, IDC_CONNECTIONS_TREE));
        dialog->m_ConnectionsTree.DeleteAllItems();
        const HTREEITEM item = dialog->m_ConnectionsTree.InsertItem("unit");
        QTreeWidgetItem* row = tree->topLevelItem(0);
        // The check indicator is the first thing in the row; find it by trying its left part.
        const QRect rect = tree->visualItemRect(row);
        bool toggled = false;
        for (int x = rect.left() + 1; x < rect.left() + 30 && !toggled; x += 2) {
            raised_.clear();
            Click(tree->viewport(), QPoint(x, rect.center().y()));
            toggled = dialog->m_ConnectionsTree.GetCheck(item);
            QVERIFY(!raised_.empty() && raised_.back() == Command::ShowConnectionsSelection);
        }
        QVERIFY(toggled);
    }

    // The flag says which tree reported last, after its handler ran.
    void lastTreeFollowsTheClickedTree() {
        CVX418Dlg* dialog = real_.get();
        auto* connections = qobject_cast<QTreeWidget*>(Control(dialog, IDC_CONNECTIONS_TREE));
        auto* available = qobject_cast<QTreeWidget*>(Control(dialog, IDC_AVAILABLE_TREE));
        dialog->m_AvailableTree.InsertItem("free");
        Click(available->viewport(), QPoint(5, available->viewport()->height() - 5));
        QCOMPARE(int{LastTreeIsConnections.load()}, 0);
        Click(connections->viewport(), QPoint(5, connections->viewport()->height() - 5));
        QCOMPARE(int{LastTreeIsConnections.load()}, 1);
        // A click that selects nothing new still counts.
        Click(available->viewport(), ItemCentre(available, available->topLevelItem(0)));
        Click(connections->viewport(), QPoint(5, connections->viewport()->height() - 5));
        Click(available->viewport(), ItemCentre(available, available->topLevelItem(0)));
        QCOMPARE(int{LastTreeIsConnections.load()}, 0);
        dialog->m_AvailableTree.DeleteAllItems();
    }

    // The handler sees the picker before its list is open, every time it opens.
    void pickersRaiseBeforeTheirListOpens() {
        CVX418Dlg* dialog = recording_.get();
        EnableActionControls(dialog, true);
        for (const auto& [id, command] :
             {std::pair{IDC_CONNECT_PICKER, Command::FillConnectPicker},
              std::pair{IDC_BACKUP1_PICKER, Command::FillBackup1Picker},
              std::pair{IDC_BACKUP2_PICKER, Command::FillBackup2Picker}}) {
            auto* picker = qobject_cast<QComboBox*>(Control(dialog, id));
            CComboBox& wrapper = id == IDC_CONNECT_PICKER   ? dialog->m_ConnectPicker
                                 : id == IDC_BACKUP1_PICKER ? dialog->m_Backup1Picker
                                                            : dialog->m_Backup2Picker;
            int fills = 0;
            bool openWhenRaised = false;
            onRaised_ = [&](Command) {
                openWhenRaised = picker->view()->isVisible();
                wrapper.ResetContent();  // what a refill does
                wrapper.AddString("refilled " + std::to_string(++fills));
            };
            for (int round = 1; round <= 2; ++round) {
                raised_.clear();
                Click(picker, QPoint(picker->width() - 6, picker->height() / 2));  // the arrow
                QCOMPARE(raised_, std::vector<Command>{command});
                QVERIFY(!openWhenRaised);
                QTRY_VERIFY(picker->view()->isVisible());
                QCOMPARE(picker->count(), 1);
                QCOMPARE(picker->itemText(0), QString("refilled %1").arg(round));
                picker->hidePopup();
                QTRY_VERIFY(!picker->view()->isVisible());
            }
            onRaised_ = nullptr;
        }
    }

    void enterInAnEditPressesNoButton() {
        CVX418Dlg* dialog = recording_.get();
        EnableActionControls(dialog, true);
        QSignalSpy finished(dialog->GetSafeHwnd(), &QDialog::finished);
        for (const int id : {IDC_NAME_EDIT, IDC_IP_EDIT}) {
            QWidget* edit = Control(dialog, id);
            edit->setFocus();
            QTest::keyClick(edit, Qt::Key_Return);
            QTest::keyClick(edit, Qt::Key_Enter);
        }
        QCOMPARE(raised_, std::vector<Command>{});
        QCOMPARE(finished.count(), 0);
        QVERIFY(dialog->GetSafeHwnd()->isVisible());
    }

    // The background menu: the standard item, a separator, then the About item.
    void aboutBoxFromTheBackgroundMenu() {
        QStringList menuTexts;
        bool sawSeparatorBeforeAbout = false;
        QString aboutTitle;
        QStringList aboutTexts;
        bool aboutWasModal = false;

        QTimer::singleShot(0, this, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu != nullptr);
            const QList<QAction*> actions = menu->actions();
            for (QAction* a : actions) {
                menuTexts << (a->isSeparator() ? QStringLiteral("-") : a->text());
            }
            QAction* about = actions.last();
            sawSeparatorBeforeAbout =
                actions.size() >= 2 && actions[actions.size() - 2]->isSeparator();
            QTimer::singleShot(0, this, [&] {
                auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                QVERIFY(box != nullptr && box->objectName() == QStringLiteral("CAboutDlg"));
                aboutWasModal = box->isModal() || box->windowModality() != Qt::NonModal;
                aboutTitle = box->windowTitle();
                for (QLabel* label : box->findChildren<QLabel*>()) {
                    aboutTexts << label->text();
                }
                Click(box->findChild<QPushButton*>("okButton"));
            });
            about->trigger();
            menu->close();
        });
        const QPoint background(DialogUnitsToPixelsX(240), DialogUnitsToPixelsY(5));
        QContextMenuEvent event(QContextMenuEvent::Mouse, background,
                                real_->GetSafeHwnd()->mapToGlobal(background));
        QApplication::sendEvent(real_->GetSafeHwnd(), &event);

        QCOMPARE(menuTexts.last(), QStringLiteral("&About VX418..."));
        QVERIFY(sawSeparatorBeforeAbout);
        QCOMPARE(aboutTitle, QStringLiteral("About VX418"));
        QVERIFY(aboutTexts.contains(QStringLiteral("VX418 Version " VX_VERSION)));
        QVERIFY(aboutWasModal);
        QTRY_VERIFY(VisibleTopLevels<QDialog>(QStringLiteral("CAboutDlg")).empty());
    }

    // Escape ends the dialog although a worker is waiting on the window: one in a message box,
    // one in a stream of control calls.
    void escapeEndsTheDialogWhileWorkersWait() {
        SetWorkerStartObserver(nullptr);  // these workers must run
        auto restore = qScopeGuard([this] { RecordStartsOnly(); });
        auto dialog = std::make_unique<CVX418Dlg>(nullptr);
        dialog->GetSafeHwnd()->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog->GetSafeHwnd()));
        QSignalSpy finished(dialog->GetSafeHwnd(), &QDialog::finished);

        auto boxAnswered = std::make_shared<std::promise<int>>();
        auto boxResult = boxAnswered->get_future();
        StartWorker(dialog.get(), Command::ChangeName, [boxAnswered](CVX418Dlg*) {
            boxAnswered->set_value(MessageBoxA(nullptr, "waiting", "Information", MB_OK));
            return 0u;
        });
        std::atomic<bool> stop{false};
        auto pollerDone = std::make_shared<std::promise<void>>();
        auto pollerResult = pollerDone->get_future();
        StartWorker(dialog.get(), Command::ChangeIp, [&stop, pollerDone](CVX418Dlg* d) {
            while (!stop) {
                (void)d->m_NameEdit.GetWindowText();
            }
            pollerDone->set_value();
            return 0u;
        });
        QTRY_COMPARE(VisibleTopLevels<QMessageBox>().size(), std::size_t{1});

        dialog->GetSafeHwnd()->activateWindow();
        QTest::keyClick(dialog->GetSafeHwnd(), Qt::Key_Escape);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int{QDialog::Rejected});
        QVERIFY(!dialog->GetSafeHwnd()->isVisible());

        // Let both workers finish before their dialog goes.
        stop = true;
        QTRY_VERIFY(pollerResult.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
        Click(VisibleTopLevels<QMessageBox>().front()->button(QMessageBox::Ok));
        QTRY_VERIFY(boxResult.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
        QCOMPARE(boxResult.get(), IDOK_RESULT);
    }

    void closeBoxEndsTheDialog() {
        CVX418Dlg dialog(nullptr);
        dialog.GetSafeHwnd()->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.GetSafeHwnd()));
        QSignalSpy finished(dialog.GetSafeHwnd(), &QDialog::finished);
        QVERIFY(dialog.GetSafeHwnd()->close());
        QCOMPARE(finished.count(), 1);
    }
};

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
