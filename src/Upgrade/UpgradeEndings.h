// The texts of lbl35 that end an upgrade run, whether the run went well and
// whether the pack fell silent: one table for every front end that waits
// for a run to end.
#pragma once

#include <QString>

namespace bms {

struct UpgradeEnding {
    const char* text;
    bool good;
    bool silent; // the pack stopped answering (else it refused or a step failed)
};

inline constexpr UpgradeEnding kUpgradeEndings[] = {
    {"Upgrade Complete!", true, false},
    {"Writed firmware information successfully!", true, false},
    {"Writed firmware information failed!", false, false},
    {"Writing To Flash Error!", false, false},
    {"Device not responding!", false, true},
    {"Device communication timeout!", false, true},
    {"Upgrade Stopped!", false, false}, // a run-time error inside a step or a lost port; the reason follows
};

// The ending a status text starts with; nullptr while the run goes on.
inline const UpgradeEnding* FindUpgradeEnding(const QString& status)
{
    for (const UpgradeEnding& e : kUpgradeEndings)
        if (status.startsWith(QLatin1String(e.text)))
            return &e;
    return nullptr;
}

} // namespace bms
