// The firmware versions a pack reports in register block 0 and the verdict
// on an upgrade from the versions read before and after it. Pure: no I/O.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace bms {

struct FirmwareVersions {
    uint8_t version_major = 0;
    uint8_t version_minor = 0;
    uint16_t sw_version = 0;
    uint16_t hw_version = 0;

    bool operator==(const FirmwareVersions&) const = default;
};

enum class VersionOutcome {
    Changed,       // the software version differs from the one before
    Unchanged,     // same software version: the board runs the earlier firmware
    BeforeUnknown, // the pack did not answer before the run: nothing to compare
    NotBack,       // the pack never answered after the upgrade
    NotRead,       // the port was closed before the pack answered
};

struct VersionCheckResult {
    std::optional<FirmwareVersions> before;
    std::optional<FirmwareVersions> after;
    VersionOutcome outcome = VersionOutcome::NotRead;
    // "Firmware before: HV:2.1.0 SV:1.5.3 after: HV:2.1.0 SV:1.5.4"
    QString line;
    // The warning for the operator; empty when there is nothing to warn of.
    QString warning;
};

// Judges an upgrade. `after` is empty when the pack gave no answer within
// `waitedMs`, or (portClosed) when the port was closed before it could.
VersionCheckResult JudgeVersions(const std::optional<FirmwareVersions>& before,
                                 const std::optional<FirmwareVersions>& after, int waitedMs, bool portClosed = false);

} // namespace bms
