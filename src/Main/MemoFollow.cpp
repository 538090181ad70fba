#include "MemoFollow.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>

namespace bms {

namespace {

// Keeps the "following" state of one memo. Only the operator's own
// scrolling (the scroll bar, the wheel, the keyboard, a mouse drag) changes
// it; the memo's own relayouts (new lines, being shown again, a new size)
// do not.
class Follower : public QObject {
public:
    explicit Follower(QPlainTextEdit* memo) : QObject(memo), memo_(memo)
    {
        QScrollBar* bar = memo->verticalScrollBar();
        connect(bar, &QScrollBar::actionTriggered, this, [this] { noteUserPositionSoon(); });
        connect(bar, &QScrollBar::rangeChanged, this, [this] { keepAtEnd(); });
        connect(memo, &QPlainTextEdit::textChanged, this, [this] { keepAtEnd(); });
        memo->installEventFilter(this);
        memo->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::MouseButtonRelease:
            noteUserPositionSoon();
            break;
        case QEvent::Show:
        case QEvent::Resize:
            // Also once the memo has handled the event itself: on being shown
            // it scrolls to its text cursor, which stays on the first line.
            if (watched == memo_) {
                keepAtEnd();
                QTimer::singleShot(0, this, [this] { keepAtEnd(); });
            }
            break;
        default:
            break;
        }
        return false;
    }

private:
    // Once the operator's event has done its scrolling: follow again when
    // they are at the end, stay put otherwise.
    void noteUserPositionSoon()
    {
        QTimer::singleShot(0, this, [this] {
            const QScrollBar* bar = memo_->verticalScrollBar();
            following_ = bar->value() >= bar->maximum();
        });
    }

    void keepAtEnd()
    {
        if (!following_)
            return;
        QScrollBar* bar = memo_->verticalScrollBar();
        if (bar->value() != bar->maximum())
            bar->setValue(bar->maximum());
    }

    QPlainTextEdit* memo_;
    bool following_ = true;
};

} // namespace

void FollowNewLines(QPlainTextEdit* memo)
{
    if (memo)
        new Follower(memo);
}

} // namespace bms
