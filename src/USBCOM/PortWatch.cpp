#include "PortWatch.h"

#include <QDir>
#include <QFileInfo>

namespace bms {

PortWatcher::PortWatcher(QObject* parent, PortListSources sources)
    : QObject(parent)
    , sources_(std::move(sources))
{
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, [this] {
        if (changed)
            changed();
    });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &PortWatcher::onChange);
    watch();
}

void PortWatcher::watch()
{
    // The runtime folder exists only once a virtual pack has run: its parent
    // is watched so that its creation is noticed too.
    const QString runtimeParent = QFileInfo(sources_.runtimeDir).absolutePath();
    QStringList wanted;
    for (const QString& dir : {sources_.devDir, sources_.runtimeDir, runtimeParent}) {
        if (QFileInfo(dir).isDir() && !watcher_.directories().contains(dir) && !wanted.contains(dir))
            wanted.append(dir);
    }
    if (!wanted.isEmpty())
        (void)watcher_.addPaths(wanted);
}

void PortWatcher::onChange()
{
    watch();
    settle_.start();
}

} // namespace bms
