// `ports` and `info`: the port box's list, and the information read of
// "Read Info" followed by a read of block 0 for the firmware versions.
#include "Command.h"
#include "InfoOperation.h"
#include "InfoView.h"
#include "Session.h"

#include "Connection.h"

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
    explicit InfoCommand(Session& s) : s_(s), info_(s) {}
    void start() override
    {
        if (const int rc = s_.openPort(); rc != kExitDone)
            return s_.finish(rc);
        info_.start(true, [this](const InfoOutcome& o) { done(o); });
    }

private:
    // A refusal or a missing answer has had its memo line.
    void done(const InfoOutcome& o)
    {
        if (s_.finished())
            return;
        if (!o.info && o.failure == InfoOutcome::Failure::NotSent)
            return s_.finish(kExitUsage);
        if (o.info)
            s_.report.lines(InfoLines(s_.host, o.versions));
        s_.finish(o.versions ? kExitDone : kExitPack, InfoObject(s_.host, o.versions));
    }

    Session& s_;
    InfoOperation info_;
};

} // namespace

std::unique_ptr<Command> MakePortsCommand(Session& session) { return std::make_unique<PortsCommand>(session); }
std::unique_ptr<Command> MakeInfoCommand(Session& session) { return std::make_unique<InfoCommand>(session); }

} // namespace bms::cli
