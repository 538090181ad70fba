// The bus watch of the Bus tab: `quorlex-bms-cli --json bus watch` as a
// process of its own (one process owns the port; the core's one-pack state
// stays in it), read line by line as its events come. The window never
// waits for it: starting, reading and stopping are all signals.
#pragma once

#include "BusEvents.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>
#include <optional>

namespace bms::bustab {

class BusWatch : public QObject {
    Q_OBJECT
public:
    explicit BusWatch(QObject* parent = nullptr);
    ~BusWatch() override;

    // Starts watching the packs on `port`; with `logPath` the rack is logged
    // to that workbook. False with the reason in `error` when the program
    // is not found.
    bool start(const QString& port, int baud, const QString& logPath, QString& error);
    // Ctrl-C to the process (its files are written), SIGKILL 5 s later.
    void stop();
    bool running() const { return process_.state() != QProcess::NotRunning; }
    // The program run ($QUORLEX_BMS_CLI, beside the window, or on the PATH).
    static QString program();

Q_SIGNALS:
    void scanned(const bms::bus::ScanResult& scan);
    void reading(const bms::bus::PackReading& reading);
    void swept(const bms::bus::SweepEnd& sweep);
    // The process ended and let go of the port: its exit status and the
    // reason when it failed.
    void ended(int exit, const QString& problem);

private:
    void readLines();

    QProcess process_;
    QTimer kill_;
    QString lastError_;
    // The last object's exit status and error, told once the process is gone.
    std::optional<int> endExit_;
    QString endError_;
};

} // namespace bms::bustab
