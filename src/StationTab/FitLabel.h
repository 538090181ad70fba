// Texts of the Station tab that never widen or lengthen the window: a label
// shows its text in the room it is given, at most a set number of lines;
// what does not fit is shortened, and the whole text is its tooltip.
//
// One line: long words (paths, URLs, a scanner's run-away barcode) give way
// first, shortened in the middle, so the words around them (the count, the
// verdict) stay; then the end of the text is cut. Several lines: the text
// is wrapped at its words and the last line cut.
#pragma once

#include <QLabel>
#include <QStringList>

class QFont;

namespace bms::stationtab {

// `text` on one line `width` pixels wide in `font` (its line breaks as blanks).
QString FitLine(const QString& text, const QFont& font, int width);
// `text` wrapped into at most `maxLines` lines `width` pixels wide (its own
// line breaks kept); the last line cut with "…" when more would be needed.
QStringList FitLines(const QString& text, const QFont& font, int width, int maxLines);

class FitLabel : public QLabel {
    Q_OBJECT
public:
    explicit FitLabel(QWidget* parent = nullptr);

    // The whole text; the label shows what fits of it.
    void setWholeText(const QString& text);
    const QString& wholeText() const { return whole_; }
    // Lines the label may take (1: one line, never wrapped).
    void setMaxLines(int lines);
    // Whether the label shows less than its whole text.
    bool shortened() const { return text() != whole_; }

    // As high as the lines shown; as wide as a few characters at least, and
    // as its whole text on one line where its size policy is not Ignored
    // (the default): the layout gives the width.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refit();

    QString whole_;
    int maxLines_ = 1;
};

} // namespace bms::stationtab
