// Serial numbers of a station PC that has a line database. The line's
// sequences are the only source of numbers: the PC leases blocks of them
// ahead (for the keys its recipes will want: today's and the next day's),
// hands them to its runs without asking the line, and tells the line what
// became of each (written into a pack, committed, given back). So a line
// server that is down or stalled never stops a run while numbers are left.
//
// SyncSerials does the talking, in this order:
//  1. every number whose state changed on the PC since the line last heard
//     goes to the line; numbers of the PC's own sequence (from before it
//     had a line database) are registered there, and the line's sequence of
//     their key passes them, so the line never hands them out again;
//  2. numbers leased for keys of days gone by and never used go back;
//  3. each key wanted for today or later is topped up to a block when fewer
//     than a quarter of a block is left.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

namespace bms::records {

class Database;

// Numbers leased at once for a key, unless a recipe says otherwise.
constexpr int kDefaultLeaseBlock = 200;

struct SerialSyncReport {
    int pushed = 0;   // changes the line has heard
    int returned = 0; // leased numbers given back
    int leased = 0;   // numbers newly leased
    // Numbers the PC and the line gave to different packs (before the PC
    // had a line database): "QX2026120900001: 2026... here, 2026... on the line".
    QStringList conflicts;
};

// This PC's id on the line: its host name and a random part, made once and
// kept in its database.
std::optional<QString> StationPcId(Database& local, QString& error);

// Runs will want numbers under these keys (each with the day it belongs
// to; an invalid date for a template without one), leased `block` at a
// time.
bool WantSerialKeys(Database& local, const std::vector<std::pair<QString, QDate>>& keys, int block, QString& error);

bool SyncSerials(Database& local, Database& line, const QDate& today, SerialSyncReport& report, QString& error);

// Numbers this PC and the line gave to different packs, as syncing found
// them (kept until the engineer has seen them).
QStringList SerialConflicts(Database& local);

// Gives every leased number not yet used back to the line (a PC taken off
// the line); the count.
std::optional<int> ReturnLeases(Database& local, Database& line, QString& error);

// Since when the line database has not answered: noted at the first failed
// contact, cleared at the next good one.
void NoteLineContact(Database& local, bool answered);
std::optional<QDateTime> LineUnreachableSince(Database& local);
// The line failed to answer within the last `withinMs`: a run does not ask
// it what it may do without (a pass on another PC, a pack's number there).
bool LineRecentlyDown(Database& local, qint64 withinMs = 60000);

} // namespace bms::records
