// The keys of each command's last JSON object, whatever its outcome.
#include "CliHost.h"
#include "Command.h"
#include "InfoView.h"
#include "PackView.h"

#include <QJsonValue>

namespace bms::cli {

namespace {

QJsonObject Nulls(const QStringList& keys)
{
    QJsonObject o;
    for (const QString& key : keys)
        o.insert(key, QJsonValue::Null);
    return o;
}

} // namespace

QJsonObject ResultShape(const QString& command)
{
    if (command == QLatin1String("ports"))
        return Nulls({QStringLiteral("ports")});
    if (command == QLatin1String("info"))
        return Nulls(InfoObject(CliHost()).keys());
    if (command == QLatin1String("read"))
        return Nulls(TelemetryObject({}).keys() + QStringList{QStringLiteral("blocks"), QStringLiteral("refused")});
    if (command == QLatin1String("watch"))
        return Nulls({QStringLiteral("rotations"), QStringLiteral("incomplete")});
    if (command == QLatin1String("set") || command == QLatin1String("calibrate"))
        return Nulls({QStringLiteral("setting"), QStringLiteral("acknowledged"), QStringLiteral("exception"),
                      QStringLiteral("readback")});
    if (command == QLatin1String("bus"))
        return Nulls({QStringLiteral("packs"), QStringLiteral("collisions"), QStringLiteral("sweeps"),
                      QStringLiteral("incomplete")});
    if (command == QLatin1String("upgrade"))
        return Nulls({QStringLiteral("target"), QStringLiteral("records"), QStringLiteral("seconds"),
                      QStringLiteral("transfer_seconds"), QStringLiteral("ending"), QStringLiteral("firmware"),
                      QStringLiteral("version_before"), QStringLiteral("version_after")});
    return {};
}

} // namespace bms::cli
