#include "shell/about_dlg.h"

#include <QDialog>

#include "shell/qt/dialog_font.h"
#include "ui_about_dlg.h"

int CAboutDlg::DoModal(QDialog* parent) {
    QDialog box(parent);
    Ui::CAboutDlg ui;
    ui.setupUi(&box);
    box.setFont(DialogTemplateFont());
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    // Window-modal: it blocks the main window, not the message boxes of running workers.
    box.setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(ui.okButton, &QPushButton::clicked, &box, &QDialog::accept);
    return box.exec();
}
