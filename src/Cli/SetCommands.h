// `set` and `calibrate`: the window's settings and calibration buttons. Each
// setting fills the window's input boxes from the arguments and runs the
// button's own handler, so checks, messages and frames are the window's.
#pragma once

#include "PackWrites.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace bms::cli {

class Session;

// A setting of `set` or `calibrate`; its arguments are those the station's
// writes take (station::WriteUsage).
struct Setting {
    const char* word;  // the word after "set" or "calibrate"
    const char* help;
    // Boxes the arguments go into, in order; `required` of them must be given.
    std::vector<const char*> boxes;
    int required;
    // The button's handler; null for the settings that prepare their own.
    void (*click)();
    // For writes with the pack's own functions, whose answer the receive
    // assembly does not frame: the box of the information block that must
    // read back the value written; null when nothing can be read back.
    const char* readBack;
};

const std::vector<Setting>& SetSettings();
const std::vector<Setting>& CalibrateSettings();

// The setting of `table` named `word`, or null; the names, for messages
// ("sleep, barcode, ...").
const Setting* FindSetting(const std::vector<Setting>& table, const QString& word);
QString SettingWords(const std::vector<Setting>& table);

// Fills the boxes and selectors for `setting` from `args` (a parameter's
// index selector from `index`, else its first entry) and returns the
// handler to run, or sets `error`.
std::function<void()> PrepareSetting(Session& session, const Setting& setting, const QStringList& args,
                                     QString& error, const std::optional<QString>& index = std::nullopt);

// Why a station's setting or calibration cannot be written (a name that is
// not a parameter or a role, a value outside what the window's box takes),
// or nothing. Touches nothing: a recipe is checked with it when it loads.
QString WriteRefusal(const station::PackWrite& write);

QString SetHelpText();

} // namespace bms::cli
