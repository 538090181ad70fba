#include "FirmwareReadBack.h"

#include "App.h"
#include "BootLoaderNote.h"
#include "CommRecord.h"
#include "Errors.h"
#include "Hooks.h"
#include "PackTable.h"
#include "RequestBuilder.h"

#include <QLoggingCategory>
#include <exception>
#include <utility>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

namespace bms {

namespace {

FirmwareReadBack* Installed = nullptr;

FirmwareVersions DecodedVersions()
{
    const PackRecord& p = PackTable[0];
    return {p.version_major, p.version_minor, p.sw_version, p.hw_version};
}

const QString kStatus = QStringLiteral("lbl35");

// What lbl35 adds to the run's ending once the versions are judged.
QString Verdict(VersionOutcome outcome)
{
    switch (outcome) {
    case VersionOutcome::Unchanged: return QStringLiteral(" Warning: the software version did not change!");
    case VersionOutcome::NotBack: return QStringLiteral(" Warning: the pack did not come back!");
    case VersionOutcome::NotRead: return QStringLiteral(" The version was not read, the port was closed.");
    case VersionOutcome::Changed:
    case VersionOutcome::BeforeUnknown: break;
    }
    return {};
}

} // namespace

FirmwareReadBack* InstalledReadBack()
{
    return Installed;
}

FirmwareReadBack::FirmwareReadBack(ReadBackTiming timing) : timing_(timing)
{
    timer_.OnTimer = [this] {
        try {
            onTimer();
        } catch (const Error& e) {
            App.ui->showError(FormatErrorMessage(e.message()));
        } catch (const std::exception& e) {
            App.ui->showError(FormatErrorMessage(QString::fromLocal8Bit(e.what())));
        }
    };
}

FirmwareReadBack::~FirmwareReadBack()
{
    timer_.setEnabled(false);
    if (Installed == this)
        Installed = nullptr;
}

void FirmwareReadBack::install()
{
    Installed = this;
    Hooks.blockAnswered = [](int32_t block) {
        if (Installed)
            Installed->blockAnswered(block);
    };
    Hooks.upgradeComplete = [] {
        if (Installed)
            Installed->upgradeComplete();
    };
}

void FirmwareReadBack::arm(int ms)
{
    timer_.setEnabled(false);
    timer_.setInterval(ms);
    timer_.setEnabled(true);
}

// One read of block 0, as a sampling tick sends it. A read while sampling
// runs would upset its rotation (sampling reads block 0 itself, and its
// answers are heard here too), and one while an information read is
// outstanding would take that answer for block 0: neither is sent.
void FirmwareReadBack::sendRead()
{
    if (Sampling == 1 || ReadBlock == 8)
        return;
    ReadBlock = 0;
    BuildRequest(cmd_read_block);
    if (App.tmr2)
        App.tmr2->setEnabled(false);
}

void FirmwareReadBack::beforeRun(std::function<void()> startRun)
{
    cancel();
    phase_ = Phase::Before;
    before_.reset();
    startRun_ = std::move(startRun);
    sendRead();
    arm(timing_.beforeMs);
}

void FirmwareReadBack::startRun()
{
    timer_.setEnabled(false);
    phase_ = Phase::Running;
    qCDebug(lcUpgrade) << "versions before the run:" << (before_ ? "read" : "no answer");
    if (auto start = std::exchange(startRun_, nullptr))
        start();
}

void FirmwareReadBack::transferEnded()
{
    if (phase_ != Phase::Running)
        return;
    phase_ = Phase::Check;
    arm(timing_.checkWaitMs);
}

void FirmwareReadBack::upgradeComplete()
{
    RemoveBootLoaderNote(PortBoxName());
    if (phase_ == Phase::Check)
        beginPolling();
}

void FirmwareReadBack::runFailed()
{
    if (phase_ == Phase::Running)
        cancel();
}

void FirmwareReadBack::cancel()
{
    timer_.setEnabled(false);
    phase_ = Phase::Idle;
    startRun_ = nullptr;
}

void FirmwareReadBack::beginPolling()
{
    // The boot loader's frames are over; a check answer that never came is
    // given up, so that the pack's ordinary answers are framed as such.
    AwaitingCheck = 0;
    phase_ = Phase::Polling;
    deadline_ = QDeadlineTimer(timing_.comeBackMs);
    status_ = App.ui->text(kStatus);
    App.ui->setText(kStatus, status_ + QStringLiteral(" Checking the firmware version..."));
    // The first read goes out from the timer, not from inside the dispatch
    // of the status frame that got here.
    arm(0);
}

void FirmwareReadBack::poll()
{
    if (PortOpen == 0) {
        finish(std::nullopt, true);
        return;
    }
    if (deadline_.hasExpired()) {
        finish(std::nullopt);
        return;
    }
    sendRead();
    arm(timing_.pollMs);
}

void FirmwareReadBack::onTimer()
{
    switch (phase_) {
    case Phase::Before:
    case Phase::Starting: startRun(); break;
    case Phase::Check: beginPolling(); break;
    case Phase::Polling: poll(); break;
    case Phase::Idle:
    case Phase::Running: timer_.setEnabled(false); break;
    }
}

void FirmwareReadBack::blockAnswered(int32_t block)
{
    // An answer of the pack's own firmware: it no longer waits in its boot
    // loader.
    RemoveBootLoaderNote(PortBoxName());
    if (block != 0)
        return;
    if (phase_ == Phase::Before) {
        before_ = DecodedVersions();
        // The run starts from the timer, outside the dispatch of this answer.
        phase_ = Phase::Starting;
        arm(0);
    } else if (phase_ == Phase::Polling) {
        finish(DecodedVersions());
    }
}

void FirmwareReadBack::finish(const std::optional<FirmwareVersions>& after, bool portClosed)
{
    const VersionCheckResult result = JudgeVersions(before_, after, timing_.comeBackMs, portClosed);
    // The status first, while the check still counts as running: a front
    // end that ends with the run takes its ending from `finished`.
    if (phase_ == Phase::Polling)
        App.ui->setText(kStatus, status_ + Verdict(result.outcome));
    cancel();
    qCInfo(lcUpgrade) << result.line;
    App.ui->appendLine(QStringLiteral("mmo2"), result.line);
    if (!result.warning.isEmpty())
        App.ui->showWarning(result.warning);
    if (finished)
        finished(result);
}

} // namespace bms
