#pragma once

#include <QComboBox>
#include <QTreeWidget>

// Qt widgets with the notifications the dialog's controls must raise that stock Qt lacks.

// A combo box that announces its list before the list opens, so a handler can refill it.
class VxComboBox : public QComboBox {
    Q_OBJECT
  public:
    using QComboBox::QComboBox;
    void showPopup() override;

  signals:
    void dropDown();
};

// A single-selection tree that reports every left click (on an item, on its checkbox, on the
// already selected item or on empty space), after the tree has handled it. It also knows whether
// its items carry checkboxes, which the .ui form sets per tree.
class VxTreeWidget : public QTreeWidget {
    Q_OBJECT
    Q_PROPERTY(bool checkBoxes READ checkBoxes WRITE setCheckBoxes)
  public:
    explicit VxTreeWidget(QWidget* parent = nullptr);
    bool checkBoxes() const { return checkBoxes_; }
    void setCheckBoxes(bool on) { checkBoxes_ = on; }

  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Once chosen, an item stays selected: a click on empty space keeps the selection and
    // Ctrl+click does not deselect, as in a Windows tree view.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;

  private:
    bool checkBoxes_ = false;
};
