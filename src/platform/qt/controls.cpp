#include "platform/controls.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <type_traits>
#include <utility>

#include "platform/image_list.h"
#include "platform/qt/widgets.h"

namespace {

// Runs fn on the thread that owns the widget and returns its result. From that thread it runs
// directly; from any other the caller waits until the window thread has run it. If the widget
// goes away before its turn, Qt drops the call and releases the caller with the empty value.
template <typename Fn>
auto OnWindowThread(QWidget* widget, Fn&& fn) -> std::invoke_result_t<Fn> {
    using Result = std::invoke_result_t<Fn>;
    if constexpr (std::is_void_v<Result>) {
        if (widget == nullptr) {
            return;
        }
        if (QThread::currentThread() == widget->thread()) {
            fn();
            return;
        }
        QMetaObject::invokeMethod(widget, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
    } else {
        if (widget == nullptr) {
            return Result{};
        }
        if (QThread::currentThread() == widget->thread()) {
            return fn();
        }
        Result result{};
        QMetaObject::invokeMethod(widget, std::forward<Fn>(fn), Qt::BlockingQueuedConnection,
                                  &result);
        return result;
    }
}

// Texts are byte strings; Latin-1 maps every byte to one character and back.
QString FromBytes(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToBytes(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

// The multi-line edit keeps paragraphs; its window text uses CR LF between lines.
QString ToDocumentText(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::string FromDocument(const QPlainTextEdit* edit) {
    // toRawText keeps every character (toPlainText would turn a no-break space into a blank).
    QString text = edit->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return ToBytes(text);
}

// Handles of all trees come from one counter, so a handle never names an item of another tree
// or an item inserted after its own was deleted.
std::uint64_t NextItemId() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

constexpr int kIdRole = Qt::UserRole + 1;
constexpr int kImageRole = Qt::UserRole + 2;
constexpr int kSelectedImageRole = Qt::UserRole + 3;

}  // namespace

// ---- any control ----

void CWnd::ShowWindow(bool show) {
    OnWindowThread(widget_, [w = widget_, show] { w->setVisible(show); });
}

void CWnd::EnableWindow(bool enable) {
    OnWindowThread(widget_, [w = widget_, enable] { w->setEnabled(enable); });
}

bool CWnd::IsWindowVisible() const {
    return OnWindowThread(widget_, [w = widget_] { return !w->isHidden(); });
}

bool CWnd::IsWindowEnabled() const {
    return OnWindowThread(widget_, [w = widget_] { return w->isEnabled(); });
}

// ---- edit ----

std::string CEdit::GetWindowText() const {
    return OnWindowThread(widget(), [w = widget()]() -> std::string {
        if (const auto* line = qobject_cast<const QLineEdit*>(w)) {
            return ToBytes(line->text());
        }
        if (const auto* multi = qobject_cast<const QPlainTextEdit*>(w)) {
            return FromDocument(multi);
        }
        return {};
    });
}

void CEdit::SetWindowText(const std::string& text) {
    OnWindowThread(widget(), [w = widget(), value = FromBytes(text)] {
        if (auto* line = qobject_cast<QLineEdit*>(w)) {
            line->setText(value);
        } else if (auto* multi = qobject_cast<QPlainTextEdit*>(w)) {
            multi->setPlainText(ToDocumentText(value));
        }
    });
}

void CEdit::AppendText(const std::string& text) {
    OnWindowThread(widget(), [w = widget(), value = FromBytes(text)] {
        if (auto* line = qobject_cast<QLineEdit*>(w)) {
            line->setText(line->text() + value);
        } else if (auto* multi = qobject_cast<QPlainTextEdit*>(w)) {
            // Insert at the document's end: the cost does not depend on what is already there,
            // and the user's caret and typed text stay where they are.
            QTextCursor cursor(multi->document());
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(ToDocumentText(value));
        }
    });
}

void CEdit::PostScrollToBottom() {
    QWidget* const w = widget();
    if (w == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(
        w,
        [w] {
            if (auto* area = qobject_cast<QAbstractScrollArea*>(w)) {
                QScrollBar* bar = area->verticalScrollBar();
                bar->setValue(bar->maximum());
            }
        },
        Qt::QueuedConnection);
}

// ---- combo box ----

namespace {
QComboBox* Combo(QWidget* w) {
    return qobject_cast<QComboBox*>(w);
}

// Dynamic properties on the combo box: they live and die with the widget.
constexpr char kTypedProperty[] = "vxTypedOver";
// Set while Enter or a focus change is handled: Qt then selects the entry whose text was typed
// and reports it as activated, which is not a pick from the list.
constexpr char kNotPickedProperty[] = "vxNotPicked";

bool IsTypedOver(const QComboBox* c) {
    return c->property(kTypedProperty).toBool();
}
void SetTypedOver(QComboBox* c, bool typed) {
    c->setProperty(kTypedProperty, typed);
}

// Marks an Enter in the edit field, or the box losing the focus, for the activation it may
// cause, and drops the mark once the event has been handled.
class TypedTextWatcher final : public QObject {
  public:
    explicit TypedTextWatcher(QComboBox* combo) : QObject(combo), combo_(combo) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        bool notPicked = event->type() == QEvent::FocusOut;
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            notPicked = key == Qt::Key_Return || key == Qt::Key_Enter;
        }
        if (notPicked) {
            combo_->setProperty(kNotPickedProperty, true);
            QTimer::singleShot(0, combo_,
                               [c = combo_] { c->setProperty(kNotPickedProperty, false); });
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    QComboBox* combo_;
};
}  // namespace

void CComboBox::Attach(QWidget* widget) {
    CWnd::Attach(widget);
    QComboBox* c = Combo(widget);
    if (c == nullptr || c->lineEdit() == nullptr) {
        return;
    }
    c->setInsertPolicy(QComboBox::NoInsert);
    // No inline completion: a typed prefix must not grow into an entry's full text.
    c->setCompleter(nullptr);
    QObject::connect(c->lineEdit(), &QLineEdit::textEdited, c, [c] { SetTypedOver(c, true); });
    QObject::connect(c, &QComboBox::activated, c, [c] {
        if (!c->property(kNotPickedProperty).toBool()) {
            SetTypedOver(c, false);  // picked from the list
        }
    });
    // The box forwards its focus loss to the edit field directly, past the field's filters.
    auto* watcher = new TypedTextWatcher(c);
    c->lineEdit()->installEventFilter(watcher);
    c->installEventFilter(watcher);
}

void CComboBox::ResetContent() {
    OnWindowThread(widget(), [c = Combo(widget())] {
        if (c == nullptr) {
            return;
        }
        c->clear();
        SetTypedOver(c, false);
        if (c->isEditable()) {
            c->clearEditText();
        }
    });
}

int CComboBox::AddString(const std::string& text) {
    return OnWindowThread(widget(), [c = Combo(widget()), value = FromBytes(text)] {
        if (c == nullptr) {
            return -1;
        }
        const int before = c->currentIndex();
        c->addItem(value);
        // Qt selects the first entry of an empty box; an added entry must not change the
        // selection.
        if (before == -1 && c->currentIndex() != -1) {
            c->setCurrentIndex(-1);
        }
        return c->count() - 1;
    });
}

void CComboBox::SetCurSel(int index) {
    OnWindowThread(widget(), [c = Combo(widget()), index] {
        if (c == nullptr) {
            return;
        }
        SetTypedOver(c, false);
        if (index >= 0 && index < c->count()) {
            c->setCurrentIndex(index);
            // Show a long label from its start (name and kind), as a native combo box does.
            if (c->lineEdit() != nullptr) {
                c->lineEdit()->setCursorPosition(0);
            }
            return;
        }
        c->setCurrentIndex(-1);
        if (c->isEditable()) {
            c->clearEditText();
        }
    });
}

int CComboBox::GetCurSel() const {
    return OnWindowThread(widget(), [c = Combo(widget())] {
        return c == nullptr || IsTypedOver(c) ? -1 : c->currentIndex();
    });
}

int CComboBox::GetCount() const {
    return OnWindowThread(widget(),
                          [c = Combo(widget())] { return c == nullptr ? 0 : c->count(); });
}

std::string CComboBox::GetLBText(int index) const {
    return OnWindowThread(widget(), [c = Combo(widget()), index]() -> std::string {
        if (c == nullptr || index < 0 || index >= c->count()) {
            return {};
        }
        return ToBytes(c->itemText(index));
    });
}

std::string CComboBox::GetWindowText() const {
    return OnWindowThread(widget(), [c = Combo(widget())]() -> std::string {
        return c == nullptr ? std::string{} : ToBytes(c->currentText());
    });
}

// ---- tree ----

namespace {
QTreeWidget* Tree(QWidget* w) {
    return qobject_cast<QTreeWidget*>(w);
}

bool HasCheckBoxes(QWidget* w) {
    const auto* tree = qobject_cast<VxTreeWidget*>(w);
    return tree != nullptr && tree->checkBoxes();
}
}  // namespace

CTreeCtrl::~CTreeCtrl() = default;

QTreeWidgetItem* CTreeCtrl::Find(HTREEITEM item) const {
    const auto it = items_.find(item.id);
    return it == items_.end() ? nullptr : it->second;
}

HTREEITEM CTreeCtrl::HandleOf(const QTreeWidgetItem* item) const {
    if (item == nullptr) {
        return {};
    }
    return HTREEITEM{item->data(0, kIdRole).toULongLong()};
}

void CTreeCtrl::ApplyImage(QTreeWidgetItem* item) const {
    if (images_ == nullptr || !item->data(0, kImageRole).isValid()) {
        item->setIcon(0, QIcon());
        return;
    }
    const QIcon normal = images_->GetIcon(item->data(0, kImageRole).toInt());
    const QIcon selected = images_->GetIcon(item->data(0, kSelectedImageRole).toInt());
    QIcon icon;
    const QSize size = images_->GetImageSize();
    if (!normal.isNull()) {
        icon.addPixmap(normal.pixmap(size), QIcon::Normal);
    }
    if (!selected.isNull()) {
        icon.addPixmap(selected.pixmap(size), QIcon::Selected);
    }
    item->setIcon(0, icon);
}

HTREEITEM CTreeCtrl::Insert(const std::string& text, int image, int selectedImage,
                            HTREEITEM parent) {
    auto* tree = Tree(widget());
    if (tree == nullptr) {
        return {};
    }
    QTreeWidgetItem* parentItem = nullptr;
    if (parent != TVI_ROOT) {
        parentItem = Find(parent);
        if (parentItem == nullptr) {
            return {};  // a stale parent names nothing; never fall back to another item
        }
    }
    auto* item = new QTreeWidgetItem(QStringList{FromBytes(text)});
    const HTREEITEM handle{NextItemId()};
    item->setData(0, kIdRole, QVariant::fromValue<qulonglong>(handle.id));
    if (image >= 0) {
        item->setData(0, kImageRole, image);
        item->setData(0, kSelectedImageRole, selectedImage);
    }
    if (HasCheckBoxes(tree)) {
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    } else {
        item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
    }
    ApplyImage(item);
    if (parentItem != nullptr) {
        parentItem->addChild(item);  // the tree owns the item from here
    } else {
        tree->addTopLevelItem(item);
    }
    items_.emplace(handle.id, item);
    return handle;
}

bool CTreeCtrl::DeleteAllItems() {
    return OnWindowThread(widget(), [this] {
        auto* tree = Tree(widget());
        if (tree == nullptr) {
            return false;
        }
        // Emptying the tree is not a user's selection: it raises no notification.
        const QSignalBlocker quiet(tree);
        tree->clear();
        items_.clear();
        tree->viewport()->update();
        return true;
    });
}

HTREEITEM CTreeCtrl::InsertItem(const std::string& text, int image, int selectedImage,
                                HTREEITEM parent) {
    return OnWindowThread(widget(), [this, &text, image, selectedImage, parent] {
        return Insert(text, image, selectedImage, parent);
    });
}

HTREEITEM CTreeCtrl::InsertItem(const std::string& text, HTREEITEM parent) {
    return OnWindowThread(widget(), [this, &text, parent] { return Insert(text, -1, -1, parent); });
}

bool CTreeCtrl::ItemHasChildren(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const QTreeWidgetItem* found = Find(item);
        return found != nullptr && found->childCount() > 0;
    });
}

bool CTreeCtrl::Expand(HTREEITEM item) {
    return OnWindowThread(widget(), [this, item] {
        QTreeWidgetItem* found = Find(item);
        if (found == nullptr) {
            return false;
        }
        found->setExpanded(true);
        return true;
    });
}

bool CTreeCtrl::IsExpanded(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const QTreeWidgetItem* found = Find(item);
        return found != nullptr && found->isExpanded();
    });
}

HTREEITEM CTreeCtrl::GetRootItem() const {
    return OnWindowThread(widget(), [this] {
        const auto* tree = Tree(widget());
        return tree == nullptr ? HTREEITEM{} : HandleOf(tree->topLevelItem(0));
    });
}

HTREEITEM CTreeCtrl::GetChildItem(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        if (item == TVI_ROOT) {
            const auto* tree = Tree(widget());
            return tree == nullptr ? HTREEITEM{} : HandleOf(tree->topLevelItem(0));
        }
        const QTreeWidgetItem* found = Find(item);
        return found == nullptr ? HTREEITEM{} : HandleOf(found->child(0));
    });
}

HTREEITEM CTreeCtrl::GetNextSiblingItem(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        QTreeWidgetItem* found = Find(item);
        if (found == nullptr) {
            return HTREEITEM{};
        }
        if (QTreeWidgetItem* parent = found->parent()) {
            return HandleOf(parent->child(parent->indexOfChild(found) + 1));
        }
        const auto* tree = Tree(widget());
        return HandleOf(tree->topLevelItem(tree->indexOfTopLevelItem(found) + 1));
    });
}

HTREEITEM CTreeCtrl::GetSelectedItem() const {
    return OnWindowThread(widget(), [this] {
        const auto* tree = Tree(widget());
        if (tree == nullptr) {
            return HTREEITEM{};
        }
        const QList<QTreeWidgetItem*> selected = tree->selectedItems();
        return selected.isEmpty() ? HTREEITEM{} : HandleOf(selected.first());
    });
}

HTREEITEM CTreeCtrl::GetParentItem(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const QTreeWidgetItem* found = Find(item);
        return found == nullptr ? HTREEITEM{} : HandleOf(found->parent());
    });
}

std::string CTreeCtrl::GetItemText(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item]() -> std::string {
        const QTreeWidgetItem* found = Find(item);
        return found == nullptr ? std::string{} : ToBytes(found->text(0));
    });
}

int CTreeCtrl::GetItemImage(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const QTreeWidgetItem* found = Find(item);
        if (found == nullptr || !found->data(0, kImageRole).isValid()) {
            return -1;
        }
        return found->data(0, kImageRole).toInt();
    });
}

bool CTreeCtrl::SelectItem(HTREEITEM item) {
    return OnWindowThread(widget(), [this, item] {
        auto* tree = Tree(widget());
        if (tree == nullptr) {
            return false;
        }
        if (!item) {
            tree->clearSelection();
            tree->setCurrentItem(nullptr);
            return true;
        }
        QTreeWidgetItem* found = Find(item);
        if (found == nullptr) {
            return false;
        }
        tree->setCurrentItem(found);
        return true;
    });
}

bool CTreeCtrl::GetCheck(HTREEITEM item) const {
    return OnWindowThread(widget(), [this, item] {
        const QTreeWidgetItem* found = Find(item);
        return found != nullptr && HasCheckBoxes(widget()) && found->checkState(0) == Qt::Checked;
    });
}

bool CTreeCtrl::SetCheck(HTREEITEM item, bool checked) {
    return OnWindowThread(widget(), [this, item, checked] {
        QTreeWidgetItem* found = Find(item);
        if (found == nullptr || !HasCheckBoxes(widget())) {
            return false;
        }
        found->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
        return true;
    });
}

void CTreeCtrl::SetImageList(CImageList* images) {
    OnWindowThread(widget(), [this, images] {
        images_ = images;
        if (auto* tree = Tree(widget()); tree != nullptr && images != nullptr) {
            tree->setIconSize(images->GetImageSize());
        }
        for (const auto& entry : items_) {
            ApplyImage(entry.second);
        }
    });
}

int CTreeCtrl::GetCount() const {
    return OnWindowThread(widget(), [this] { return static_cast<int>(items_.size()); });
}
