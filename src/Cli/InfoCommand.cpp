// `ports` and `info`: the port box's list, and the information read of
// "Read Info" followed by a read of block 0 for the firmware versions.
#include "Command.h"
#include "InfoView.h"
#include "Session.h"

#include "CommRecord.h"
#include "Connection.h"
#include "Hooks.h"
#include "RequestBuilder.h"

#include <QJsonArray>
#include <QMetaObject>

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
            if (read.block != (infoRead_ ? 0 : 8))
                return;
            if (read.kind == ReadOutcomeKind::Dropped)
                return;
            if (read.kind != ReadOutcomeKind::Decoded)
                return done(false); // refused or no answer; the memo line says which
            if (infoRead_)
                return done(true);
            infoRead_ = true;
            // Then the firmware versions, from block 0, once the dispatch of
            // this answer is over.
            QMetaObject::invokeMethod(&context_, [this] {
                ReadBlock = 0;
                if (!s_.run([] { BuildRequest(cmd_read_block); }))
                    done(false);
            }, Qt::QueuedConnection);
        };
        s_.onBadFrame = [this] { done(false); };
        s_.host.forgetWrites();
        // The request of "Read Info"; with no sampling to pause, the
        // handler's 200 ms wait has nothing to do and is left out.
        if (!s_.run([] { BuildRequest(cmd_read_info); }))
            s_.finish(kExitUsage);
    }

private:
    void done(bool versions)
    {
        if (s_.finished())
            return;
        if (infoRead_)
            s_.report.lines(InfoLines(s_.host, versions));
        s_.finish(versions ? kExitDone : kExitPack, InfoObject(s_.host, versions));
    }

    Session& s_;
    QObject context_;
    bool infoRead_ = false;
};

} // namespace

std::unique_ptr<Command> MakePortsCommand(Session& session) { return std::make_unique<PortsCommand>(session); }
std::unique_ptr<Command> MakeInfoCommand(Session& session) { return std::make_unique<InfoCommand>(session); }

} // namespace bms::cli
