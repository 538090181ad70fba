#include "WidgetHost.h"

#include "Errors.h"
#include "Sampling.h"
#include "ShapeWidget.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTableWidget>

Q_LOGGING_CATEGORY(lcWindow, "bms.window", QtWarningMsg)

namespace bms {

namespace {

// A notification memo keeps this many lines; the oldest go first, so a
// session of days does not grow without bound.
constexpr int kMemoMaxLines = 50000;

QColor FromBgr(uint32_t bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

uint32_t ToBgr(const QColor& c)
{
    return static_cast<uint32_t>(c.red()) | static_cast<uint32_t>(c.green()) << 8
        | static_cast<uint32_t>(c.blue()) << 16;
}

} // namespace

WidgetHost::WidgetHost(QWidget* root, QList<QLabel*> panels) : root_(root), panels_(std::move(panels))
{
    handlerWatch_.setSingleShot(true);
    handlerWatch_.setInterval(kBusyAfterMs);
    handlerWatch_.callOnTimeout([this] {
        if (handlersRunning_ > 0 && !busy_) {
            setBusy(QStringLiteral("Working: %1...").arg(watchedCaption_));
            busyFromWatch_ = true;
        }
    });
    if (!root_)
        return;
    for (QPlainTextEdit* memo : root_->findChildren<QPlainTextEdit*>())
        memo->setMaximumBlockCount(kMemoMaxLines);
}

WidgetHost::~WidgetHost()
{
    if (cursorOn_)
        QApplication::restoreOverrideCursor();
}

QWidget* WidgetHost::control(const QString& name) const
{
    auto it = cache_.constFind(name);
    if (it != cache_.constEnd() && it.value())
        return it.value();
    QWidget* w = root_ ? root_->findChild<QWidget*>(name) : nullptr;
    if (!w) {
        if (!unknown_.contains(name)) {
            unknown_.insert(name);
            qCWarning(lcWindow) << "no control named" << name;
        }
        return nullptr;
    }
    cache_.insert(name, w);
    return w;
}

QStringList WidgetHost::unknownControls() const
{
    QStringList list(unknown_.begin(), unknown_.end());
    list.sort();
    return list;
}

QString WidgetHost::text(const QString& name) const
{
    QWidget* w = control(name);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* c = qobject_cast<QComboBox*>(w))
        return c->currentText(); // the edit text of an editable box
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    if (auto* m = qobject_cast<QPlainTextEdit*>(w))
        return m->toPlainText();
    if (auto* p = qobject_cast<QProgressBar*>(w))
        return QString::number(p->value());
    return {};
}

void WidgetHost::setText(const QString& name, const QString& value)
{
    QWidget* w = control(name);
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setText(value);
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        const int index = c->findText(value, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            c->setCurrentIndex(index);
        if (c->isEditable())
            c->setEditText(value);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(value);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(value);
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        g->setTitle(value);
    } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
        m->setPlainText(value);
    } else if (auto* p = qobject_cast<QProgressBar*>(w)) {
        bool ok = false;
        const int v = value.toInt(&ok);
        if (ok)
            p->setValue(v);
    }
}

void WidgetHost::setEnabled(const QString& name, bool on)
{
    if (QWidget* w = control(name))
        w->setEnabled(on);
}

bool WidgetHost::isEnabled(const QString& name) const
{
    QWidget* w = control(name);
    return w && w->isEnabled();
}

void WidgetHost::setVisible(const QString& name, bool on)
{
    if (QWidget* w = control(name))
        w->setVisible(on);
}

bool WidgetHost::isVisible(const QString& name) const
{
    // The control's own flag: a control on a page that is not in front still
    // counts as visible.
    QWidget* w = control(name);
    return w && !w->isHidden();
}

void WidgetHost::setItems(const QString& name, const QStringList& list)
{
    auto* c = qobject_cast<QComboBox*>(control(name));
    if (!c)
        return;
    const QString keep = c->currentText();
    const QSignalBlocker block(c);
    c->clear();
    c->addItems(list);
    c->setCurrentIndex(-1);
    if (c->isEditable())
        c->setEditText(keep);
    // Port paths are longer than the box: the list opens wide enough to show
    // them whole, and the box's tooltip names the full text.
    c->view()->setMinimumWidth(c->view()->sizeHintForColumn(0) + 24);
    c->setToolTip(c->currentText());
    QObject::connect(c, &QComboBox::currentTextChanged, c, &QWidget::setToolTip, Qt::UniqueConnection);
}

QStringList WidgetHost::items(const QString& name) const
{
    QStringList list;
    if (auto* c = qobject_cast<QComboBox*>(control(name))) {
        for (int i = 0; i < c->count(); ++i)
            list.append(c->itemText(i));
    }
    return list;
}

void WidgetHost::setColour(const QString& name, uint32_t bgr)
{
    if (auto* s = qobject_cast<ShapeWidget*>(control(name)))
        s->setFill(FromBgr(bgr));
}

uint32_t WidgetHost::colour(const QString& name) const
{
    auto* s = qobject_cast<ShapeWidget*>(control(name));
    return s ? ToBgr(s->fill()) : 0;
}

void WidgetHost::setPanel(int index, const QString& value)
{
    if (index >= 0 && index < panels_.size())
        panels_[index]->setText(value);
}

QString WidgetHost::panel(int index) const
{
    return index >= 0 && index < panels_.size() ? panels_[index]->text() : QString();
}

void WidgetHost::setCell(const QString& grid, int col, int row, const QString& value)
{
    auto* t = qobject_cast<QTableWidget*>(control(grid));
    if (!t || row < 0 || col < 0 || row >= t->rowCount() || col >= t->columnCount())
        return;
    QTableWidgetItem* item = t->item(row, col);
    if (!item) {
        item = new QTableWidgetItem(value);
        item->setFlags(Qt::ItemIsEnabled);
        t->setItem(row, col, item);
    } else if (item->text() != value) {
        item->setText(value);
    }
}

void WidgetHost::setCellState(const QString& grid, int col, int row, bool stale, const QString& tip)
{
    auto* t = qobject_cast<QTableWidget*>(control(grid));
    QTableWidgetItem* item = t ? t->item(row, col) : nullptr;
    if (!item)
        return;
    const QVariant foreground = stale ? QVariant(QBrush(FromBgr(ColGrey))) : QVariant();
    if (item->data(Qt::ForegroundRole) != foreground)
        item->setData(Qt::ForegroundRole, foreground);
    if (item->toolTip() != tip)
        item->setToolTip(tip);
}

void WidgetHost::appendLine(const QString& memo, const QString& line)
{
    if (auto* m = qobject_cast<QPlainTextEdit*>(control(memo)))
        m->appendPlainText(line);
}

void WidgetHost::clearMemo(const QString& memo)
{
    if (auto* m = qobject_cast<QPlainTextEdit*>(control(memo)))
        m->clear();
}

void WidgetHost::setBusy(const QString& text)
{
    if (busyLabel_)
        busyLabel_->setText(text);
    busy_ = !text.isEmpty();
    busyFromWatch_ = false;
    updateCursor();
}

void WidgetHost::updateCursor()
{
    const bool want = busy_ && asking_ == 0;
    if (want && !cursorOn_)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else if (!want && cursorOn_)
        QApplication::restoreOverrideCursor();
    cursorOn_ = want;
}

void WidgetHost::setBusyLabel(QLabel* label)
{
    busyLabel_ = label;
}

QString WidgetHost::busyText() const
{
    return busyLabel_ ? busyLabel_->text() : QString();
}

void WidgetHost::handlerStarted(const QString& caption)
{
    if (handlersRunning_++ > 0)
        return;
    watchedCaption_ = caption;
    handlerWatch_.start();
}

void WidgetHost::handlerEnded()
{
    if (handlersRunning_ == 0 || --handlersRunning_ > 0)
        return;
    handlerWatch_.stop();
    if (busyFromWatch_)
        setBusy(QString());
}

bool WidgetHost::show(const MessageBoxInfo& info)
{
    // The operator answers a box with the normal cursor.
    struct Asking {
        explicit Asking(WidgetHost& h) : host(h)
        {
            ++host.asking_;
            host.updateCursor();
        }
        ~Asking()
        {
            --host.asking_;
            host.updateCursor();
        }
        WidgetHost& host;
    } asking(*this);
    // Sampling goes on while the operator reads the box.
    const ModalBoxScope polling;
    if (messageHook)
        return messageHook(info);
    const auto icon = info.kind == MessageBoxInfo::Information ? QMessageBox::Information
        : info.kind == MessageBoxInfo::Question               ? QMessageBox::Question
        : info.kind == MessageBoxInfo::Warning                ? QMessageBox::Warning
                                                              : QMessageBox::Critical;
    const bool yesNo = info.asks;
    QMessageBox box(icon, info.title, info.text,
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, root_);
    if (yesNo)
        box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void WidgetHost::showMessage(const QString& message)
{
    show({MessageBoxInfo::Information, QString::fromUtf8(kApplicationTitle), message});
}

void WidgetHost::showWarning(const QString& message)
{
    show({MessageBoxInfo::Warning, QString::fromUtf8(kApplicationTitle), message});
}

bool WidgetHost::askYesNo(const QString& caption, const QString& question)
{
    // The exit question is a "Confirm" box with the question icon; the other
    // Yes/No question (restart and upgrade) is a warning.
    const bool confirm = caption == QLatin1String("Confirm");
    const QString title = caption.isEmpty() ? QString::fromUtf8(kApplicationTitle) : caption;
    return show({confirm ? MessageBoxInfo::Question : MessageBoxInfo::Warning, title, question, true});
}

void WidgetHost::showError(const QString& message)
{
    show({MessageBoxInfo::Critical, QString::fromUtf8(kApplicationTitle), FormatErrorMessage(message)});
}

} // namespace bms
