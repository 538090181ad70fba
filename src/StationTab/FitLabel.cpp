#include "FitLabel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QTextLayout>
#include <algorithm>

namespace bms::stationtab {

namespace {

// Words longer than this give way first on one line; none is shortened
// below kShortestWord characters' width. A 12- to 20-character barcode
// stays whole.
constexpr int kLongWord = 20;
constexpr int kShortestWord = 12;

} // namespace

QString FitLine(const QString& text, const QFont& font, int width)
{
    const QFontMetrics metrics(font);
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (metrics.horizontalAdvance(line) <= width)
        return line;
    QStringList words = line.split(QLatin1Char(' '));
    // The widest long words first, each shortened once, as far as needed.
    std::vector<int> order;
    for (int i = 0; i < words.size(); ++i)
        if (words[i].size() > kLongWord)
            order.push_back(i);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return metrics.horizontalAdvance(words[a]) > metrics.horizontalAdvance(words[b]);
    });
    const int shortest = metrics.horizontalAdvance(QLatin1Char('0')) * kShortestWord;
    for (int i : order) {
        const int excess = metrics.horizontalAdvance(words.join(QLatin1Char(' '))) - width;
        if (excess <= 0)
            break;
        const int wide = metrics.horizontalAdvance(words[i]);
        words[i] = metrics.elidedText(words[i], Qt::ElideMiddle, std::max(shortest, wide - excess));
    }
    return metrics.elidedText(words.join(QLatin1Char(' ')), Qt::ElideRight, width);
}

namespace {

// Where each line of a paragraph wrapped to `width` starts.
QList<int> LineStarts(const QString& paragraph, const QFont& font, int width)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QTextLayout layout(paragraph, font);
    layout.setTextOption(option);
    layout.beginLayout();
    QList<int> starts;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        starts.append(line.textStart());
    }
    layout.endLayout();
    return starts.isEmpty() ? QList<int>{0} : starts;
}

// The text of line `i` of a paragraph; the last one taken runs to its end.
QString LineText(const QString& paragraph, const QList<int>& starts, qsizetype i, bool toEnd)
{
    const int from = starts[i];
    return (toEnd || i + 1 >= starts.size() ? paragraph.mid(from) : paragraph.mid(from, starts[i + 1] - from)).trimmed();
}

} // namespace

QStringList FitLines(const QString& text, const QFont& font, int width, int maxLines)
{
    const QFontMetrics metrics(font);
    const QStringList paragraphs = text.split(QLatin1Char('\n'));
    std::vector<QList<int>> starts;
    qsizetype total = 0;
    for (const QString& paragraph : paragraphs) {
        starts.push_back(LineStarts(paragraph, font, width));
        total += starts.back().size();
    }
    QStringList lines;
    if (total <= maxLines) {
        for (qsizetype p = 0; p < paragraphs.size(); ++p)
            for (qsizetype i = 0; i < starts[size_t(p)].size(); ++i)
                lines.append(LineText(paragraphs[p], starts[size_t(p)], i, false));
        return lines;
    }
    // Each paragraph (a failing measurement, a message) keeps a line of its
    // own, the first ones more while lines are left; paragraphs beyond the
    // room are counted on the last line.
    const bool counted = paragraphs.size() > maxLines;
    const qsizetype shown = counted ? maxLines - 1 : paragraphs.size();
    qsizetype spare = maxLines - shown - (counted ? 1 : 0);
    for (qsizetype p = 0; p < shown; ++p) {
        const QList<int>& at = starts[size_t(p)];
        const qsizetype take = std::min<qsizetype>(at.size(), 1 + spare);
        spare -= take - 1;
        for (qsizetype i = 0; i < take; ++i) {
            const QString line = LineText(paragraphs[p], at, i, i == take - 1);
            lines.append(i == take - 1 ? metrics.elidedText(line, Qt::ElideRight, width) : line);
        }
    }
    if (counted)
        lines.append(QStringLiteral("(%1 more)").arg(paragraphs.size() - shown));
    return lines;
}

FitLabel::FitLabel(QWidget* parent) : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void FitLabel::setWholeText(const QString& text)
{
    if (text == whole_ && !text.isEmpty())
        return;
    whole_ = text;
    refit();
    updateGeometry();
}

void FitLabel::setMaxLines(int lines)
{
    if (std::max(1, lines) == maxLines_)
        return;
    maxLines_ = std::max(1, lines);
    refit();
}

QSize FitLabel::sizeHint() const
{
    // A label that may ask for room asks for its whole text's on one line.
    const int small = fontMetrics().averageCharWidth() * 4;
    const bool asks = sizePolicy().horizontalPolicy() != QSizePolicy::Ignored;
    const int width = asks ? fontMetrics().horizontalAdvance(whole_) + 2 * margin() + 1 : small;
    return {std::max(small, width), QLabel::sizeHint().height()};
}

QSize FitLabel::minimumSizeHint() const
{
    return {fontMetrics().averageCharWidth() * 4, QLabel::sizeHint().height()};
}

void FitLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    refit();
}

void FitLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        refit();
}

void FitLabel::refit()
{
    const int width = std::max(1, contentsRect().width() - 2 * margin());
    const QString shown = maxLines_ == 1 ? FitLine(whole_, font(), width)
                                         : FitLines(whole_, font(), width, maxLines_).join(QLatin1Char('\n'));
    if (shown != text())
        setText(shown);
    const QString tip = shown == whole_ ? QString() : whole_;
    if (toolTip() != tip)
        setToolTip(tip);
}

} // namespace bms::stationtab
