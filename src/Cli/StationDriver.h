// The pack as a station run reaches it from the command line: the
// information read of "Read Info", a rotation of the sampling loop's blocks,
// the settings and calibration buttons of `set` and `calibrate`, and the
// Device Upgrade tab's run with its version read-back, all through the
// session's handlers and events. One operation at a time.
#pragma once

#include "PackDriver.h"
#include "Rotation.h"

#include <QObject>
#include <memory>

namespace bms::cli {

class InfoOperation;
class Session;
class UpgradeOperation;
class WriteOperation;
struct Setting;
struct UpgradeOutcome;
struct WriteOutcome;

class StationDriver : public station::PackDriver {
public:
    explicit StationDriver(Session& session);
    ~StationDriver() override;

    void readInfo(std::function<void(const station::InfoRead&)> done) override;
    void readTelemetry(std::function<void(const station::TelemetryRead&)> done) override;
    void write(const station::PackWrite& write, std::function<void(const station::WriteResult&)> done) override;
    void upgrade(const QString& image, bool devFirmware, std::function<void(const station::UpgradeResult&)> done) override;
    void cancel() override;
    bool inBootLoader() const override { return bootLoader_; }

    // The port was lost: what is in flight and everything after it fails.
    void portLost();

private:
    void begin();
    // A reply time-out: with the port's note that the pack waits in its
    // boot loader, the words for it (and it is known from now on), else
    // `words`.
    QString noAnswer(const QString& words);
    // Runs `f` from the event loop unless the operation has been cancelled.
    void later(std::function<void()> f);
    station::InfoRead infoNow(bool ok, const QString& error) const;

    // Write: the outcome in the station's terms, the end.
    void written(const WriteOutcome& outcome);
    void endWrite(station::WriteResult::Kind kind, const QString& detail = {}, bool infoArrived = false);

    // Upgrade: the outcome in the station's terms, the end.
    void upgraded(const UpgradeOutcome& outcome);
    void endUpgrade(bool ok, const QString& ending, std::optional<uint16_t> swAfter = std::nullopt);

    Session& s_;
    Rotation rotation_;
    QObject context_;
    int generation_ = 0;
    bool lost_ = false;
    bool bootLoader_ = false; // the pack waits in its boot loader
    QString lastMessage_;
    std::unique_ptr<InfoOperation> info_;
    std::unique_ptr<WriteOperation> write_;
    std::function<void(const station::WriteResult&)> writeDone_;
    std::unique_ptr<UpgradeOperation> upgrade_;
    std::function<void(const station::UpgradeResult&)> upgradeDone_;
    // The reads in flight, answered when the port is lost.
    std::function<void(const station::InfoRead&)> pendingInfo_;
    std::function<void(const station::TelemetryRead&)> pendingTelemetry_;
};

} // namespace bms::cli
