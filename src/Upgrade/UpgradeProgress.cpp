#include "UpgradeProgress.h"

#include "App.h"
#include "UpgradeHooks.h"

#include <QElapsedTimer>
#include <algorithm>

namespace bms {

UpgradeHooksT UpgradeHooks;

namespace {
int Total = 0;
QElapsedTimer TransferClock; // started when the first record goes out

void ShowBar(int value)
{
    if (UpgradeHooks.setProgress)
        UpgradeHooks.setProgress(kProgressBar, std::min(value, Total), Total);
}

QString CountText(int sent)
{
    const int percent = Total > 0 ? static_cast<int>(std::min<qint64>(100, qint64(sent) * 100 / Total)) : 0;
    return QStringLiteral("Records: %1 / %2 (%3%)").arg(sent).arg(Total).arg(percent);
}
} // namespace

QString FormatDuration(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(0, (ms + 500) / 1000);
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

void ProgressStart(int records)
{
    Total = std::max(records, 0);
    TransferClock.invalidate();
    ShowBar(0);
    App.ui->setText(kProgressLabel, CountText(0));
}

void ProgressRecordSent(int sent)
{
    if (!TransferClock.isValid())
        TransferClock.start();
    ShowBar(sent);
    const qint64 elapsed = TransferClock.elapsed();
    QString text = CountText(sent) + QStringLiteral("  Elapsed: ") + FormatDuration(elapsed);
    // The first record carries no timing yet: the clock starts with it.
    if (sent > 1 && sent < Total) {
        const qint64 remaining = elapsed * (Total - sent) / (sent - 1);
        text += QStringLiteral("  Remaining: about ") + FormatDuration(remaining);
    }
    App.ui->setText(kProgressLabel, text);
}

void ProgressClear()
{
    Total = 0;
    TransferClock.invalidate();
    ShowBar(0);
    App.ui->setText(kProgressLabel, QString());
}

void ProgressFinished(int sent)
{
    ShowBar(sent);
    const qint64 elapsed = TransferClock.isValid() ? TransferClock.elapsed() : 0;
    App.ui->setText(kProgressLabel, CountText(sent) + QStringLiteral("  Elapsed: ") + FormatDuration(elapsed));
}

} // namespace bms
