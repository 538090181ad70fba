#include "PortName.h"

#include "RuntimePorts.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace bms {

namespace {
const QString kDevicePrefix = QStringLiteral("\\\\.\\");
}

QString NormaliseCommName(const QString& value)
{
    if (value.startsWith(QLatin1Char('/')) || value.contains(kDevicePrefix))
        return value;
    QString name = value;
    name.remove(QLatin1Char(':'));
    return kDevicePrefix + name;
}

QString CommDevicePath(const QString& commName)
{
    QString name = commName;
    if (name.startsWith(kDevicePrefix))
        name.remove(0, kDevicePrefix.size());
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return name;
    static const QRegularExpression com(QStringLiteral("^COM([0-9]{1,6})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = com.match(name);
    if (m.hasMatch()) {
        const int n = m.captured(1).toInt();
        if (n >= 1)
            return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    return QStringLiteral("/dev/") + name;
}

QString ResolvePortName(const QString& name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return name;
    const QDir runtime(QString::fromStdString(RuntimePortDir()));
    for (const QString& candidate : {name, QStringLiteral("virtual-pack-") + name}) {
        const QString path = runtime.filePath(candidate);
        if (QFileInfo::exists(path))
            return path;
    }
    return name;
}

} // namespace bms
