// Helper process of the records tests:
//   records_child reserve DATABASE KEY COUNT
// reserves COUNT serial numbers under KEY (each for a run of its own) in the
// SQLite file or postgresql:// URL DATABASE and prints them, one a line;
//   records_child lease LINE_URL KEY COUNT
// does the same as a station PC of its own (a new PC database) whose numbers
// are leased from the line database LINE_URL, 50 at a time.
#include "Database.h"
#include "Schema.h"
#include "SerialLease.h"
#include "SerialNumbers.h"
#include "StationRecords.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QUuid>
#include <cstdio>

using namespace bms::records;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5 || (args[1] != QLatin1String("reserve") && args[1] != QLatin1String("lease"))) {
        std::fprintf(stderr, "usage: records_child reserve|lease DATABASE KEY COUNT\n");
        return 2;
    }
    QString error;
    QTemporaryDir pc;
    std::unique_ptr<Database> db;
    std::unique_ptr<StationRecords> station;
    std::unique_ptr<SqlSerialSequence> direct;
    bms::station::SerialSequence* sequence = nullptr;
    if (args[1] == QLatin1String("reserve")) {
        db = Database::open(args[2], error);
        if (db && Migrate(*db, error))
            sequence = (direct = std::make_unique<SqlSerialSequence>(*db)).get();
    } else {
        station = StationRecords::open({pc.filePath(QStringLiteral("station.db")), args[2]}, error);
        if (station && WantSerialKeys(station->local(), {{args[3], QDate()}}, 50, error))
            sequence = station.get();
    }
    if (!sequence) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const int count = args[4].toInt();
    for (int i = 0; i < count; ++i) {
        const auto n = sequence->reserve(args[3], QUuid::createUuid().toString(QUuid::WithoutBraces), {}, error);
        if (!n) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("%lld\n", static_cast<long long>(n->number));
    }
    return 0;
}
