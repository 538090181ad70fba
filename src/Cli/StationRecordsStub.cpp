// The records subcommands of `station` (history, show, stats, export,
// passport, import) belong to the records database; until it is built in,
// they are unknown.
#include "Command.h"
#include "Session.h"

namespace bms::cli {

namespace {

class UnknownStationCommand : public Command {
public:
    explicit UnknownStationCommand(Session& s) : s_(s) {}
    void start() override
    {
        const QString sub = s_.options.args.value(0);
        s_.report.error(sub.isEmpty() ? QStringLiteral("station: run RECIPE or check RECIPE (see quorlex-bms-cli help station)")
                                      : QStringLiteral("unknown station command '%1' (run or check)").arg(sub));
        s_.finish(kExitUsage);
    }

private:
    Session& s_;
};

} // namespace

std::unique_ptr<Command> MakeStationRecordsCommand(Session& session)
{
    return std::make_unique<UnknownStationCommand>(session);
}

} // namespace bms::cli
