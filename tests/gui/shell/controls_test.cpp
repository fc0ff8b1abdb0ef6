// The control wrappers and the message box, called from the window thread and from workers.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "platform/image_list.h"
#include "platform/message_box.h"
#include "shell/cvx418_dlg.h"
#include "window_test_support.h"

namespace {

using vxtest::OnWorker;

std::vector<QMessageBox*> OpenBoxes() {
    return vxtest::OpenMessageBoxes();
}

// Every byte but NUL, which no C string carries.
std::string AllBytes() {
    std::string bytes;
    for (int b = 1; b < 256; ++b) {
        if (b != '\r' && b != '\n') {
            bytes.push_back(static_cast<char>(b));
        }
    }
    return bytes;
}

}  // namespace

class ControlsTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<CVX418Dlg> dialog_;
    CImageList images_{16, 16};

  private slots:
    void initTestCase() {
        dialog_ = std::make_unique<CVX418Dlg>(nullptr);
        images_.Add(QIcon(":/icons/ball_red.png"));
        images_.Add(QIcon(":/icons/ball_green.png"));
        dialog_->m_ConnectionsTree.SetImageList(&images_);
        dialog_->GetSafeHwnd()->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_->GetSafeHwnd()));
    }

    void init() {
        dialog_->m_ConnectionsTree.DeleteAllItems();
        dialog_->m_AvailableTree.DeleteAllItems();
    }

    void treeStructureAndNavigation() {
        CTreeCtrl& tree = dialog_->m_ConnectionsTree;
        const HTREEITEM tx = tree.InsertItem("Transmitter", 1, 1);
        const HTREEITEM rx1 = tree.InsertItem("Receiver 1", 0, 0, tx);
        const HTREEITEM rx2 = tree.InsertItem("Receiver 2", tx);
        const HTREEITEM other = tree.InsertItem("Other");
        QVERIFY(tx && rx1 && rx2 && other);
        QCOMPARE(tree.GetCount(), 4);
        QCOMPARE(tree.GetRootItem(), tx);
        QCOMPARE(tree.GetChildItem(TVI_ROOT), tx);
        QCOMPARE(tree.GetNextSiblingItem(tx), other);
        QCOMPARE(tree.GetNextSiblingItem(other), HTREEITEM{});
        QCOMPARE(tree.GetChildItem(tx), rx1);
        QCOMPARE(tree.GetNextSiblingItem(rx1), rx2);
        QCOMPARE(tree.GetNextSiblingItem(rx2), HTREEITEM{});
        QCOMPARE(tree.GetParentItem(rx2), tx);
        QCOMPARE(tree.GetParentItem(tx), HTREEITEM{});
        QVERIFY(tree.ItemHasChildren(tx));
        QVERIFY(!tree.ItemHasChildren(rx1));
        QCOMPARE(tree.GetItemText(rx1), std::string("Receiver 1"));
        QCOMPARE(tree.GetItemImage(tx), 1);
        QCOMPARE(tree.GetItemImage(rx2), -1);

        QVERIFY(!tree.IsExpanded(tx));
        QVERIFY(tree.Expand(tx));
        QVERIFY(tree.IsExpanded(tx));

        QCOMPARE(tree.GetSelectedItem(), HTREEITEM{});
        QVERIFY(tree.SelectItem(rx2));
        QCOMPARE(tree.GetSelectedItem(), rx2);
        QVERIFY(tree.SelectItem(HTREEITEM{}));
        QCOMPARE(tree.GetSelectedItem(), HTREEITEM{});

        // The image list draws on the tree that has one, and only on items with an image.
        auto* widget = qobject_cast<QTreeWidget*>(tree.widget());
        QVERIFY(!widget->topLevelItem(0)->icon(0).isNull());
        QVERIFY(widget->topLevelItem(0)->child(1)->icon(0).isNull());
        const HTREEITEM plain = dialog_->m_AvailableTree.InsertItem("free", 1, 1);
        QCOMPARE(dialog_->m_AvailableTree.GetItemImage(plain), 1);
        QVERIFY(qobject_cast<QTreeWidget*>(dialog_->m_AvailableTree.widget())
                    ->topLevelItem(0)
                    ->icon(0)
                    .isNull());
    }

    void checkBoxesOnlyOnTheConnectionsTree() {
        const HTREEITEM unit = dialog_->m_ConnectionsTree.InsertItem("unit");
        QVERIFY(!dialog_->m_ConnectionsTree.GetCheck(unit));
        QVERIFY(dialog_->m_ConnectionsTree.SetCheck(unit, true));
        QVERIFY(dialog_->m_ConnectionsTree.GetCheck(unit));
        QVERIFY(dialog_->m_ConnectionsTree.SetCheck(unit, false));
        QVERIFY(!dialog_->m_ConnectionsTree.GetCheck(unit));

        const HTREEITEM free = dialog_->m_AvailableTree.InsertItem("free");
        QVERIFY(!dialog_->m_AvailableTree.SetCheck(free, true));
        QVERIFY(!dialog_->m_AvailableTree.GetCheck(free));
        auto* widget = qobject_cast<QTreeWidget*>(dialog_->m_AvailableTree.widget());
        QVERIFY(!(widget->topLevelItem(0)->flags() & Qt::ItemIsUserCheckable));
        QVERIFY(!widget->topLevelItem(0)->data(0, Qt::CheckStateRole).isValid());  // none drawn
    }

    // A handle kept across DeleteAllItems names nothing, never a newer item.
    void staleHandlesNameNothing() {
        CTreeCtrl& tree = dialog_->m_ConnectionsTree;
        const HTREEITEM oldParent = tree.InsertItem("old");
        const HTREEITEM oldChild = tree.InsertItem("old child", oldParent);
        QVERIFY(tree.DeleteAllItems());
        const HTREEITEM fresh = tree.InsertItem("new");
        QVERIFY(fresh != oldParent && fresh != oldChild);

        for (const HTREEITEM stale : {oldParent, oldChild}) {
            QCOMPARE(tree.GetItemText(stale), std::string());
            QCOMPARE(tree.GetParentItem(stale), HTREEITEM{});
            QCOMPARE(tree.GetChildItem(stale), HTREEITEM{});
            QCOMPARE(tree.GetNextSiblingItem(stale), HTREEITEM{});
            QCOMPARE(tree.GetItemImage(stale), -1);
            QVERIFY(!tree.ItemHasChildren(stale));
            QVERIFY(!tree.SelectItem(stale));
            QVERIFY(!tree.SetCheck(stale, true));
            QVERIFY(!tree.Expand(stale));
            QCOMPARE(tree.InsertItem("orphan", stale), HTREEITEM{});
        }
        QCOMPARE(tree.GetCount(), 1);
        QCOMPARE(tree.GetSelectedItem(), HTREEITEM{});
        QVERIFY(!tree.GetCheck(fresh));

        // A handle of one tree names nothing in the other.
        QCOMPARE(dialog_->m_AvailableTree.GetItemText(fresh), std::string());
    }

    void comboBoxEntriesAndSelection() {
        CComboBox& combo = dialog_->m_AdapterCombo;
        combo.ResetContent();
        QCOMPARE(combo.AddString("first"), 0);
        QCOMPARE(combo.AddString("second"), 1);
        QCOMPARE(combo.GetCount(), 2);
        QCOMPARE(combo.GetCurSel(), -1);  // adding selects nothing
        QCOMPARE(combo.GetWindowText(), std::string());

        combo.SetCurSel(1);
        QCOMPARE(combo.GetCurSel(), 1);
        QCOMPARE(combo.GetWindowText(), std::string("second"));
        for (const int none : {-1, 2, 99}) {
            combo.SetCurSel(1);
            combo.SetCurSel(none);
            QCOMPARE(combo.GetCurSel(), -1);
            QCOMPARE(combo.GetWindowText(), std::string());
        }
        QCOMPARE(combo.GetLBText(0), std::string("first"));
        QCOMPARE(combo.GetLBText(2), std::string());
        QCOMPARE(combo.GetLBText(-1), std::string());

        // Typed text is the window text and adds no entry.
        auto* widget = qobject_cast<QComboBox*>(combo.widget());
        widget->lineEdit()->setText("typed");
        QTest::keyClick(widget->lineEdit(), Qt::Key_Return);
        QCOMPARE(combo.GetWindowText(), std::string("typed"));
        QCOMPARE(combo.GetCount(), 2);

        combo.SetCurSel(0);
        combo.ResetContent();
        QCOMPARE(combo.GetCount(), 0);
        QCOMPARE(combo.GetCurSel(), -1);
        QCOMPARE(combo.GetWindowText(), std::string());
    }

    void anyControlShowsAndEnables() {
        CWnd& button = dialog_->m_RefreshButton;
        button.ShowWindow(false);
        QVERIFY(!button.IsWindowVisible());
        button.ShowWindow(true);
        QVERIFY(button.IsWindowVisible());
        button.EnableWindow(false);
        QVERIFY(!button.IsWindowEnabled());
        button.EnableWindow(true);
        QVERIFY(button.IsWindowEnabled());
        QCOMPARE(dialog_->GetDlgItem(12345), nullptr);
        QVERIFY(dialog_->GetDlgItem(IDC_TOPOLOGY_LABEL) != nullptr);  // labels by id too
    }

    void editTextKeepsEveryByte() {
        const std::string bytes = AllBytes();
        dialog_->m_NameEdit.SetWindowText(bytes);
        QCOMPARE(dialog_->m_NameEdit.GetWindowText(), bytes);
        const std::string lines = bytes + "\r\n" + bytes + "\r\n";
        dialog_->m_LogPane.SetWindowText(lines);
        QCOMPARE(dialog_->m_LogPane.GetWindowText(), lines);
        dialog_->m_LogPane.SetWindowText("");
        dialog_->m_NameEdit.SetWindowText("");
    }

    // The same operations from a worker are carried out on the window thread while it waits.
    void callsFromAWorker() {
        CVX418Dlg* d = dialog_.get();
        const bool ok = OnWorker([d] {
            CTreeCtrl& tree = d->m_ConnectionsTree;
            const HTREEITEM parent = tree.InsertItem("tx", 1, 1);
            const HTREEITEM child = tree.InsertItem("rx", 0, 0, parent);
            tree.Expand(parent);
            tree.SelectItem(child);
            tree.SetCheck(child, true);
            d->m_TopologyCombo.ResetContent();
            d->m_TopologyCombo.AddString("Multicast");
            d->m_TopologyCombo.SetCurSel(0);
            d->m_IpEdit.SetWindowText("10.0.0.1");
            d->m_ChangeIpButton.EnableWindow(false);
            return tree.GetSelectedItem() == child && tree.GetParentItem(child) == parent &&
                   tree.GetItemText(child) == "rx" && tree.GetCheck(child) &&
                   d->m_TopologyCombo.GetWindowText() == "Multicast" &&
                   d->m_IpEdit.GetWindowText() == "10.0.0.1" &&
                   !d->m_ChangeIpButton.IsWindowEnabled();
        });
        QVERIFY(ok);
        auto* tree = qobject_cast<QTreeWidget*>(d->m_ConnectionsTree.widget());
        QCOMPARE(tree->currentItem()->text(0), QStringLiteral("rx"));
        d->m_ChangeIpButton.EnableWindow(true);
    }

    // Boxes from two workers at once: no owner, no modality, one OK each; the main window
    // stays usable and each worker gets its own answer.
    void messageBoxesBlockOnlyTheirWorkers() {
        std::vector<std::future<int>> answers;
        std::vector<std::thread> workers;
        for (const char* text : {"first box", "IP Format Error."}) {
            auto answer = std::make_shared<std::promise<int>>();
            answers.push_back(answer->get_future());
            workers.emplace_back([answer, text] {
                answer->set_value(MessageBoxA(nullptr, text, "Information", MB_OK));
            });
        }
        QTRY_COMPARE(OpenBoxes().size(), std::size_t{2});
        QStringList texts;
        for (QMessageBox* box : OpenBoxes()) {
            QCOMPARE(box->windowTitle(), QStringLiteral("Information"));
            QCOMPARE(box->buttons().size(), 1);
            QVERIFY(box->button(QMessageBox::Ok) != nullptr);
            QCOMPARE(box->parentWidget(), nullptr);
            QCOMPARE(box->windowModality(), Qt::NonModal);
            texts << box->text();
        }
        texts.sort();
        QCOMPARE(texts, (QStringList{"IP Format Error.", "first box"}));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);  // nothing blocks the main window
        for (const auto& answer : answers) {
            QVERIFY(answer.wait_for(std::chrono::milliseconds(0)) == std::future_status::timeout);
        }

        QTest::mouseClick(OpenBoxes().front()->button(QMessageBox::Ok), Qt::LeftButton);
        QTRY_COMPARE(OpenBoxes().size(), std::size_t{1});
        QTest::keyClick(OpenBoxes().front(), Qt::Key_Escape);  // Escape answers OK too
        QTRY_COMPARE(OpenBoxes().size(), std::size_t{0});
        for (auto& worker : workers) {
            worker.join();
        }
        for (auto& answer : answers) {
            QCOMPARE(answer.get(), IDOK_RESULT);
        }
    }
};

QTEST_MAIN(ControlsTest)
#include "controls_test.moc"
