// `ports` and `info`: the port box's list, and the information read of
// "Read Info".
#include "Command.h"
#include "InfoView.h"
#include "Session.h"

#include "Connection.h"
#include "RequestBuilder.h"

#include <QJsonArray>

namespace bms::cli {

namespace {

class PortsCommand : public Command {
public:
    explicit PortsCommand(Session& s) : s_(s) {}
    void start() override
    {
        s_.run(FillPorts);
        const QStringList ports = s_.host.items(QStringLiteral("cbb1"));
        s_.report.lines(ports);
        s_.finish(kExitDone, {{QStringLiteral("ports"), QJsonArray::fromStringList(ports)}});
    }

private:
    Session& s_;
};

class InfoCommand : public Command {
public:
    explicit InfoCommand(Session& s) : s_(s) {}
    void start() override
    {
        if (const int rc = s_.openPort(); rc != kExitDone)
            return s_.finish(rc);
        s_.onRead = [this](const ReadOutcome& read) {
            if (read.block != 8)
                return;
            if (read.kind == ReadOutcomeKind::Decoded)
                done();
            else
                s_.finish(kExitPack); // refused or no answer; the memo line says which
        };
        s_.onBadFrame = [this] { s_.finish(kExitPack); };
        s_.host.forgetWrites();
        // The request of "Read Info"; with no sampling to pause, the
        // handler's 200 ms wait has nothing to do and is left out.
        if (!s_.run([] { BuildRequest(cmd_read_info); }))
            s_.finish(kExitUsage);
    }

private:
    void done()
    {
        s_.report.lines(InfoLines(s_.host));
        s_.finish(kExitDone, InfoObject(s_.host));
    }

    Session& s_;
};

} // namespace

std::unique_ptr<Command> MakePortsCommand(Session& session) { return std::make_unique<PortsCommand>(session); }
std::unique_ptr<Command> MakeInfoCommand(Session& session) { return std::make_unique<InfoCommand>(session); }

} // namespace bms::cli
