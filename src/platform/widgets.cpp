#include "platform/widgets.h"

#include <QMouseEvent>

void VxComboBox::showPopup() {
    emit dropDown();  // first, so the list opens with what the handler put in
    QComboBox::showPopup();
}

void VxTreeWidget::mouseReleaseEvent(QMouseEvent* event) {
    QTreeWidget::mouseReleaseEvent(event);  // selection and checkbox state settle first
    if (event->button() == Qt::LeftButton) {
        emit clicked();
    }
}
