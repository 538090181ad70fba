// The steps that establish who the pack is: identify (the information block
// and the versions), scan (the operator's barcode) and write_identity
// (barcode, serial number and clock written and read back).
#include "StepsCommon.h"

#include "JsonFields.h"
#include "TextFormat.h"

#include <QDateTime>
#include <algorithm>

namespace bms::station {

namespace {

class IdentifyStep : public Step {
public:
    using Step::Step;
    void run() override
    {
        host_.driver().readInfo([this](const InfoRead& info) {
            if (!info.ok)
                return host_.done(Outcome::Error, info.error);
            info_ = info.info;
            host_.driver().readTelemetry([this](const TelemetryRead& t) { telemetry(t); });
        });
    }

private:
    void telemetry(const TelemetryRead& t)
    {
        if (!t.ok)
            return host_.done(Outcome::Error, t.error);
        // The recipe's limits in its order, so that its first failure is the
        // run's, then the other quantities for information.
        const auto measure = [&](const QString& name, const Limits& limits) {
            host_.measure(name, IdentifyValue(name, info_, t), IdentifyUnit(name), limits);
        };
        const std::vector<NamedLimits>& limited = host_.recipeStep().limits;
        for (const NamedLimits& l : limited)
            measure(l.name, l.limits);
        for (const QString& name : IdentifyQuantities()) {
            if (std::none_of(limited.begin(), limited.end(), [&](const NamedLimits& l) { return l.name == name; }))
                measure(name, {});
        }
        PackIdentity& pack = host_.record().pack;
        pack.uid = info_.uid;
        pack.uidCrc = info_.uidCrc;
        pack.serialNumber = info_.serialNumber;
        // The scanned barcode names the pack; before a scan, the one it holds.
        if (!pack.barcode)
            pack.barcode = info_.barcode;
        pack.hwVersion = VersionText(t.hwVersion);
        pack.swBefore = VersionText(t.swVersion);
        pack.cells = t.cellCount;
        host_.state().swVersion = t.swVersion;
        host_.done(Outcome::Pass);
    }

    PackInfo info_;
};

class ScanStep : public Step {
public:
    using Step::Step;
    void run() override
    {
        if (const std::optional<QString> given = host_.givenBarcode())
            return scanned(*given);
        host_.ask(PromptKind::Barcode, QStringLiteral("Scan the pack's barcode"), [this](const QString& b) { scanned(b); });
    }

private:
    void scanned(const QString& barcode)
    {
        Limits pattern;
        pattern.matches = host_.recipeStep().pattern;
        if (host_.measure(QStringLiteral("barcode"), barcode, {}, pattern) == Outcome::Fail)
            return host_.done(Outcome::Pass); // failed by its measurement
        QString error;
        const std::optional<bool> passed = host_.history().passedBefore(barcode, host_.stationId(), error);
        if (!passed)
            return host_.done(Outcome::Error, QStringLiteral("the pass history cannot be read: ") + error);
        const bool retest = *passed && host_.recipe().allowRetest;
        Limits notPassed;
        if (!host_.recipe().allowRetest)
            notPassed.equals = QJsonValue(false);
        host_.measure(QStringLiteral("already_passed"), *passed, {}, notPassed);
        host_.state().barcode = barcode;
        host_.record().pack.barcode = barcode;
        host_.record().retest = retest;
        host_.done(Outcome::Pass);
    }
};

class WriteIdentityStep : public Step {
public:
    using Step::Step;
    void run() override
    {
        // Nothing can be written: no serial number is bound to the pack.
        if (host_.driver().inBootLoader())
            return host_.done(Outcome::Error, PackInBootLoaderText());
        next(0);
    }

private:
    // Barcode, serial number, clock: each written and read back in turn.
    void next(int part)
    {
        const RecipeStep& s = host_.recipeStep();
        if (part == 0 && s.writeBarcode)
            return write(BarcodeWrite{host_.state().barcode}, [this](const InfoRead& back) {
                Limits same;
                same.equals = host_.state().barcode;
                host_.measure(QStringLiteral("barcode"), json::OrNull(back.info.barcode), {}, same);
                next(1);
            });
        if (part <= 1 && s.writeSerial)
            return writeSerial();
        if (part <= 2 && s.writeRtc)
            return write(ClockWrite{}, [this](const InfoRead& back) {
                clockRead(back);
                host_.done(Outcome::Pass);
            });
        host_.done(Outcome::Pass);
    }

    void writeSerial()
    {
        RunState& state = host_.state();
        const SerialTemplate& t = *host_.recipe().serial;
        const QString barcode = host_.record().pack.barcode.value_or(state.barcode);
        if (!state.reservation) {
            // Reserved once for the run, also when the step is tried again.
            const QDate today = QDate::currentDate();
            QString error;
            const std::optional<SerialGrant> grant = host_.serials().reserve(t.key(today), host_.record().runId, barcode, error);
            if (!grant)
                return host_.done(Outcome::Error, QStringLiteral("no serial number could be reserved: ") + error);
            SerialReservation r{grant->key, grant->number, grant->reused ? grant->value : t.value(today, grant->number)};
            r.reused = grant->reused;
            state.reservation = r;
            host_.record().reservation = r;
            if (r.value.isEmpty())
                return host_.done(Outcome::Error, grant->reused ? QStringLiteral("the serial number of %1 is on record without its text").arg(barcode)
                                                                : QStringLiteral("the sequence %1 has run out of numbers").arg(grant->key));
        }
        SerialReservation& r = *state.reservation;
        // Bound to the pack before the write goes out: once it may be in
        // the pack, the number is never handed to another one.
        if (!r.written) {
            QString error;
            const SerialGrant grant{r.key, r.number, r.value, r.reused};
            if (!host_.serials().bind(grant, host_.record().runId, barcode, host_.record().pack.uid.value_or(QString()), error))
                return host_.done(Outcome::Error, QStringLiteral("serial number %1 could not be bound to the pack: %2").arg(r.value, error));
            r.written = true;
            host_.record().reservation = r;
        }
        const QString serial = r.value;
        write(SerialWrite{serial}, [this, serial](const InfoRead& back) {
            Limits same;
            same.equals = serial;
            if (host_.measure(QStringLiteral("serial_number"), json::OrNull(back.info.serialNumber), {}, same) == Outcome::Pass)
                host_.record().pack.serialNumber = serial;
            next(2);
        });
    }

    // The pack's clock against this computer's: the offset in seconds and
    // the weekday byte (0 Sunday .. 6 Saturday).
    void clockRead(const InfoRead& back)
    {
        const std::array<uint8_t, 8>& c = back.clock;
        const QDateTime pack(QDate(2000 + c[6], c[5], c[4]), QTime(c[2], c[1], c[0]));
        const QDateTime now = QDateTime::currentDateTime();
        const double tolerance = host_.recipeStep().rtcToleranceS;
        Limits near;
        near.low = -tolerance;
        near.high = tolerance;
        host_.measure(QStringLiteral("rtc_offset"), pack.isValid() ? QJsonValue(double(now.secsTo(pack))) : QJsonValue(),
                      QStringLiteral("s"), near);
        Limits weekday;
        weekday.equals = double(pack.isValid() ? pack.date().dayOfWeek() % 7 : now.date().dayOfWeek() % 7);
        host_.measure(QStringLiteral("rtc_weekday"), double(c[3]), {}, weekday);
    }

    void write(const PackWrite& what, std::function<void(const InfoRead&)> readBack)
    {
        host_.driver().write(what, [this, what, readBack](const WriteResult& r) {
            if (r.kind != WriteResult::Kind::Acknowledged)
                return host_.done(Outcome::Error, WriteFailure(what, r));
            if (!r.readBack || !r.readBack->ok)
                return host_.done(Outcome::Error, QStringLiteral("%1 was not read back").arg(WriteWords(what).first()));
            readBack(*r.readBack);
        });
    }
};

} // namespace

std::unique_ptr<Step> MakeIdentifyStep(StepHost& h) { return std::make_unique<IdentifyStep>(h); }
std::unique_ptr<Step> MakeScanStep(StepHost& h) { return std::make_unique<ScanStep>(h); }
std::unique_ptr<Step> MakeWriteIdentityStep(StepHost& h) { return std::make_unique<WriteIdentityStep>(h); }

} // namespace bms::station
