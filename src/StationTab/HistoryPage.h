// The Station tab's history: a search box (a barcode, UID or serial
// number; empty: the latest runs) and the table of the runs found, newest
// first; a double-click on a run shows its whole record. The searches run
// on the records worker; this page only asks and shows.
#pragma once

#include "Queries.h"

#include <QJsonObject>
#include <QWidget>
#include <vector>

class QLabel;
class QLineEdit;
class QTableWidget;

namespace bms::stationtab {

class HistoryPage : public QWidget {
    Q_OBJECT
public:
    explicit HistoryPage(QWidget* parent = nullptr);

    QString searchText() const;
    void showRuns(const std::vector<records::RunSummary>& runs, const QString& error);
    // Opens a window with the record as text.
    void showRecord(const QJsonObject& record, const QString& error);

    QTableWidget* table() const { return table_; }
    // The runs shown, in table order.
    QStringList runIds() const { return runIds_; }

Q_SIGNALS:
    void searchRequested(const QString& text);
    void recordRequested(const QString& runId);

private:
    QLineEdit* search_;
    QTableWidget* table_;
    QLabel* status_;
    QStringList runIds_;
};

} // namespace bms::stationtab
