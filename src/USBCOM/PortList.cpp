#include "PortList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <optional>

namespace bms {

namespace {

// A ttyS entry without a UART behind it reports type 0 (unknown port).
bool IsPlaceholderUart(const QString& entryDir, const QString& name)
{
    if (!name.startsWith(QLatin1String("ttyS")))
        return false;
    QFile type(entryDir + QStringLiteral("/type"));
    if (!type.open(QIODevice::ReadOnly))
        return false;
    return type.readAll().trimmed() == "0";
}

void AddSystemPorts(const PortListSources& s, QStringList& ports)
{
    const QDir sysfs(s.sysfsTtyDir);
    const QStringList names = sysfs.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString entryDir = sysfs.filePath(name);
        if (!QFileInfo::exists(entryDir + QStringLiteral("/device")) || IsPlaceholderUart(entryDir, name))
            continue;
        ports.append(QDir(s.devDir).filePath(name));
    }
}

void AddRuntimePorts(const PortListSources& s, QStringList& ports)
{
    const QDir runtime(s.runtimeDir);
    const QFileInfoList entries = runtime.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.exists() && !entry.isDir()) // exists() follows the link
            ports.append(entry.absoluteFilePath());
    }
}

bool Readable(const QString& dir)
{
    const QFileInfo info(dir);
    return info.isDir() && info.isReadable();
}

std::optional<QStringList> ReadPorts(const PortListSources& s)
{
    const bool system = Readable(s.sysfsTtyDir);
    const bool runtime = Readable(s.runtimeDir);
    if (!system && !runtime)
        return std::nullopt;
    QStringList ports;
    if (system)
        AddSystemPorts(s, ports);
    if (runtime)
        AddRuntimePorts(s, ports);
    std::sort(ports.begin(), ports.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    return ports;
}

} // namespace

QStringList ListSerialPorts(const PortListSources& sources)
{
    return ReadPorts(sources).value_or(QStringList {});
}

bool FillPortList(QStringList& target, const PortListSources& sources)
{
    std::optional<QStringList> ports = ReadPorts(sources);
    if (!ports)
        return false;
    target = std::move(*ports);
    return true;
}

} // namespace bms
