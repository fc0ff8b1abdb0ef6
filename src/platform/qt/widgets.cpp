#include "platform/qt/widgets.h"

#include <QHeaderView>
#include <QMouseEvent>

void VxComboBox::showPopup() {
    emit dropDown();  // first, so the list opens with what the handler put in
    QComboBox::showPopup();
}

VxTreeWidget::VxTreeWidget(QWidget* parent) : QTreeWidget(parent) {
    // Labels end in the unit's MAC, so they are never cut: a long one widens the column and the
    // tree scrolls sideways, as a native tree view does.
    setTextElideMode(Qt::ElideNone);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
}

void VxTreeWidget::mouseReleaseEvent(QMouseEvent* event) {
    QTreeWidget::mouseReleaseEvent(event);  // selection and checkbox state settle first
    if (event->button() == Qt::LeftButton) {
        emit clicked();
    }
}

QItemSelectionModel::SelectionFlags VxTreeWidget::selectionCommand(const QModelIndex& index,
                                                                   const QEvent* event) const {
    const QItemSelectionModel::SelectionFlags command = QTreeWidget::selectionCommand(index, event);
    if (!index.isValid()) {
        return QItemSelectionModel::NoUpdate;
    }
    if (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle)) {
        return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    }
    return command;
}
