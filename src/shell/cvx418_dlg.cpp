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
#include "platform/widgets.h"
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

// The command each button raises when clicked.
constexpr std::array<std::pair<int, int>, 9> kButtonCommands{{
    {IDC_REFRESH, 1},
    {IDC_DELETE_RECEIVER, 2},
    {IDC_CHANGE_NAME, 3},
    {IDC_CHANGE_IP, 4},
    {IDC_ADD_CONNECT, 5},
    {IDC_ADD_BACKUP1, 6},
    {IDC_ADD_BACKUP2, 7},
    {IDC_CHANGE_TOPOLOGY, 8},
    {IDC_SET_ADAPTER, 9},
}};

// The command each picker raises just before its list opens.
constexpr std::array<std::pair<int, int>, 3> kPickerCommands{{
    {IDC_CONNECT_PICKER, 11},
    {IDC_BACKUP1_PICKER, 12},
    {IDC_BACKUP2_PICKER, 13},
}};

// The command each tree raises on a selection change and on every click.
constexpr std::array<std::pair<int, int>, 2> kTreeCommands{{
    {IDC_CONNECTIONS_TREE, 10},
    {IDC_AVAILABLE_TREE, 14},
}};

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
    const std::array<std::pair<int, CWnd*>, 19> members{{
        {IDC_BACKUP1_PICKER, &m_Backup1Picker},
        {IDC_BACKUP2_PICKER, &m_Backup2Picker},
        {IDC_ADD_BACKUP1, &m_AddBackup1Button},
        {IDC_ADD_BACKUP2, &m_AddBackup2Button},
        {IDC_LOG_PANE, &m_LogPane},
        {IDC_REFRESH, &m_RefreshButton},
        {IDC_DELETE_RECEIVER, &m_DeleteReceiverButton},
        {IDC_CHANGE_NAME, &m_ChangeNameButton},
        {IDC_CHANGE_IP, &m_ChangeIpButton},
        {IDC_CHANGE_TOPOLOGY, &m_ChangeTopologyButton},
        {IDC_ADD_CONNECT, &m_AddConnectButton},
        {IDC_CONNECT_PICKER, &m_ConnectPicker},
        {IDC_CONNECTIONS_TREE, &m_ConnectionsTree},
        {IDC_AVAILABLE_TREE, &m_AvailableTree},
        {IDC_NAME_EDIT, &m_NameEdit},
        {IDC_IP_EDIT, &m_IpEdit},
        {IDC_MAC_EDIT, &m_MacEdit},
        {IDC_TOPOLOGY_COMBO, &m_TopologyCombo},
        {IDC_ADAPTER_COMBO, &m_AdapterCombo},
    }};
    for (const auto& [id, member] : members) {
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
