// quorlex-bms-cli: the service tool's operations from the command line, on
// the same core as the window (see CliOptions.cpp for the commands).
#include "CliOptions.h"
#include "Command.h"
#include "Report.h"
#include "Session.h"
#include "StationPrint.h"
#include "StationQuality.h"
#include "StationRecordsCommand.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace bms::cli;

std::unique_ptr<Command> MakeCommand(Session& session)
{
    const QString& name = session.options.command;
    if (name == QLatin1String("ports"))
        return MakePortsCommand(session);
    if (name == QLatin1String("info"))
        return MakeInfoCommand(session);
    if (name == QLatin1String("read"))
        return MakeReadCommand(session);
    if (name == QLatin1String("watch"))
        return MakeWatchCommand(session);
    if (name == QLatin1String("set"))
        return MakeSetCommand(session);
    if (name == QLatin1String("calibrate"))
        return MakeCalibrateCommand(session);
    if (name == QLatin1String("bus"))
        return MakeBusCommand(session);
    if (name == QLatin1String("station")) {
        const QString sub = session.options.args.value(0);
        if (sub == QLatin1String("run") || sub == QLatin1String("check"))
            return MakeStationCommand(session);
        if (IsStationQualityCommand(session.options.args, session.options.has(QStringLiteral("html"))))
            return MakeStationQualityCommand(session);
        if (IsStationPrintCommand(sub))
            return MakeStationPrintCommand(session);
        return MakeStationRecordsCommand(session);
    }
    return MakeUpgradeCommand(session);
}

// Writes `text`; false when it did not all arrive.
bool Print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    const size_t written = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    return written == static_cast<size_t>(bytes.size()) && std::fflush(stream) == 0;
}

// A closed standard stream would hand its number to the next file opened,
// the serial port among them, and results would be written to the pack. Each
// closed one is held open on /dev/null. Returns false when stdout was closed.
bool GuardStandardStreams()
{
    bool stdoutOpen = true;
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (fd == STDOUT_FILENO)
            stdoutOpen = false;
        const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
    return stdoutOpen;
}

// A line that could not be parsed: the reason on stderr and, with --json,
// the command's result object with the error on stdout.
int UsageError(const Options& seen, const QString& problem)
{
    Report report(seen.json);
    report.error(problem);
    QJsonObject result = ResultShape(seen.command);
    result.insert(QStringLiteral("error"), QJsonObject{{QStringLiteral("kind"), ErrorKindName(ErrorKind::Usage)},
                                                       {QStringLiteral("message"), problem}});
    result.insert(QStringLiteral("exit"), kExitUsage);
    report.object(result);
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    if (!GuardStandardStreams()) {
        std::fputs("quorlex-bms-cli: standard output is closed, so the results would be lost; nothing was sent\n",
                   stderr);
        return kExitOutput;
    }
    // Labels and reports are drawn with Qt's fonts, which need the GUI
    // application (on no display); every other command runs without it.
    bool draws = false;
    for (int i = 1; i + 1 < argc; ++i)
        draws = draws || (qstrcmp(argv[i], "station") == 0 && IsStationPrintCommand(QString::fromLocal8Bit(argv[i + 1])));
    if (draws)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::unique_ptr<QCoreApplication> app(draws ? new QGuiApplication(argc, argv) : new QCoreApplication(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral("quorlex-bms-cli"));

    QString error;
    Options seen;
    const std::optional<Options> options = ParseOptions(QCoreApplication::arguments().mid(1), error, &seen);
    if (!options)
        return UsageError(seen, error);
    if (options->help || options->command.isEmpty() || options->command == QLatin1String("help")) {
        const QString topic = options->command == QLatin1String("help") ? options->args.value(0) : options->command;
        const QString help = HelpText(topic);
        if (help.isEmpty())
            return UsageError(seen, QStringLiteral("unknown command '%1'").arg(topic));
        const bool asked = !options->command.isEmpty() || options->help;
        if (!Print(asked ? stdout : stderr, help) && asked) {
            std::fputs("quorlex-bms-cli: cannot write the help to standard output\n", stderr);
            return kExitOutput;
        }
        return asked ? kExitDone : kExitUsage;
    }

    Report report(options->json);
    Session session(*options, report);
    const std::unique_ptr<Command> command = MakeCommand(session);
    command->start();
    if (!session.finished())
        QCoreApplication::exec();
    return session.exitCode();
}
