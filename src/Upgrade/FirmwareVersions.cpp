#include "FirmwareVersions.h"

#include "TextFormat.h"

namespace bms {

namespace {

QString Text(const std::optional<FirmwareVersions>& v, const char* missing)
{
    return v ? FirmwareText(v->hw_version, v->sw_version) : QString::fromLatin1(missing);
}

} // namespace

VersionCheckResult JudgeVersions(const std::optional<FirmwareVersions>& before,
                                 const std::optional<FirmwareVersions>& after, int waitedMs, bool portClosed)
{
    VersionCheckResult r;
    r.before = before;
    r.after = after;
    const char* missingAfter = portClosed ? "not read, the port was closed" : "no answer";
    r.line = QStringLiteral("Firmware before: ") + Text(before, "not read") + QStringLiteral(" after: ") +
             Text(after, missingAfter);
    if (!after) {
        r.outcome = portClosed ? VersionOutcome::NotRead : VersionOutcome::NotBack;
        if (!portClosed)
            r.warning = QStringLiteral("The pack did not come back after the upgrade: it has not answered for %1 s.")
                            .arg((waitedMs + 999) / 1000);
    } else if (!before) {
        r.outcome = VersionOutcome::BeforeUnknown;
    } else if (after->sw_version == before->sw_version) {
        r.outcome = VersionOutcome::Unchanged;
        r.warning = QStringLiteral("The software version did not change (SV:%1): the board still runs the earlier "
                                   "firmware.")
                        .arg(VersionText(after->sw_version));
    } else {
        r.outcome = VersionOutcome::Changed;
    }
    return r;
}

} // namespace bms
