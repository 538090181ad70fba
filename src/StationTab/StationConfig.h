// The station's settings, kept in a settings file of their own so that a
// line PC keeps its fixtures across restarts: the recipe, the station id,
// the operator's name, the port of each fixture (1 to 8), the line
// database and the engineer's password (its salted SHA-256, never the
// password), and when the shift began.
//
// The file is $QUORLEX_BMS_STATION_CONFIG when set, else
// $XDG_CONFIG_HOME/quorlex-bms/station.ini, else
// ~/.config/quorlex-bms/station.ini. It may hold the line database's
// password, so it is saved readable by its user only (0600).
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace bms::stationtab {

constexpr int kMaxFixtures = 8;

struct StationConfig {
    QString recipe;       // path of the recipe file
    QString stationId;
    QString operatorName;
    QString lineDb;       // postgresql://... ; empty: none
    QString printer;      // the CUPS queue of labels a recipe names none for; empty: CUPS's default
    QString cli;          // quorlex-bms-cli to run; empty: found beside the window
    QStringList ports;    // one per fixture, fixture 1 first
    QString passwordSalt; // hex
    QString passwordHash; // hex SHA-256 of salt and password; empty: no password
    QDateTime shiftStart; // invalid: not begun

    // Where the file is.
    static QString defaultPath();
    // The settings in `path`; defaults for what the file does not hold (a
    // file that does not exist holds nothing).
    static StationConfig load(const QString& path);
    // Writes every key; false with the reason when the file cannot be
    // written.
    bool save(const QString& path, QString& error) const;

    // The settings are protected by a password.
    bool locked() const { return !passwordHash.isEmpty(); }
    bool checkPassword(const QString& password) const;
    // A new password (empty: none, the settings are open to anyone).
    void setPassword(const QString& password);

    // The line database in use: lineDb, else $QUORLEX_BMS_LINE_DB (as the
    // command line takes it), else none.
    QString lineDatabase() const;

    // The fixtures that have a port, with their numbers from 1.
    int fixtureCount() const { return int(ports.size()); }
    // What is missing before a pack can be started, in words; empty when
    // nothing is.
    QString incomplete() const;
};

// The command-line program that runs a fixture: `configured` when given,
// else $QUORLEX_BMS_CLI, else quorlex-bms-cli beside the running program or
// in the build tree's src/Cli, else on the PATH. Empty when none is found.
QString FindStationCli(const QString& configured);

} // namespace bms::stationtab
