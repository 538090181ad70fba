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
    // The runtime folder exists only once a virtual pack has run: until then
    // its parent is watched, so that its creation is noticed. The parent
    // (/tmp without XDG_RUNTIME_DIR) may change all the time; it is dropped
    // as soon as the folder itself can be watched.
    const QString runtimeParent = QFileInfo(sources_.runtimeDir).absolutePath();
    const bool runtimeExists = QFileInfo(sources_.runtimeDir).isDir();
    const QStringList watched = watcher_.directories();
    QStringList wanted;
    for (const QString& dir : {sources_.devDir, runtimeExists ? sources_.runtimeDir : runtimeParent}) {
        if (QFileInfo(dir).isDir() && !watched.contains(dir) && !wanted.contains(dir))
            wanted.append(dir);
    }
    if (!wanted.isEmpty())
        (void)watcher_.addPaths(wanted);
    if (runtimeExists && runtimeParent != sources_.devDir && watched.contains(runtimeParent))
        (void)watcher_.removePath(runtimeParent);
}

void PortWatcher::onChange()
{
    watch();
    // Counted from the first change, not the last: a folder that keeps
    // changing still gets its refresh within kSettleMs.
    if (!settle_.isActive())
        settle_.start();
}

} // namespace bms
