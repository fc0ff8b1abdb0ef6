#include "app/cvx418_app.h"

#include <QApplication>
#include <QEventLoop>
#include <cstdio>
#include <string>

#include "app/command_dispatch.h"
#include "platform/instance_lock.h"
#include "platform/window_lookup.h"
#include "shell/cvx418_dlg.h"

namespace {

// The display this copy shows on: one copy per user and display.
std::string SessionKey() {
    const QString platform = QGuiApplication::platformName();
    const char* variable = platform == QStringLiteral("xcb")       ? "DISPLAY"
                           : platform == QStringLiteral("wayland") ? "WAYLAND_DISPLAY"
                                                                   : nullptr;
    const QByteArray display = variable != nullptr ? qgetenv(variable) : QByteArray();
    return (display.isEmpty() ? platform
                              : platform + QLatin1Char('-') + QString::fromLocal8Bit(display))
        .toStdString();
}

}  // namespace

CVX418App::CVX418App() = default;
CVX418App::~CVX418App() = default;

bool CVX418App::InitInstance() {
    lock_ = std::make_unique<InstanceLock>(InstanceLockPath("vx418", SessionKey()));
    if (lock_->state() == InstanceLock::State::HeldByOther) {
        return false;  // silently: the other copy is left as it is
    }
    if (lock_->state() == InstanceLock::State::Unavailable) {
        std::fprintf(stderr, "vx418: no single-instance lock (%s)\n", lock_->error().c_str());
    }
    // The title still counts where X11 can be asked: a copy under another account or an
    // older build on the same display holds no lock of ours.
    if (TopLevelWindowExists(kMainWindowTitle)) {
        return false;  // silently: the other window is left as it is
    }
    dialog_ = CreateMainDialog();
    // Shown without modality and run by a local loop, so message boxes opened by workers
    // (windows of their own) stay usable next to it.
    QEventLoop loop;
    QObject::connect(dialog_.get(), &QDialog::finished, &loop, &QEventLoop::quit);
    dialog_->show();
    loop.exec();
    // The dialog stays alive: detached workers may still hold it until the process ends.
    return true;
}
