// quorlex-bms-cli: the service tool's operations from the command line, on
// the same core as the window (see CliOptions.cpp for the commands).
#include "CliOptions.h"
#include "Command.h"
#include "Report.h"
#include "Session.h"
#include "StationRecordsCommand.h"

#include <QCoreApplication>
#include <cstdio>

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
    if (name == QLatin1String("station"))
        return MakeStationRecordsCommand(session);
    return MakeUpgradeCommand(session);
}

void Print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorlex-bms-cli"));

    QString error;
    const std::optional<Options> options = ParseOptions(QCoreApplication::arguments().mid(1), error);
    if (!options) {
        Print(stderr, error + QStringLiteral("\n"));
        return kExitUsage;
    }
    if (options->help || options->command.isEmpty() || options->command == QLatin1String("help")) {
        const QString topic = options->command == QLatin1String("help") ? options->args.value(0) : options->command;
        const QString help = HelpText(topic);
        if (help.isEmpty()) {
            Print(stderr, QStringLiteral("unknown command '%1'\n").arg(topic));
            return kExitUsage;
        }
        Print(options->command.isEmpty() && !options->help ? stderr : stdout, help);
        return options->command.isEmpty() && !options->help ? kExitUsage : kExitDone;
    }

    Report report(options->json);
    Session session(*options, report);
    const std::unique_ptr<Command> command = MakeCommand(session);
    command->start();
    if (!session.finished())
        QCoreApplication::exec();
    return session.exitCode();
}
