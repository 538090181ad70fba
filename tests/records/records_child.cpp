// Helper process of the records tests:
//   records_child reserve DATABASE KEY COUNT
// reserves COUNT serial numbers under KEY (each for a run of its own) in the
// SQLite file or postgresql:// URL DATABASE and prints them, one a line.
#include "Database.h"
#include "Schema.h"
#include "SerialNumbers.h"

#include <QCoreApplication>
#include <QUuid>
#include <cstdio>

using namespace bms::records;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5 || args[1] != QLatin1String("reserve")) {
        std::fprintf(stderr, "usage: records_child reserve DATABASE KEY COUNT\n");
        return 2;
    }
    QString error;
    auto db = Database::open(args[2], error);
    if (!db || !Migrate(*db, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    SqlSerialSequence sequence(*db);
    const int count = args[4].toInt();
    for (int i = 0; i < count; ++i) {
        const auto n = sequence.reserve(args[3], QUuid::createUuid().toString(QUuid::WithoutBraces), error);
        if (!n) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("%lld\n", static_cast<long long>(*n));
    }
    return 0;
}
