// Notices serial ports coming and going: a USB box plugged in or pulled out
// (udev creates or removes its node in /dev), a virtual pack starting or
// ending (its link in the runtime folder). The kernel reports changes of
// both folders through inotify (QFileSystemWatcher); `changed` is called
// kSettleMs after the first change of a burst, well within a second of it.
#pragma once

#include "PortList.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <functional>

namespace bms {

class PortWatcher : public QObject {
public:
    explicit PortWatcher(QObject* parent = nullptr, PortListSources sources = {});

    // Called after a change of /dev or the runtime folder (a folder created
    // later, or re-created, is watched from then on).
    std::function<void()> changed;

    static constexpr int kSettleMs = 250;

private:
    void watch();
    void onChange();

    PortListSources sources_;
    QFileSystemWatcher watcher_;
    QTimer settle_;
};

} // namespace bms
