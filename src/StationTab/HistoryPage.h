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
class QPushButton;
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
    // What became of a reprint, in words.
    void setStatus(const QString& text);

    QTableWidget* table() const { return table_; }
    // The runs shown, in table order.
    QStringList runIds() const { return runIds_; }

Q_SIGNALS:
    void searchRequested(const QString& text);
    void recordRequested(const QString& runId);
    // The label of the run selected, printed again for `reason`.
    void reprintRequested(const QString& runId, const QString& reason);

private:
    QLineEdit* search_;
    QTableWidget* table_;
    QLabel* status_;
    QLineEdit* reason_;
    QPushButton* reprint_;
    QStringList runIds_;
};

} // namespace bms::stationtab
