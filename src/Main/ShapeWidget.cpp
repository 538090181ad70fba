#include "ShapeWidget.h"

#include <QMouseEvent>
#include <QPainter>

ShapeWidget::ShapeWidget(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void ShapeWidget::setShape(Shape s)
{
    shape_ = s;
    update();
}

void ShapeWidget::setFill(const QColor& c)
{
    if (c == fill_)
        return;
    fill_ = c;
    update();
}

QSize ShapeWidget::sizeHint() const
{
    return shape_ == Battery ? QSize(72, 40) : QSize(12, 12);
}

void ShapeWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(QPen(Qt::black, 1));
    const QRect r = rect().adjusted(0, 0, -1, -1);
    switch (shape_) {
    case Square:
        p.fillRect(r, fill_);
        p.drawRect(r);
        break;
    case Circle:
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(fill_);
        p.drawEllipse(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5));
        break;
    case Battery: {
        // Body with a terminal cap on the right and a charge bar inside.
        const int cap = qMax(3, r.width() / 12);
        const QRect body(r.left(), r.top(), r.width() - cap, r.height());
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(palette().base());
        p.drawRoundedRect(body, 4, 4);
        p.setBrush(Qt::black);
        p.drawRect(QRect(body.right() + 1, r.top() + r.height() / 3, cap - 1, r.height() / 3));
        p.setPen(Qt::NoPen);
        p.setBrush(fill_);
        p.drawRoundedRect(body.adjusted(4, 4, -4, -4), 2, 2);
        break;
    }
    }
}

void ShapeWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    pressedInside_ = true;
    Q_EMIT pressed();
}

void ShapeWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !pressedInside_)
        return QWidget::mouseReleaseEvent(event);
    pressedInside_ = false;
    if (rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}
