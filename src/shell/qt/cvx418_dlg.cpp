#include "shell/cvx418_dlg.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QMenu>
#include <QMetaObject>
#include <QThread>
#include <array>
#include <utility>

#include "platform/image_list.h"
#include "platform/qt/widgets.h"
#include "shell/about_dlg.h"
#include "shell/dialog_units.h"
#include "shell/shell_state.h"
#include "ui_cvx418_dlg.h"

// The images live in a static library, whose resource registration nothing else references.
static void InitShellResources() {
    Q_INIT_RESOURCE(vx418);
}

namespace {

constexpr int kDialogWidthDu = 521;
constexpr int kDialogHeightDu = 337;
constexpr int kTreeImageSize = 16;
constexpr const char* kControlIdProperty = "controlId";

}  // namespace

CVX418Dlg::CVX418Dlg(CommandHandler dispatch, QWidget* parent)
    : QDialog(parent), dispatch_(std::move(dispatch)), ui_(std::make_unique<Ui::CVX418Dlg>()) {
    InitShellResources();
    appIcon_ = QIcon(QStringLiteral(":/icons/app.png"));
    m_hIcon = &appIcon_;
    ui_->setupUi(this);

    setFont(DialogTemplateFont());
    // A fixed frame with a caption and close box only: no minimise, maximise or help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(DialogUnitsToPixelsX(kDialogWidthDu), DialogUnitsToPixelsY(kDialogHeightDu));
    // The main window must stay usable while message boxes of workers are open.
    setModal(false);

    BindControls();
    ConnectCommands();
    StyleGroupBoxes();
}

void CVX418Dlg::StyleGroupBoxes() {
    // As the template means them: the caption sits on the frame's top line, so the frame spans
    // the template rectangle less half a text line. Set per box: a style sheet on the dialog
    // would also restyle (and re-font) every other control.
    const QString style = QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 6px; padding: 0 2px; }");
    for (QGroupBox* box : findChildren<QGroupBox*>()) {
        box->setStyleSheet(style);
    }
}

CVX418Dlg::~CVX418Dlg() {
    // Nothing may reach a dialog that is gone (matters where dialogs are made more than once).
    CVX418Dlg* self = this;
    MainDialog.compare_exchange_strong(self, nullptr);
}

void CVX418Dlg::BindControls() {
    for (const auto& [id, member] : MemberControls()) {
        controls_.emplace(id, member);
    }
    for (QWidget* child : findChildren<QWidget*>()) {
        const QVariant id = child->property(kControlIdProperty);
        if (!id.isValid()) {
            continue;
        }
        auto found = controls_.find(id.toInt());
        if (found == controls_.end()) {
            // Labels and the standard buttons have no member but are reachable by id.
            unnamed_.push_back(std::make_unique<CWnd>());
            found = controls_.emplace(id.toInt(), unnamed_.back().get()).first;
        }
        found->second->Attach(child);
    }
}

void CVX418Dlg::Raise(int command) {
    if (dispatch_) {
        dispatch_(command);
    }
}

void CVX418Dlg::ConnectCommands() {
    for (const auto& [id, command] : kButtonCommands) {
        if (auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id)->widget())) {
            connect(button, &QAbstractButton::clicked, this, [this, c = command] { Raise(c); });
        }
    }
    for (const auto& [id, command] : kPickerCommands) {
        if (auto* picker = qobject_cast<VxComboBox*>(GetDlgItem(id)->widget())) {
            connect(picker, &VxComboBox::dropDown, this, [this, c = command] { Raise(c); });
        }
    }
    for (const auto& [id, command] : kTreeCommands) {
        if (auto* tree = qobject_cast<VxTreeWidget*>(GetDlgItem(id)->widget())) {
            connect(tree, &QTreeWidget::itemSelectionChanged, this,
                    [this, c = command] { Raise(c); });
            connect(tree, &VxTreeWidget::clicked, this, [this, c = command] { Raise(c); });
        }
    }
    // The hidden standard buttons end the dialog as their ids say (neither can be pressed).
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

CWnd* CVX418Dlg::GetDlgItem(int id) {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

bool CVX418Dlg::OnInitDialog() {
    m_pImageList = std::make_unique<CImageList>(kTreeImageSize, kTreeImageSize);
    m_pImageList->Add(QIcon(QStringLiteral(":/icons/ball_red.png")));    // image 0 (icon 129)
    m_pImageList->Add(QIcon(QStringLiteral(":/icons/ball_green.png")));  // image 1 (icon 130)
    m_ConnectionsTree.SetImageList(m_pImageList.get());

    setWindowIcon(appIcon_);
    Raise(0);
    return true;
}

void CVX418Dlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(tr("&Close"), this, &QDialog::reject);
    menu.addSeparator();
    menu.addAction(QString::fromLatin1(kAboutMenuText), this, [this] {
        CAboutDlg about(this);
        about.exec();
    });
    menu.exec(event->globalPos());
}

void CVX418Dlg::AppendLogText(std::string text) {
    if (QThread::currentThread() == thread()) {
        std::string batch;
        {
            const std::lock_guard lock(logMutex_);
            batch.swap(pendingLog_);  // lines queued earlier go first
        }
        batch += text;
        m_LogPane.AppendText(batch);
        m_LogPane.PostScrollToBottom();
        return;
    }
    bool post = false;
    {
        const std::lock_guard lock(logMutex_);
        pendingLog_ += text;
        post = !std::exchange(drainPosted_, true);
    }
    if (post) {
        QMetaObject::invokeMethod(
            this, [this] { DrainLog(); }, Qt::QueuedConnection);
    }
}

void CVX418Dlg::DrainLog() {
    std::string batch;
    {
        const std::lock_guard lock(logMutex_);
        batch.swap(pendingLog_);
        drainPosted_ = false;
    }
    if (!batch.empty()) {
        m_LogPane.AppendText(batch);
        m_LogPane.PostScrollToBottom();
    }
}
