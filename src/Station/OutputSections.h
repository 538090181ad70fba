// The recipe's [label] and [report] sections: what a run leaves on paper
// besides its record. A label is printed after the run (a ZPL template sent
// raw to a thermal printer, or a layout drawn for any printer); a unit
// report is a PDF kept per run and optionally printed.
#pragma once

#include <QString>

namespace bms::station {

struct LabelSection {
    QString on = QStringLiteral("pass"); // "pass", "always" or "never"
    QString printer;                     // a CUPS queue; empty: the station's default
    int copies = 1;
    QString templateFile;                // ZPL, absolute path; or
    QString failTemplate;                // ZPL for runs that did not pass (optional)
    QString layout;                      // a layout drawn with Qt, absolute path
    // Whether a run that ended with `outcome` gets a label.
    bool wanted(const QString& outcome) const
    {
        return on == QLatin1String("always") || (on == QLatin1String("pass") && outcome == QLatin1String("PASS"));
    }
};

struct ReportSection {
    QString save = QStringLiteral("never"); // "pass", "always" or "never"
    QString folder;                         // absolute; empty: "reports" beside the results
    bool print = false;                     // also printed
    QString printer;
    bool wanted(const QString& outcome) const
    {
        return save == QLatin1String("always") || (save == QLatin1String("pass") && outcome == QLatin1String("PASS"));
    }
};

} // namespace bms::station
