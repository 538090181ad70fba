// A command of the command line: started once the session is set up; it
// reacts to the session's events and ends the program with Session::finish.
#pragma once

#include <QJsonObject>
#include <QString>
#include <memory>

namespace bms::cli {

class Session;

class Command {
public:
    virtual ~Command() = default;
    virtual void start() = 0;
};

std::unique_ptr<Command> MakePortsCommand(Session& session);
std::unique_ptr<Command> MakeInfoCommand(Session& session);
std::unique_ptr<Command> MakeReadCommand(Session& session);
std::unique_ptr<Command> MakeWatchCommand(Session& session);
std::unique_ptr<Command> MakeSetCommand(Session& session);
std::unique_ptr<Command> MakeCalibrateCommand(Session& session);
std::unique_ptr<Command> MakeUpgradeCommand(Session& session);
// `bus scan` and `bus watch`: every pack of a rack on one line.
std::unique_ptr<Command> MakeBusCommand(Session& session);
// `station run` and `station check`.
std::unique_ptr<Command> MakeStationCommand(Session& session);
// The other `station` subcommands: the records (history, show, stats, ...).
std::unique_ptr<Command> MakeStationRecordsCommand(Session& session);

// The keys of the last JSON object of `command`, each null: every outcome,
// a usage error included, prints the same keys (with "error", "exit",
// "messages", "errors" and "notes" added).
QJsonObject ResultShape(const QString& command);

} // namespace bms::cli
