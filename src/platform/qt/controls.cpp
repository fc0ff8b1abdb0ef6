// The control wrappers' native calls on Qt Widgets (platform/native_controls.h), and the tree
// image list as a list of icons.

#include <QAbstractButton>
#include <QComboBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSize>
#include <QTextCursor>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <vector>

#include "platform/image_list.h"
#include "platform/native_controls.h"
#include "platform/qt/widgets.h"

struct CImageList::Native {
    QSize size;
    std::vector<QIcon> images;

    // A null icon for a position without an image.
    QIcon Icon(int index) const {
        if (index < 0 || index >= static_cast<int>(images.size())) {
            return {};
        }
        return images[static_cast<std::size_t>(index)];
    }
};

CImageList::CImageList(int width, int height)
    : native_(std::make_unique<Native>(Native{QSize(width, height), {}})) {}

CImageList::~CImageList() = default;

int CImageList::Add(const QIcon& icon) {
    native_->images.push_back(icon);
    return GetImageCount() - 1;
}

int CImageList::GetImageCount() const {
    return static_cast<int>(native_->images.size());
}

namespace {

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

QComboBox* Combo(QWidget* w) {
    return qobject_cast<QComboBox*>(w);
}

QTreeWidget* Tree(QWidget* w) {
    return qobject_cast<QTreeWidget*>(w);
}

QTreeWidgetItem* ItemOf(void* item) {
    return static_cast<QTreeWidgetItem*>(item);
}

bool HasCheckBoxes(QWidget* w) {
    const auto* tree = qobject_cast<VxTreeWidget*>(w);
    return tree != nullptr && tree->checkBoxes();
}

// A dynamic property on the combo box, living and dying with the widget: set while Enter or a
// focus change is handled, when Qt selects the entry whose text was typed and reports it as
// activated, which is not a pick from the list.
constexpr char kNotPickedProperty[] = "vxNotPicked";

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

namespace toolkit {

void RunOnWindowThread(QWidget* widget, const std::function<void()>& fn) {
    if (widget == nullptr) {
        return;
    }
    if (QThread::currentThread() == widget->thread()) {
        fn();
        return;
    }
    // If the widget goes away before its turn, Qt drops the call and releases the caller.
    QMetaObject::invokeMethod(widget, fn, Qt::BlockingQueuedConnection);
}

// ---- any control ----

void PrepareControl(QWidget* /*control: every widget takes queued calls*/) {}

void ShowControl(QWidget* control, bool show) {
    control->setVisible(show);
}

void EnableControl(QWidget* control, bool enable) {
    control->setEnabled(enable);
}

bool ControlVisible(QWidget* control) {
    return !control->isHidden();
}

bool ControlEnabled(QWidget* control) {
    return control->isEnabled();
}

// ---- edit ----

std::string ControlText(QWidget* control) {
    if (const auto* line = qobject_cast<const QLineEdit*>(control)) {
        return ToBytes(line->text());
    }
    if (const auto* multi = qobject_cast<const QPlainTextEdit*>(control)) {
        return FromDocument(multi);
    }
    if (const auto* combo = qobject_cast<const QComboBox*>(control)) {
        return ToBytes(combo->currentText());
    }
    return {};
}

void SetControlText(QWidget* control, const std::string& text) {
    const QString value = FromBytes(text);
    if (auto* line = qobject_cast<QLineEdit*>(control)) {
        line->setText(value);
    } else if (auto* multi = qobject_cast<QPlainTextEdit*>(control)) {
        multi->setPlainText(ToDocumentText(value));
    }
}

void AppendControlText(QWidget* control, const std::string& text) {
    const QString value = FromBytes(text);
    if (auto* line = qobject_cast<QLineEdit*>(control)) {
        line->setText(line->text() + value);
    } else if (auto* multi = qobject_cast<QPlainTextEdit*>(control)) {
        // Insert at the document's end: the cost does not depend on what is already there,
        // and the user's caret and typed text stay where they are.
        QTextCursor cursor(multi->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(ToDocumentText(value));
    }
}

void PostScrollToBottom(QWidget* control) {
    QMetaObject::invokeMethod(
        control,
        [control] {
            if (auto* area = qobject_cast<QAbstractScrollArea*>(control)) {
                QScrollBar* bar = area->verticalScrollBar();
                bar->setValue(bar->maximum());
            }
        },
        Qt::QueuedConnection);
}

// ---- combo box ----

void AttachComboBox(QWidget* combo, bool& typedOver) {
    QComboBox* c = Combo(combo);
    if (c == nullptr || c->lineEdit() == nullptr) {
        return;
    }
    c->setInsertPolicy(QComboBox::NoInsert);
    // No inline completion: a typed prefix must not grow into an entry's full text.
    c->setCompleter(nullptr);
    // The wrapper outlives its widget: the dialog's controls go before their wrappers.
    QObject::connect(c->lineEdit(), &QLineEdit::textEdited, c, [&typedOver] { typedOver = true; });
    QObject::connect(c, &QComboBox::activated, c, [c, &typedOver] {
        if (!c->property(kNotPickedProperty).toBool()) {
            typedOver = false;  // picked from the list
        }
    });
    // The box forwards its focus loss to the edit field directly, past the field's filters.
    auto* watcher = new TypedTextWatcher(c);
    c->lineEdit()->installEventFilter(watcher);
    c->installEventFilter(watcher);
}

void ClearComboBox(QWidget* combo) {
    if (QComboBox* c = Combo(combo)) {
        c->clear();
        if (c->isEditable()) {
            c->clearEditText();
        }
    }
}

int AddComboEntry(QWidget* combo, const std::string& text) {
    QComboBox* c = Combo(combo);
    if (c == nullptr) {
        return -1;
    }
    const int before = c->currentIndex();
    c->addItem(FromBytes(text));
    // Qt selects the first entry of an empty box; an added entry must not change the selection.
    if (before == -1 && c->currentIndex() != -1) {
        c->setCurrentIndex(-1);
    }
    return c->count() - 1;
}

int ComboEntryCount(QWidget* combo) {
    const QComboBox* c = Combo(combo);
    return c == nullptr ? 0 : c->count();
}

std::string ComboEntryText(QWidget* combo, int index) {
    const QComboBox* c = Combo(combo);
    return c == nullptr ? std::string{} : ToBytes(c->itemText(index));
}

int ComboSelection(QWidget* combo) {
    const QComboBox* c = Combo(combo);
    return c == nullptr ? -1 : c->currentIndex();
}

void SelectComboEntry(QWidget* combo, int index) {
    QComboBox* c = Combo(combo);
    if (c == nullptr) {
        return;
    }
    c->setCurrentIndex(index);
    if (index >= 0) {
        // Show a long label from its start (name and kind), as a native combo box does.
        if (c->lineEdit() != nullptr) {
            c->lineEdit()->setCursorPosition(0);
        }
    } else if (c->isEditable()) {
        c->clearEditText();
    }
}

// ---- tree ----

void* InsertTreeItem(QWidget* tree, void* parent, const std::string& text, int /*image*/,
                     int /*selectedImage: the icons come with ShowTreeItemImages*/) {
    QTreeWidget* t = Tree(tree);
    if (t == nullptr) {
        return nullptr;
    }
    auto* item = new QTreeWidgetItem(QStringList{FromBytes(text)});
    if (HasCheckBoxes(t)) {
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    } else {
        item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
    }
    if (parent != nullptr) {
        ItemOf(parent)->addChild(item);  // the tree owns the item from here
    } else {
        t->addTopLevelItem(item);
    }
    return item;
}

bool ClearTree(QWidget* tree) {
    QTreeWidget* t = Tree(tree);
    if (t == nullptr) {
        return false;
    }
    // Emptying the tree is not a user's selection: it raises no notification.
    const QSignalBlocker quiet(t);
    t->clear();
    t->viewport()->update();
    return true;
}

void* TreeRootItem(QWidget* tree) {
    const QTreeWidget* t = Tree(tree);
    return t == nullptr ? nullptr : t->topLevelItem(0);
}

void* TreeSelectedItem(QWidget* tree) {
    const QTreeWidget* t = Tree(tree);
    if (t == nullptr) {
        return nullptr;
    }
    const QList<QTreeWidgetItem*> selected = t->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void* TreeChildItem(QWidget* /*tree*/, void* item) {
    return ItemOf(item)->child(0);
}

void* TreeNextSiblingItem(QWidget* tree, void* item) {
    QTreeWidgetItem* found = ItemOf(item);
    if (QTreeWidgetItem* parent = found->parent()) {
        return parent->child(parent->indexOfChild(found) + 1);
    }
    const QTreeWidget* t = Tree(tree);
    return t->topLevelItem(t->indexOfTopLevelItem(found) + 1);
}

void* TreeParentItem(QWidget* /*tree*/, void* item) {
    return ItemOf(item)->parent();
}

bool TreeItemHasChildren(QWidget* /*tree*/, void* item) {
    return ItemOf(item)->childCount() > 0;
}

std::string TreeItemText(QWidget* /*tree*/, void* item) {
    return ToBytes(ItemOf(item)->text(0));
}

bool ExpandTreeItem(QWidget* /*tree*/, void* item) {
    ItemOf(item)->setExpanded(true);
    return true;
}

bool TreeItemExpanded(QWidget* /*tree*/, void* item) {
    return ItemOf(item)->isExpanded();
}

bool SelectTreeItem(QWidget* tree, void* item) {
    QTreeWidget* t = Tree(tree);
    if (t == nullptr) {
        return false;
    }
    if (item == nullptr) {
        t->clearSelection();
        t->setCurrentItem(nullptr);
        return true;
    }
    t->setCurrentItem(ItemOf(item));
    return true;
}

bool TreeItemChecked(QWidget* tree, void* item) {
    return HasCheckBoxes(tree) && ItemOf(item)->checkState(0) == Qt::Checked;
}

bool CheckTreeItem(QWidget* tree, void* item, bool checked) {
    if (!HasCheckBoxes(tree)) {
        return false;
    }
    ItemOf(item)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    return true;
}

void SetTreeImageList(QWidget* tree, const CImageList* images) {
    if (QTreeWidget* t = Tree(tree); t != nullptr && images != nullptr) {
        t->setIconSize(images->native().size);
    }
}

void ShowTreeItemImages(QWidget* /*tree*/, void* item, int image, int selectedImage,
                        const CImageList* images) {
    QTreeWidgetItem* shown = ItemOf(item);
    if (images == nullptr || image < 0) {
        shown->setIcon(0, QIcon());
        return;
    }
    const QIcon normal = images->native().Icon(image);
    const QIcon selected = images->native().Icon(selectedImage);
    QIcon icon;
    const QSize size = images->native().size;
    if (!normal.isNull()) {
        icon.addPixmap(normal.pixmap(size), QIcon::Normal);
    }
    if (!selected.isNull()) {
        icon.addPixmap(selected.pixmap(size), QIcon::Selected);
    }
    shown->setIcon(0, icon);
}

}  // namespace toolkit
