// The Device Upgrade tab's run driven through its own handlers: the image
// chosen as "Open" chooses it, the target as its radio buttons do, and
// "Upgrade" pressed; the pack's answers and the watchdog move the run on to
// one of the endings shown in lbl35. A main-board run then reads the
// firmware versions back (FirmwareReadBack); a dev-firmware run waits for
// the answer to its record count. `upgrade` and the station run's upgrade
// step both go through here and judge the outcome in their own terms.
#pragma once

#include "FirmwareReadBack.h"
#include "ImageCheck.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

namespace bms::cli {

class Session;

struct UpgradeOutcome {
    enum class End {
        NotStarted,            // "Upgrade" left no run going (refused, or it failed at once)
        Ended,                 // the run showed one of its endings
        RecordCountUnanswered, // a dev-firmware run: the record count got no answer
        VersionsRead,          // a main-board run: the versions were read back after its ending
    };
    End end = End::NotStarted;
    QString status;            // lbl35's last text; for Ended, the ending
    bool sent = false;         // NotStarted: "Upgrade" sent something
    std::optional<bool> good;  // the run's ending was a success; unset while none came
    std::optional<VersionCheckResult> versions; // VersionsRead
};

class UpgradeOperation {
public:
    explicit UpgradeOperation(Session& session);
    ~UpgradeOperation();
    UpgradeOperation(const UpgradeOperation&) = delete;
    UpgradeOperation& operator=(const UpgradeOperation&) = delete;

    // Opens the checked image's file with the main-board target selected,
    // then selects the target: the dev-firmware button fills version and
    // type from the file's name. The run sends the bytes of `image`, read
    // and checked by the caller; the file is not read again.
    void choose(const ImageCheckResult& image, bool devFirmware);
    // Presses "Upgrade" with the versions read back for main-board runs.
    // `done` runs once: within "Upgrade" only when no run is left going;
    // otherwise from the dispatch, watchdog tick or read-back that ended
    // the run (a front end leaves it before ending the program). The record
    // count of a dev-firmware run gets `recordCountWaitMs` for its answer.
    void start(int recordCountWaitMs, std::function<void(const UpgradeOutcome&)> done);
    // Forgets the run: `done` is not called, lbl35's texts go back to whom
    // they went to before, and a read-back in progress stops.
    void cancel();
    // Forgets the run and stops it ("Upgrade Stopped! " and `reason`):
    // nothing more of it goes out. A main board it left in its boot loader
    // is noted for the port as a failed run notes it.
    void stop(const QString& reason);

    // lbl35's last text since start().
    const QString& status() const { return last_; }
    // Each text of lbl35 while the operation listens, before it is judged.
    std::function<void(const QString& text)> onStatus;

private:
    void status(const QString& text);
    void versionsRead(const VersionCheckResult& result);
    void end(UpgradeOutcome::End end, bool sent = true, std::optional<VersionCheckResult> versions = std::nullopt);
    void restoreText();

    Session& s_;
    FirmwareReadBack readBack_;
    QObject context_;
    QTimer wait_;
    std::function<void(const QString&, const QString&)> savedOnText_;
    std::function<void(const UpgradeOutcome&)> done_;
    ImageCheckResult image_;
    QString last_;
    std::optional<bool> good_;
    int recordCountWaitMs_ = 0;
    int generation_ = 0;
    bool listening_ = false;
    bool active_ = false;
    bool pressing_ = false;
};

} // namespace bms::cli
