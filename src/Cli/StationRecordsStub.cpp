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
        s_.report.error(QStringLiteral("unknown station command '%1' (run or check)").arg(s_.options.args.value(0)));
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
