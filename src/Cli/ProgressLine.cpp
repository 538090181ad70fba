#include "ProgressLine.h"

#include "Report.h"
#include "UpgradeProgress.h"

#include <cstdio>
#include <unistd.h>

namespace bms::cli {

namespace {
ProgressLine* Drawn = nullptr; // the line standing unended on the terminal
}

ProgressLine::ProgressLine() : terminal_(::isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine()
{
    if (Drawn == this)
        Drawn = nullptr;
}

void EndProgressLine()
{
    if (Drawn)
        Drawn->finish();
}

QString ProgressLine::Text(int sent, int total, double perSecond)
{
    const int percent = total > 0 ? static_cast<int>(qint64(sent) * 100 / total) : 0;
    QString text = QStringLiteral("Records %1/%2 (%3%)").arg(sent).arg(total).arg(percent);
    if (perSecond > 0) {
        text += QStringLiteral("  %1 records/s").arg(perSecond, 0, 'f', 1);
        if (sent < total)
            text += QStringLiteral("  %1 left").arg(FormatDuration(static_cast<qint64>((total - sent) * 1000 / perSecond)));
    }
    return text;
}

void ProgressLine::update(int sent, int total)
{
    if (sent <= 0 || total <= 0)
        return;
    if (!clock_.isValid())
        clock_.start();
    const qint64 ms = clock_.elapsed();
    // The first record starts the clock, so the rate counts the ones after it.
    const double rate = (sent > 1 && ms > 0) ? (sent - 1) * 1000.0 / ms : 0;
    const int tenth = static_cast<int>(qint64(sent) * 10 / total);
    if (terminal_) {
        if (sent < total && lastDraw_.isValid() && lastDraw_.elapsed() < 100)
            return;
    } else if (tenth == lastTenth_ && lastDraw_.isValid() && lastDraw_.elapsed() < 10'000) {
        return;
    }
    lastTenth_ = tenth;
    lastDraw_.start();
    draw(Text(sent, total, rate));
}

void ProgressLine::draw(const QString& text)
{
    if (!terminal_) {
        Report::diagnostic(text);
        return;
    }
    const QByteArray bytes = "\r" + text.toUtf8() + "\033[K";
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
    drawn_ = true;
    Drawn = this;
}

void ProgressLine::finish()
{
    if (terminal_ && drawn_)
        std::fputc('\n', stderr);
    drawn_ = false;
    if (Drawn == this)
        Drawn = nullptr;
}

} // namespace bms::cli
