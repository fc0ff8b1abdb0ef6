#include "app/cvx418_app.h"

#include <QApplication>
#include <QEventLoop>

#include "app/command_dispatch.h"
#include "app/cvx418_dlg.h"
#include "platform/window_lookup.h"

CVX418App::CVX418App() = default;
CVX418App::~CVX418App() = default;

bool CVX418App::InitInstance() {
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
