// Serial numbers kept in a records database. Each key (the fixed part of a
// recipe's serial template, for example "QX20261209") has its own sequence
// from 1. A number is in one state:
//
//   leased     (a PC's database) leased from the line, free for a run here
//   reserved   a run holds it; nothing has been written to a pack yet
//   written    written into the pack `barcode`: that pack's for good
//   committed  written, and the pack's run passed
//   released   never written, free to be handed out again (first)
//
// Reservations are taken inside a write transaction, so processes on one
// PC (SQLite's write lock) or on several PCs (PostgreSQL's row lock on the
// key) never get the same number. A pack tested again keeps the number it
// was given. A reservation records the process that holds it, so that one
// left behind by a killed run is settled when the database is next opened.
#pragma once

#include "RecordsInterfaces.h"

#include <QString>
#include <vector>

namespace bms::records {

class Database;

// "host/pid/start" of this process: who holds a reservation.
QString ThisProcessHolder();
// Whether the process `holder` names still runs. A holder of another host
// is taken to run (it cannot be told from here).
bool HolderAlive(const QString& holder);

// A number as `station serials` lists it.
struct SerialRow {
    QString key;
    qint64 number = 0;
    QString value, state, runId, barcode, holder;
    QString changedAt; // local time, ISO 8601
};

class SqlSerialSequence : public SerialSequence {
public:
    // With `leasedOnly` numbers come only from those leased from the line
    // (the line is then the only source); else from the database's own
    // sequence.
    explicit SqlSerialSequence(Database& db, bool leasedOnly = false) : db_(db), leasedOnly_(leasedOnly) {}

    std::optional<SerialGrant> reserve(const QString& key, const QString& runId, const QString& barcode,
                                       QString& error) override;
    bool bind(const SerialGrant& grant, const QString& runId, const QString& barcode, const QString& uid,
              QString& error) override;
    bool settle(const SerialGrant& grant, const QString& runId, bool written, bool passed, QString& error) override;

    // The number written into the pack `barcode` (the newest when it has
    // had several); an empty optional inside when it has none.
    std::optional<std::optional<SerialGrant>> boundTo(const QString& barcode, QString& error);
    // Takes note of a number the line has bound to `barcode`, so that its
    // retest here keeps it.
    bool adoptBound(const SerialGrant& grant, const QString& barcode, QString& error);
    // Leased numbers not yet reserved under `key`.
    std::optional<qint64> leasedLeft(const QString& key, QString& error);
    // Reservations whose process has gone are given back; the count.
    std::optional<int> settleAbandoned(QString& error);
    // Numbers in `states` (all when empty), newest change first.
    std::optional<std::vector<SerialRow>> list(const QStringList& states, int limit, QString& error);

private:
    std::optional<SerialGrant> take(const QString& key, const QString& runId, QString& error);
    Database& db_;
    bool leasedOnly_;
};

} // namespace bms::records
