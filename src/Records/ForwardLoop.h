// The forwarder at work in the background: its own thread with its own
// connections to the PC's and the line's databases, so a slow or silent
// server never holds the caller's event loop. It forwards what is due,
// sleeps until the next run is due (or `idleMs` when nothing waits) and
// reports the queue after every pass. Used by `station forward --loop` and
// by the window.
#pragma once

#include "Forwarder.h"

#include <QObject>
#include <QString>
#include <QThread>

namespace bms::records {

class ForwardWorker;

class ForwardLoop : public QObject {
    Q_OBJECT
public:
    ForwardLoop(const QString& localPath, const QString& lineUrl, ForwardTiming timing = {}, int idleMs = 5000,
                QObject* parent = nullptr);
    // Stops the thread; a run being copied is finished or rolled back first.
    ~ForwardLoop() override;

    void start();
    // A run has just been stored: forward without waiting for the next pass.
    void nudge();

    int waiting() const { return waiting_; }
    const QString& lastError() const { return lastError_; }
    // WaitingText of the last pass ("all forwarded", "3 runs waiting ...").
    QString stateText() const;

Q_SIGNALS:
    // After every pass, on the thread that owns the loop. `waiting` is -1
    // when the PC's database could not be read.
    void passed(int forwarded, int waiting, const QString& error);

private:
    QThread thread_;
    ForwardWorker* worker_ = nullptr;
    int waiting_ = -1;
    QString lastError_;
};

} // namespace bms::records
