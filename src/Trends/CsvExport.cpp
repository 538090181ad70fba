#include "CsvExport.h"

#include "Csv.h"
#include "DurableFile.h"
#include "Errors.h"

#include <QDateTime>
#include <cmath>

namespace bms::trends {

namespace {

int Decimals(double scale)
{
    int decimals = 0;
    while (scale < 0.999 && decimals < 6) {
        scale *= 10;
        ++decimals;
    }
    return decimals;
}

} // namespace

QString ShownValue(int series, float kept)
{
    if (std::isnan(kept))
        return {};
    const double scale = Info(series).scale;
    return QString::number(double(kept) * scale, 'f', Decimals(scale));
}

int WriteCsv(const SampleStore& store, int64_t t0, int64_t t1, const QString& path)
{
    DurableFile file(path);
    if (!file.open())
        throw EInOutError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));

    std::vector<int> columns;
    for (int s = 0; s < SeriesCount; ++s) {
        if (store.present().test(size_t(s)))
            columns.push_back(s);
    }
    QByteArray line = "Time";
    for (int s : columns)
        line += ',' + CsvField(ColumnTitle(s)).toUtf8();
    line += ",Decimated\n";
    file.write(line);

    int rows = 0;
    store.forEachRow(t0, t1, [&](int64_t t, SampleStore::RowKind kind, const SampleValues& values) {
        line = QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8();
        for (int s : columns)
            line += ',' + ShownValue(s, values[size_t(s)]).toLatin1();
        line += kind == SampleStore::RowKind::IntervalMin ? ",min\n"
            : kind == SampleStore::RowKind::IntervalMax   ? ",max\n"
                                                          : ",\n";
        file.write(line);
        ++rows;
    });
    if (!file.commit())
        throw EInOutError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    return rows;
}

} // namespace bms::trends
