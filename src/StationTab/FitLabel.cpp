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

QStringList FitLines(const QString& text, const QFont& font, int width, int maxLines)
{
    const QFontMetrics metrics(font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    const QStringList paragraphs = text.split(QLatin1Char('\n'));
    QStringList lines;
    for (int p = 0; p < paragraphs.size(); ++p) {
        const QString& paragraph = paragraphs[p];
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            const bool lastOfAll = p == paragraphs.size() - 1 && line.textStart() + line.textLength() >= paragraph.size();
            if (int(lines.size()) == maxLines - 1 && !lastOfAll) {
                // The last line there is room for: what is left, cut.
                QStringList left = paragraphs.mid(p + 1);
                left.prepend(paragraph.mid(line.textStart()));
                const QString rest = left.join(QLatin1Char(' ')).simplified();
                lines.append(metrics.horizontalAdvance(rest) <= width ? rest : metrics.elidedText(rest, Qt::ElideRight, width));
                layout.endLayout();
                return lines;
            }
            lines.append(paragraph.mid(line.textStart(), line.textLength()).trimmed());
        }
        layout.endLayout();
    }
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
    return {fontMetrics().averageCharWidth() * 4, QLabel::sizeHint().height()};
}

QSize FitLabel::minimumSizeHint() const
{
    return sizeHint();
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
