#include "platform/message_box.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <future>
#include <memory>

namespace {

// A top-level box with no owner and no modality, so the main window and other boxes stay
// usable. It deletes itself when closed.
QMessageBox* OpenBox(const QString& text, const QString& caption) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    box->raise();
    return box;
}

}  // namespace

int MessageBoxA(void* /*owner: never one*/, const char* text, const char* caption,
                unsigned /*type: MB_OK is the only one used*/) {
    auto* app = QCoreApplication::instance();
    if (app == nullptr) {
        return IDOK_RESULT;
    }
    const QString body = QString::fromLatin1(text == nullptr ? "" : text);
    const QString title = QString::fromLatin1(caption == nullptr ? "" : caption);

    if (QThread::currentThread() == app->thread()) {
        // The window thread must keep handling messages while the box is up.
        QEventLoop loop;
        QMessageBox* box = OpenBox(body, title);
        QObject::connect(box, &QDialog::finished, &loop, &QEventLoop::quit);
        loop.exec();
        return IDOK_RESULT;
    }

    // A worker: the box lives on the window thread; only this thread waits for the answer.
    auto answer = std::make_shared<std::promise<int>>();
    std::future<int> result = answer->get_future();
    QMetaObject::invokeMethod(
        app,
        [answer, body, title] {
            QMessageBox* box = OpenBox(body, title);
            QObject::connect(box, &QDialog::finished, box, [answer] {
                try {
                    answer->set_value(IDOK_RESULT);
                } catch (const std::future_error&) {
                    // already answered
                }
            });
        },
        Qt::QueuedConnection);
    try {
        return result.get();
    } catch (const std::future_error&) {
        return IDOK_RESULT;  // the box went away with the application
    }
}
