#include "ReadAnswers.h"

#include "App.h"
#include "CommRecord.h"
#include "Hooks.h"
#include "PackTable.h"
#include "ReadRequests.h"
#include "TelemetryBlocks.h"

#include <QLoggingCategory>
#include <QStringList>
#include <QTime>

namespace bms {

namespace {

Q_LOGGING_CATEGORY(lcReads, "bms.link.reads", QtWarningMsg)

void Note(const QString& text)
{
    if (App.ui)
        App.ui->appendLine(QStringLiteral("mmo1"),
                           QStringLiteral("Note: ") + text + QStringLiteral("!(") +
                               QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) + QLatin1Char(')'));
}

void Report(const ReadOutcome& outcome)
{
    if (Hooks.readOutcome)
        Hooks.readOutcome(outcome);
}

QString Hex(unsigned value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString BlockName(int block)
{
    return block == 8 ? QStringLiteral("information") : QStringLiteral("block %1").arg(block);
}

QString BlockList(const std::vector<int>& blocks)
{
    QStringList names;
    for (int b : blocks)
        names.append(BlockName(b));
    return names.join(QStringLiteral(" or "));
}

// The rotation's step after `block` was read or refused.
int32_t NextAfter(int block) { return block == 8 ? 0 : NextReadBlock(block); }

void Dropped(const QString& why, int byteCount)
{
    qCInfo(lcReads) << "read answer dropped:" << why;
    Note(why + QStringLiteral(", dropped"));
    ReadOutcome outcome;
    outcome.kind = ReadOutcomeKind::Dropped;
    outcome.byteCount = byteCount;
    Report(outcome);
}

} // namespace

int TakeReadAnswer()
{
    if (MY_COM.RxLen < 5)
        return -1;
    const int byteCount = MY_COM.RxBuf[2];
    const ReadMatch match = ReadRequests.matchAnswer(byteCount, MonotonicMs());
    if (match.kind == ReadMatchKind::Ambiguous) {
        Dropped(QStringLiteral("read answer of %1 bytes may belong to %2").arg(byteCount).arg(BlockList(match.blocks)),
                byteCount);
        return -1;
    }
    if (match.kind == ReadMatchKind::NoRequest) {
        Dropped(QStringLiteral("read answer of %1 bytes matches no request").arg(byteCount), byteCount);
        return -1;
    }

    const int block = match.request.block;
    const bool current = block == ReadBlock;
    qCDebug(lcReads) << "read answer of" << byteCount << "bytes is" << BlockName(block)
                     << (current ? "" : "(late: the rotation stays)");
    DecodeTelemetryBlock(block);
    if (current && ReadBlock == block)
        ReadBlock = NextAfter(block);

    ReadOutcome outcome;
    outcome.kind = ReadOutcomeKind::Decoded;
    outcome.block = block;
    outcome.reg = match.request.reg;
    outcome.byteCount = byteCount;
    Report(outcome);
    if (Hooks.blockAnswered)
        Hooks.blockAnswered(block);
    return block;
}

void TakeReadRefusal()
{
    const uint8_t code = MY_COM.RxLen >= 3 ? MY_COM.RxBuf[2] : 0;
    const ReadMatch match = ReadRequests.matchRefusal(MonotonicMs());
    if (match.kind == ReadMatchKind::Ambiguous) {
        Dropped(QStringLiteral("read refusal (exception code %1) may belong to %2").arg(Hex(code, 2), BlockList(match.blocks)),
                -1);
        return;
    }
    if (match.kind == ReadMatchKind::NoRequest) {
        Dropped(QStringLiteral("read refusal (exception code %1) matches no request").arg(Hex(code, 2)), -1);
        return;
    }
    const ReadRequest& request = match.request;
    Note(QStringLiteral("the pack refused register %1 (%2), exception code %3")
             .arg(Hex(request.reg, 4), BlockName(request.block), Hex(code, 2)));
    if (request.block == ReadBlock)
        ReadBlock = NextAfter(request.block);

    ReadOutcome outcome;
    outcome.kind = ReadOutcomeKind::Refused;
    outcome.block = request.block;
    outcome.reg = request.reg;
    outcome.exceptionCode = code;
    Report(outcome);
}

void ReadTimedOut()
{
    ReadRequest* latest = ReadRequests.latest();
    if (latest && !latest->closed && !latest->timeoutReported) {
        latest->timeoutReported = true;
        ReadOutcome outcome;
        outcome.kind = ReadOutcomeKind::TimedOut;
        outcome.block = latest->block;
        outcome.reg = latest->reg;
        Report(outcome);
    }
    // Without an answer the information read would keep polling paused.
    if (ReadBlock == 8)
        ReadBlock = 0;
}

} // namespace bms
