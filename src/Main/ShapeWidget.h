// A small filled shape of the window: the square alarm and protection
// indicators, the round link and parallel-state indicators, and the battery
// picture of the status group. The fill colour is set by the core through
// the window interface; a mouse press and a click are reported.
#pragma once

#include <QColor>
#include <QWidget>

class ShapeWidget : public QWidget {
    Q_OBJECT
    Q_PROPERTY(Shape shape READ shape WRITE setShape)
    Q_PROPERTY(QColor fill READ fill WRITE setFill)

public:
    enum Shape { Square, Circle, Battery };
    Q_ENUM(Shape)

    explicit ShapeWidget(QWidget* parent = nullptr);

    Shape shape() const { return shape_; }
    void setShape(Shape s);
    QColor fill() const { return fill_; }
    void setFill(const QColor& c);

    QSize sizeHint() const override;

Q_SIGNALS:
    void pressed();
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    Shape shape_ = Square;
    QColor fill_ = QColor(0, 255, 0);
    bool pressedInside_ = false;
};
