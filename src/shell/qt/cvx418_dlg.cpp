// The Qt half of the main dialog: the form of template 102 (res/qt/cvx418_dlg.ui) on a QDialog,
// its notifications turned into commands, and the background menu in place of the window menu.

#include "shell/cvx418_dlg.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QDialog>
#include <QEventLoop>
#include <QGroupBox>
#include <QIcon>
#include <QMenu>
#include <QMetaObject>
#include <QThread>

#include "platform/qt/widgets.h"
#include "shell/about_dlg.h"
#include "shell/dialog_units.h"
#include "shell/qt/dialog_font.h"
#include "ui_cvx418_dlg.h"

// The images live in a static library, whose resource registration nothing else references.
static void InitShellResources() {
    Q_INIT_RESOURCE(vx418);
}

namespace {

constexpr int kDialogWidthDu = 521;
constexpr int kDialogHeightDu = 337;
constexpr const char* kControlIdProperty = "controlId";

}  // namespace

struct CVX418Dlg::Window : QDialog {
    explicit Window(CVX418Dlg& dialog) : owner(dialog) {
        InitShellResources();
        appIcon = QIcon(QStringLiteral(":/icons/app.png"));
        ui.setupUi(this);

        setFont(DialogTemplateFont());
        // A fixed frame with a caption and close box only: no minimise, maximise or help button.
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
        setFixedSize(DialogUnitsToPixelsX(kDialogWidthDu), DialogUnitsToPixelsY(kDialogHeightDu));
        // The main window must stay usable while message boxes of workers are open.
        setModal(false);

        std::vector<std::pair<int, NativeControl>> children;
        for (QWidget* child : findChildren<QWidget*>()) {
            const QVariant id = child->property(kControlIdProperty);
            if (id.isValid()) {
                children.emplace_back(id.toInt(), child);
            }
        }
        owner.BindControls(children);
        ConnectCommands();
        StyleGroupBoxes();
    }

    void ConnectCommands() {
        for (const auto& [id, command] : kButtonCommands) {
            if (auto* button = qobject_cast<QAbstractButton*>(owner.GetDlgItem(id)->widget())) {
                connect(button, &QAbstractButton::clicked, this,
                        [this, c = command] { owner.Raise(c); });
            }
        }
        for (const auto& [id, command] : kPickerCommands) {
            if (auto* picker = qobject_cast<VxComboBox*>(owner.GetDlgItem(id)->widget())) {
                connect(picker, &VxComboBox::dropDown, this,
                        [this, c = command] { owner.Raise(c); });
            }
        }
        for (const auto& [id, command] : kTreeCommands) {
            if (auto* tree = qobject_cast<VxTreeWidget*>(owner.GetDlgItem(id)->widget())) {
                connect(tree, &QTreeWidget::itemSelectionChanged, this,
                        [this, c = command] { owner.Raise(c); });
                connect(tree, &VxTreeWidget::clicked, this,
                        [this, c = command] { owner.Raise(c); });
            }
        }
        // The hidden standard buttons end the dialog as their ids say (neither can be pressed).
        connect(ui.okButton, &QPushButton::clicked, this, &QDialog::accept);
        connect(ui.cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    }

    void StyleGroupBoxes() {
        // As the template means them: the caption sits on the frame's top line, so the frame
        // spans the template rectangle less half a text line. Set per box: a style sheet on the
        // dialog would also restyle (and re-font) every other control.
        const QString style = QStringLiteral(
            "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
            " left: 6px; padding: 0 2px; }");
        for (QGroupBox* box : findChildren<QGroupBox*>()) {
            box->setStyleSheet(style);
        }
    }

    // The background menu stands in for the window menu, which Qt cannot extend here.
    void contextMenuEvent(QContextMenuEvent* event) override {
        QMenu menu(this);
        menu.addAction(tr("&Close"), this, &QDialog::reject);
        menu.addSeparator();
        menu.addAction(QString::fromLatin1(kAboutMenuText), this, [this] {
            CAboutDlg about;
            about.DoModal(this);
        });
        menu.exec(event->globalPos());
    }

    CVX418Dlg& owner;
    Ui::CVX418Dlg ui;
    QIcon appIcon;
};

void CVX418Dlg::WindowDeleter::operator()(Window* window) const {
    delete window;
}

CVX418Dlg::CVX418Dlg(CommandHandler dispatch)
    : dispatch_(std::move(dispatch)), window_(new Window(*this)) {}

void CVX418Dlg::InitWindow() {
    m_pImageList->Add(QIcon(QStringLiteral(":/icons/ball_red.png")));    // image 0 (icon 129)
    m_pImageList->Add(QIcon(QStringLiteral(":/icons/ball_green.png")));  // image 1 (icon 130)
    window_->setWindowIcon(window_->appIcon);
}

bool CVX418Dlg::OnWindowThread() const {
    return QThread::currentThread() == window_->thread();
}

bool CVX418Dlg::PostDrainLog() {
    return QMetaObject::invokeMethod(
        window_.get(), [this] { DrainLog(); }, Qt::QueuedConnection);
}

int CVX418Dlg::DoModal() {
    // Shown without modality and run by a local loop, so message boxes opened by workers
    // (windows of their own) stay usable next to it.
    QEventLoop loop;
    QObject::connect(window_.get(), &QDialog::finished, &loop, &QEventLoop::quit);
    window_->show();
    loop.exec();
    return window_->result();
}

void CVX418Dlg::EndDialog(int result) {
    window_->done(result);
}

NativeDialog CVX418Dlg::GetSafeHwnd() const {
    return window_.get();
}
