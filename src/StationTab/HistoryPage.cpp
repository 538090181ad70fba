#include "HistoryPage.h"

#include "Outcome.h"
#include "RecordText.h"
#include "StationWords.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace bms::stationtab {

namespace {

const char* const kColumns[] = {"Started", "Outcome", "Barcode", "Serial number", "UID", "Station", "Failure", "Run"};

} // namespace

HistoryPage::HistoryPage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("stationHistoryPage"));
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("stationSearch"));
    search_->setPlaceholderText(QStringLiteral("Barcode, UID or serial number (empty: the latest runs)"));
    search_->setClearButtonEnabled(true);
    auto* find = new QPushButton(QStringLiteral("Search"), this);
    find->setObjectName(QStringLiteral("stationSearchButton"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("stationHistoryStatus"));

    table_ = new QTableWidget(0, int(std::size(kColumns)), this);
    table_->setObjectName(QStringLiteral("stationHistory"));
    QStringList headers;
    for (const char* c : kColumns)
        headers << QString::fromLatin1(c);
    table_->setHorizontalHeaderLabels(headers);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Search:"), this));
    row->addWidget(search_, 1);
    row->addWidget(find);
    row->addWidget(status_);
    // A label reprinted for the run selected: never without its reason.
    reason_ = new QLineEdit(this);
    reason_->setObjectName(QStringLiteral("stationReprintReason"));
    reason_->setPlaceholderText(QStringLiteral("Why the label is printed again (torn, smudged, lost...)"));
    reprint_ = new QPushButton(QStringLiteral("Reprint label"), this);
    reprint_->setObjectName(QStringLiteral("stationReprint"));
    auto* reprintRow = new QHBoxLayout;
    reprintRow->addWidget(new QLabel(QStringLiteral("Reprint:"), this));
    reprintRow->addWidget(reason_, 1);
    reprintRow->addWidget(reprint_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(table_, 1);
    layout->addLayout(reprintRow);

    auto ask = [this] { Q_EMIT searchRequested(searchText()); };
    connect(find, &QPushButton::clicked, this, ask);
    connect(search_, &QLineEdit::returnPressed, this, ask);
    connect(reprint_, &QPushButton::clicked, this, [this] {
        const int r = table_->currentRow();
        if (r < 0 || r >= runIds_.size())
            return setStatus(QStringLiteral("Choose the run whose label is printed again"));
        if (reason_->text().trimmed().isEmpty())
            return setStatus(QStringLiteral("A reprint needs its reason"));
        Q_EMIT reprintRequested(runIds_[r], reason_->text().trimmed());
        reason_->clear();
    });
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int r, int) {
        if (r >= 0 && r < runIds_.size())
            Q_EMIT recordRequested(runIds_[r]);
    });
}

void HistoryPage::setStatus(const QString& text)
{
    status_->setToolTip(text);
    status_->setText(text);
}

QString HistoryPage::searchText() const
{
    return search_->text().trimmed();
}

void HistoryPage::showRuns(const std::vector<records::RunSummary>& runs, const QString& error)
{
    // The database's own words are for the engineer: in the tooltip.
    status_->setToolTip(error);
    if (!error.isEmpty()) {
        status_->setText(QStringLiteral("The records cannot be read: ") + DatabaseErrorWords(error));
        return;
    }
    table_->setRowCount(int(runs.size()));
    runIds_.clear();
    for (int r = 0; r < int(runs.size()); ++r) {
        const records::RunSummary& run = runs[size_t(r)];
        const QString station = run.fixture.isEmpty() ? run.stationId : run.stationId + QLatin1Char('/') + run.fixture;
        const QString cells[] = {run.startedAt, run.outcome, run.barcode, run.serialNumber, run.uid, station,
                                 run.failureCode, run.runId};
        for (int c = 0; c < int(std::size(cells)); ++c)
            table_->setItem(r, c, new QTableWidgetItem(cells[c]));
        if (run.outcome != station::OutcomeName(station::Outcome::Pass))
            table_->item(r, 1)->setForeground(QColor(0xd0, 0x1c, 0x1c));
        runIds_.append(run.runId);
    }
    table_->resizeColumnsToContents();
    status_->setText(runs.size() == 1 ? QStringLiteral("1 run") : QStringLiteral("%1 runs").arg(runs.size()));
}

void HistoryPage::showRecord(const QJsonObject& record, const QString& error)
{
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("stationRecordWindow"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Station run %1").arg(record.value(QStringLiteral("run_id")).toString()));
    auto* text = new QPlainTextEdit(dialog);
    text->setObjectName(QStringLiteral("stationRecordText"));
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    text->setFont(mono);
    text->setPlainText(error.isEmpty() ? RecordText(record) : QStringLiteral("The record cannot be read: ") + DatabaseErrorWords(error));
    text->setToolTip(error);
    auto* close = new QPushButton(QStringLiteral("Close"), dialog);
    connect(close, &QPushButton::clicked, dialog, &QDialog::close);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(text, 1);
    layout->addWidget(close, 0, Qt::AlignRight);
    dialog->resize(900, 600);
    dialog->show();
}

} // namespace bms::stationtab
