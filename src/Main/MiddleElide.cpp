#include "MiddleElide.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace bms {

QString ElidePath(const QString& text, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    // The folders give way first: "/run/user…quorlex-bms/virtual-pack-demo".
    const int slash = text.lastIndexOf(QLatin1Char('/'));
    if (slash > 0) {
        const QString name = text.mid(slash);
        const int room = width - metrics.horizontalAdvance(name);
        if (room >= metrics.horizontalAdvance(QStringLiteral("/\u2026")))
            return metrics.elidedText(text.left(slash), Qt::ElideMiddle, room) + name;
    }
    return metrics.elidedText(text, Qt::ElideMiddle, width);
}

namespace {

class MiddleElidingLineEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        const QRect area = textArea();
        if (hasFocus() || fontMetrics().horizontalAdvance(text()) <= area.width()) {
            QLineEdit::paintEvent(event);
            return;
        }
        QPainter painter(this);
        QStyleOptionFrame option;
        initStyleOption(&option);
        style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         ElidePath(text(), fontMetrics(), area.width()));
    }

private:
    // Where QLineEdit draws its text: the style's contents rectangle less the
    // text margins and the small horizontal gap it keeps.
    QRect textArea() const
    {
        QStyleOptionFrame option;
        initStyleOption(&option);
        QRect r = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
        r = r.marginsRemoved(textMargins());
        constexpr int kHorizontalMargin = 2; // QLineEditPrivate::horizontalMargin
        return r.adjusted(kHorizontalMargin, 0, -kHorizontalMargin, 0);
    }
};

} // namespace

void ElideInTheMiddle(QComboBox* box)
{
    if (!box || !box->isEditable())
        return;
    const QString text = box->currentText();
    box->setLineEdit(new MiddleElidingLineEdit(box));
    box->setEditText(text);
}

} // namespace bms
