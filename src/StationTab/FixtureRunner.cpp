#include "FixtureRunner.h"

#include "Record.h"
#include "Stores.h"

#include <QDir>
#include <QFileInfo>
#include <csignal>

namespace bms::stationtab {

namespace {

// The end of the program's standard error kept for a run that ends without
// saying why.
constexpr qsizetype kStderrKept = 4096;

} // namespace

QStringList StationRunArguments(const RunnerSettings& s, const QString& barcode)
{
    QStringList args{QStringLiteral("--json"), QStringLiteral("--port"), s.port, QStringLiteral("station"),
                     QStringLiteral("run"), s.recipe,
                     // One argument, so that a barcode starting with "-" stays a barcode.
                     QStringLiteral("--barcode=") + barcode, QStringLiteral("--fixture"), QString::number(s.fixture)};
    if (!s.stationId.isEmpty())
        args += {QStringLiteral("--station"), s.stationId};
    if (!s.operatorName.isEmpty())
        args += {QStringLiteral("--operator"), s.operatorName};
    return args;
}

QProcessEnvironment StationRunEnvironment(const RunnerSettings& s, QProcessEnvironment base)
{
    // The window prints the run's label and keeps its report itself.
    base.insert(QStringLiteral("QUORLEX_BMS_WINDOW_PRINTS"), QStringLiteral("1"));
    if (s.lineDb.isEmpty()) {
        base.remove(QStringLiteral("QUORLEX_BMS_LINE_DB"));
        base.remove(QStringLiteral("QUORLEX_BMS_WINDOW_FORWARDS"));
    } else {
        base.insert(QStringLiteral("QUORLEX_BMS_LINE_DB"), s.lineDb);
        // The window's own forwarder takes the run to the line.
        base.insert(QStringLiteral("QUORLEX_BMS_WINDOW_FORWARDS"), QStringLiteral("1"));
    }
    return base;
}

FixtureRunner::FixtureRunner(int fixture, QObject* parent)
    : QObject(parent), fixture_(fixture), resultsFolder_(station::DefaultResultsFolder())
{
    abortTimer_.setSingleShot(true);
    connect(&abortTimer_, &QTimer::timeout, this, &FixtureRunner::escalate);
}

FixtureRunner::~FixtureRunner()
{
    if (process_) {
        process_->disconnect(this);
        process_->kill();
        process_->waitForFinished(1000);
    }
}

bool FixtureRunner::start(const RunnerSettings& settings, const QString& barcode)
{
    if (process_)
        return false;
    if (settings.program.isEmpty()) {
        model_.refuse(QStringLiteral("quorlex-bms-cli, which runs the fixtures, is not found (set QUORLEX_BMS_CLI)"));
        Q_EMIT changed();
        return false;
    }
    model_.begin(barcode);
    trail_.begin(settings, barcode);
    lines_ = LineSplitter();
    stderrTail_.clear();
    abortStage_ = 0;
    process_ = new QProcess(this);
    connect(process_, &QProcess::readyReadStandardOutput, this, &FixtureRunner::readOutput);
    connect(process_, &QProcess::readyReadStandardError, this, &FixtureRunner::readErrors);
    connect(process_, &QProcess::finished, this, &FixtureRunner::processEnded);
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && process_) {
            const QString why = process_->errorString();
            process_->deleteLater();
            process_ = nullptr;
            model_.ended({-1, false, why});
            Q_EMIT changed();
            Q_EMIT finished();
        }
    });
    process_->setProcessEnvironment(StationRunEnvironment(settings, QProcessEnvironment::systemEnvironment()));
    process_->start(settings.program, StationRunArguments(settings, barcode));
    Q_EMIT changed();
    return true;
}

void FixtureRunner::answer(const QString& text)
{
    const PromptState& prompt = model_.state().prompt;
    if (!process_ || prompt.id.isEmpty())
        return;
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    process_->write((QLatin1Char('@') + prompt.id + QLatin1Char(' ') + line + QLatin1Char('\n')).toUtf8());
}

void FixtureRunner::abort()
{
    if (!process_ || abortStage_ > 0)
        return;
    model_.aborting();
    abortStage_ = 1;
    process_->write("!abort\n");
    abortTimer_.start(graceMs_);
    Q_EMIT changed();
}

void FixtureRunner::escalate()
{
    if (!process_)
        return;
    const qint64 pid = process_->processId();
    ++abortStage_;
    if (abortStage_ == 2 && pid > 0)
        ::kill(static_cast<pid_t>(pid), SIGINT);
    else if (abortStage_ == 3)
        process_->terminate();
    else
        process_->kill();
    if (abortStage_ < 4)
        abortTimer_.start(graceMs_);
}

void FixtureRunner::readOutput()
{
    if (!process_)
        return;
    std::vector<QByteArray> lines;
    lines_.feed(process_->readAllStandardOutput(), lines);
    for (const QByteArray& line : lines)
        take(line);
    if (!lines.empty())
        Q_EMIT changed();
}

void FixtureRunner::take(const QByteArray& line)
{
    if (const std::optional<station::ParsedEvent> e = ParseEventLine(line)) {
        model_.event(*e);
        trail_.event(e->event);
    }
}

void FixtureRunner::readErrors()
{
    if (!process_)
        return;
    stderrTail_ += process_->readAllStandardError();
    if (stderrTail_.size() > kStderrKept)
        stderrTail_ = stderrTail_.right(kStderrKept);
}

void FixtureRunner::processEnded(int exitCode, QProcess::ExitStatus status)
{
    readOutput();
    readErrors();
    if (const QByteArray rest = lines_.rest(); !rest.isEmpty())
        take(rest);
    abortTimer_.stop();
    const ProcessEnd end{exitCode, status == QProcess::CrashExit, QString::fromUtf8(stderrTail_)};
    std::optional<station::RunRecord> found;
    QString foundPath;
    // A program stopped before its last word may have written its record:
    // it is looked for before the panel says there is none.
    const FixtureState& s = model_.state();
    if (s.recordPath.isEmpty() && !s.runId.isEmpty()) {
        const QString path = QDir(resultsFolder_).filePath(s.runId + QStringLiteral(".json"));
        QString ignored;
        if (QFileInfo::exists(path))
            if (const auto record = records::ReadRecordFile(path, ignored)) {
                found = station::RunRecord::fromJson(*record);
                foundPath = path;
            }
    }
    model_.ended(end, found, foundPath);
    // A run that started and neither told its end nor left its record: the
    // station keeps one for it, so that it counts and can be found.
    if (trail_.started() && !model_.endTold() && !found && model_.state().recordPath.isEmpty()) {
        const QString tail = end.stderrTail.trimmed().section(QLatin1Char('\n'), -1);
        static const char* const kSignals[] = {"!abort", "SIGINT", "SIGTERM", "SIGKILL"};
        const QString reason =
            end.crashed && abortStage_ >= 2
                ? QStringLiteral("killed by the station: the run did not end after its abort (%1)").arg(QLatin1String(kSignals[std::min(abortStage_, 4) - 1]))
                : QStringLiteral("the test program ended without a result: %1%2")
                      .arg(end.crashed ? QStringLiteral("it was killed") : QStringLiteral("exit status %1").arg(end.exitCode),
                           tail.isEmpty() ? QString() : QStringLiteral(": ") + tail);
        Q_EMIT recordLost(trail_.lostRecord(reason));
    }
    process_->deleteLater();
    process_ = nullptr;
    Q_EMIT changed();
    Q_EMIT finished();
}

} // namespace bms::stationtab
