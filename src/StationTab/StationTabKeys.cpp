// Where the Station tab's keys go. The scan box has them, unless a run's
// question waits for a typed answer: its value box has them then, until the
// run takes the answer (a refused one stays there, selected, to be typed
// over). The engineer's and the history's boxes keep them while used.
//
// A scanner is a keyboard: a line typed as a scanner types it (KeyBurst)
// into another box of the tab starts that pack as if it were typed into
// the scan box, and the box it went to is left as it was. In a question's
// value box, a line the recipe does not take for a barcode stays the
// answer (a meter that types its reading), and a barcode question takes
// any.
#include "StationTab.h"

#include "TextChecks.h"

#include "FixturePanel.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>

namespace bms::stationtab {

namespace {

// The line a widget types into: itself, an editable combo box's, a spin
// box's; nothing for a table or a button.
QLineEdit* TypedBox(QWidget* w)
{
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit;
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->lineEdit();
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(w))
        return spin->findChild<QLineEdit*>();
    return nullptr;
}

bool EndsLine(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Tab || key == Qt::Key_Backtab;
}

} // namespace

void StationTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    keysHome()->setFocus();
}

QWidget* StationTab::keysHome() const
{
    if (pages_->currentWidget() == fixturesPage_)
        for (FixturePanel* p : panels_)
            if (p->asksForValue())
                return p->promptBox();
    return scan_;
}

void StationTab::placeFocus()
{
    // Another page's boxes keep the keys while the engineer works there.
    if (!isVisible() || pages_->currentWidget() != fixturesPage_)
        return;
    // A question being answered keeps them until it is.
    const QWidget* now = QApplication::focusWidget();
    for (const FixturePanel* p : panels_)
        if (p->asksForValue() && now == p->promptBox())
            return;
    keysHome()->setFocus();
}

void StationTab::keepScanFocus(QWidget* now)
{
    // Boxes the operator or the engineer types into, and the history
    // table, keep the focus; anything else on the tab gives it back.
    if (!now || now == scan_ || !isVisible() || !isAncestorOf(now))
        return;
    if (qobject_cast<QLineEdit*>(now) || qobject_cast<QAbstractSpinBox*>(now) || qobject_cast<QComboBox*>(now)
        || qobject_cast<QAbstractItemView*>(now) || qobject_cast<QTabBar*>(now))
        return;
    keysHome()->setFocus();
}

bool StationTab::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    // A scanner ends its line with Enter or Tab; neither leaves the box.
    if (watched == scan_) {
        if (EndsLine(key->key())) {
            scan(scan_->text());
            return true;
        }
        return false;
    }
    // Keys reach a combo box and then its line: counted once, at the
    // widget that has the focus.
    if (watched != QApplication::focusWidget())
        return false;
    auto* w = static_cast<QWidget*>(watched);
    return isVisible() && isAncestorOf(w) && typedElsewhere(w, key);
}

bool StationTab::typedElsewhere(QWidget* w, const QKeyEvent* key)
{
    const qint64 now = keyClock_.elapsed();
    if (EndsLine(key->key())) {
        const std::optional<QString> line = burst_.end(now);
        if (!line)
            return false;
        for (const FixturePanel* p : panels_) {
            if (p->asksForValue() && p->promptBox() == w
                && (p->promptKind() == QLatin1String("barcode") || !recipe_.refusal(config_.recipe, line->trimmed()).isEmpty()))
                return false;
        }
        if (typedInto_.box) {
            typedInto_.box->setText(typedInto_.text);
            if (typedInto_.selectionLength > 0)
                typedInto_.box->setSelection(typedInto_.selectionStart, typedInto_.selectionLength);
            else
                typedInto_.box->setCursorPosition(typedInto_.cursor);
        }
        startScan(*line);
        return true;
    }
    const QString text = key->text();
    if (text.isEmpty() || key->isAutoRepeat() || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        || station::HasControlCharacters(text)) {
        burst_.reset();
        return false;
    }
    if (burst_.key(text, now)) {
        // What the box held before the line began, to be put back.
        QLineEdit* box = TypedBox(w);
        typedInto_ = {box, box ? box->text() : QString(), box ? box->cursorPosition() : 0,
                      box ? box->selectionStart() : -1, box ? int(box->selectedText().size()) : 0};
    }
    return false;
}

} // namespace bms::stationtab
