// `upgrade`: the Device Upgrade tab's run. The image is chosen as "Open"
// chooses it, the target as its radio buttons do, and "Upgrade" starts the
// window's run; the pack's answers and the watchdog drive it to one of its
// endings, shown in lbl35, which decides the exit status. A main-board run
// also reads the firmware versions before and after (FirmwareReadBack): a
// software version that did not change, or a board that does not come back,
// ends with 1 unless --allow-same-version accepts the same version. A
// dev-firmware record whose answer was lost is sent again up to --retries
// times (2).
#include "Command.h"
#include "ProgressLine.h"
#include "Session.h"
#include "UpgradeOperation.h"

#include "CommRecord.h"
#include "ImageCheck.h"
#include "TextFormat.h"
#include "UpgradeEndings.h"
#include "UpgradeHooks.h"
#include "UpgradeRun.h"

#include <QElapsedTimer>
#include <QTimer>
#include <cmath>
#include <optional>

namespace bms::cli {

namespace {

// Exit status of the firmware versions read back after a main-board run,
// or nothing when the run's own ending decides.
std::optional<int> VersionExit(VersionOutcome outcome, bool allowSame)
{
    switch (outcome) {
    case VersionOutcome::Changed: return kExitDone;
    case VersionOutcome::Unchanged: return allowSame ? kExitDone : kExitPack;
    case VersionOutcome::NotBack:
    case VersionOutcome::NotRead: return kExitPack;
    case VersionOutcome::BeforeUnknown: break;
    }
    return std::nullopt;
}

class UpgradeCommand : public Command {
public:
    explicit UpgradeCommand(Session& s) : s_(s), upgrade_(s) {}

    void start() override
    {
        if (!readOptions())
            return s_.finish(kExitUsage);
        SetRecordRetries(retries_);
        const ImageCheckResult check = CheckImage(image_, dev_);
        if (!check.ok()) {
            s_.report.error(check.problem);
            return s_.finish(kExitUsage);
        }
        if (const int rc = s_.openPort(); rc != kExitDone)
            return s_.finish(rc);

        upgrade_.choose(check, dev_);
        for (const auto& [option, box] : {std::pair{"version", "edt_firmware_version"},
                                          std::pair{"type", "edt_firmware_model"},
                                          std::pair{"package", "edt_firmware_packpag"}}) {
            if (s_.options.has(QLatin1String(option)))
                s_.host.setText(QLatin1String(box), s_.options.value(QLatin1String(option)));
        }

        upgrade_.onStatus = [this](const QString& text) { status(text); };
        UpgradeHooks.setProgress = [this](const QString&, int value, int maximum) {
            if (value == 1)
                transfer_.start();
            progress_.update(value, maximum);
        };
        s_.onInterrupt = [this] {
            s_.fail(ErrorKind::Interrupted, QStringLiteral("Interrupted during the upgrade run"));
            end(s_.interruptExitCode(), upgrade_.status());
        };

        clock_.start();
        const int errors = s_.errorsShown();
        upgrade_.start(s_.options.timeoutMs, [this, errors](const UpgradeOutcome& o) { upgraded(o, errors); });
    }

private:
    bool readOptions()
    {
        const QString target = s_.options.value(QStringLiteral("target"));
        if (target != QLatin1String("main") && target != QLatin1String("dev")) {
            s_.report.error(QStringLiteral("upgrade: --target main or --target dev is needed"));
            return false;
        }
        dev_ = target == QLatin1String("dev");
        if (s_.options.args.size() != 1) {
            s_.report.error(QStringLiteral("upgrade: one image file is needed"));
            return false;
        }
        image_ = s_.options.args.first();
        if (s_.options.has(QStringLiteral("retries"))) {
            const std::optional<qint64> retries = ParseDecimal(s_.options.value(QStringLiteral("retries")), 0, 10);
            if (!retries) {
                s_.report.error(QStringLiteral("--retries: '%1' is not a number from 0 to 10")
                                    .arg(s_.options.value(QStringLiteral("retries"))));
                return false;
            }
            retries_ = static_cast<int>(*retries);
        }
        if (!dev_) {
            for (const char* option : {"version", "type", "package"}) {
                if (s_.options.has(QLatin1String(option))) {
                    s_.report.error(QStringLiteral("upgrade: --%1 belongs to --target dev").arg(QLatin1String(option)));
                    return false;
                }
            }
        }
        return true;
    }

    void status(const QString& text)
    {
        // The transfer ends with the answer to the last record.
        if (transfer_.isValid() && transferMs_ < 0
            && (text == QLatin1String("Write Complete!") || text == QLatin1String("Waiting For Check!")))
            transferMs_ = transfer_.nsecsElapsed() / 1e6;
        if (const UpgradeEnding* e = FindUpgradeEnding(text); e && !e->good)
            s_.record(e->silent ? ErrorKind::Timeout : ErrorKind::Refused, text);
    }

    void upgraded(const UpgradeOutcome& o, int errorsBefore)
    {
        switch (o.end) {
        case UpgradeOutcome::End::NotStarted:
            if (s_.finished())
                return;
            if (dev_ && s_.errorsShown() > errorsBefore && !o.sent)
                s_.report.error(QStringLiteral("The dev firmware's version and type come from the image's name "
                                               "(...VVVVVVVVTTTT.hex) or from --version HEX and --type HEX"));
            return end(o.sent ? kExitPack : kExitUsage, o.status);
        case UpgradeOutcome::End::Ended: {
            const int code = o.good.value_or(false) ? kExitDone : kExitPack;
            // A port that went away ends the program at once, with the run's
            // ending; otherwise leave the dispatch or the watchdog tick that
            // wrote it first.
            if (PortOpen == 0)
                return end(code, o.status);
            QTimer::singleShot(0, &context_, [this, code, text = o.status] { end(code, text); });
            return;
        }
        case UpgradeOutcome::End::RecordCountUnanswered:
            s_.fail(ErrorKind::Timeout, QStringLiteral("The pack did not answer the record count"));
            return end(kExitPack, o.status);
        case UpgradeOutcome::End::VersionsRead: return versionsRead(*o.versions, o.good);
        }
    }

    void versionsRead(const VersionCheckResult& result, std::optional<bool> good)
    {
        firmware_ = result.line;
        if (result.before)
            versionBefore_ = VersionText(result.before->sw_version);
        if (result.after)
            versionAfter_ = VersionText(result.after->sw_version);
        const std::optional<int> code = VersionExit(result.outcome, s_.options.has(QStringLiteral("allow-same-version")));
        if (!result.warning.isEmpty())
            s_.record(result.outcome == VersionOutcome::Unchanged ? ErrorKind::Refused : ErrorKind::Timeout, result.warning);
        end(code.value_or(good.value_or(false) ? kExitDone : kExitPack), upgrade_.status());
    }

    static QJsonValue TextOrNull(const QString& text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); }

    // The run's ending, then the firmware versions read back.
    void end(int code, const QString& ending)
    {
        if (s_.finished())
            return;
        progress_.finish();
        s_.report.lines({ending});
        if (!firmware_.isEmpty())
            s_.report.lines({firmware_});
        const QJsonValue transfer = transferMs_ < 0 ? QJsonValue() : QJsonValue(std::round(transferMs_) / 1000.0);
        s_.finish(code, {{QStringLiteral("target"), dev_ ? QStringLiteral("dev") : QStringLiteral("main")},
                         {QStringLiteral("records"), static_cast<qint64>(RecordIndex)},
                         {QStringLiteral("seconds"), clock_.elapsed() / 1000.0},
                         {QStringLiteral("transfer_seconds"), transfer},
                         {QStringLiteral("ending"), ending},
                         {QStringLiteral("firmware"), TextOrNull(firmware_)},
                         {QStringLiteral("version_before"), TextOrNull(versionBefore_)},
                         {QStringLiteral("version_after"), TextOrNull(versionAfter_)}});
    }

    Session& s_;
    UpgradeOperation upgrade_;
    QObject context_;
    bool dev_ = false;
    QString image_;
    QString firmware_;
    QString versionBefore_; // software versions read back, "1.5.3"
    QString versionAfter_;
    int retries_ = kDefaultRecordRetries;
    QElapsedTimer clock_;
    QElapsedTimer transfer_; // from the first record sent
    double transferMs_ = -1;
    ProgressLine progress_;
};

} // namespace

std::unique_ptr<Command> MakeUpgradeCommand(Session& session) { return std::make_unique<UpgradeCommand>(session); }

} // namespace bms::cli
