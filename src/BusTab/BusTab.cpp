#include "BusTab.h"

#include "WorkbookDocument.h"

#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace bms::bustab {

BusTab::BusTab(QWidget* parent) : QWidget(parent), sorted_(new QSortFilterProxyModel(this))
{
    setObjectName(QStringLiteral("ts7"));
    port_ = new QComboBox(this);
    port_->setEditable(true);
    port_->setMinimumContentsLength(24);
    port_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    baud_ = new QComboBox(this);
    baud_->addItems({QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                     QStringLiteral("115200")});
    baud_->setCurrentText(QStringLiteral("19200"));
    watchButton_ = new QPushButton(QStringLiteral("Watch bus"), this);
    logButton_ = new QPushButton(QStringLiteral("Log bus"), this);
    status_ = new QLabel(QStringLiteral("Not watching"), this);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_ = new QLabel(this);
    summary_->setTextFormat(Qt::PlainText);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Port"), this));
    top->addWidget(port_);
    top->addWidget(new QLabel(QStringLiteral("Baud"), this));
    top->addWidget(baud_);
    top->addWidget(watchButton_);
    top->addWidget(logButton_);
    top->addWidget(status_, 1);

    sorted_->setSourceModel(&model_);
    sorted_->setSortRole(Qt::UserRole);
    table_ = new QTableView(this);
    table_->setModel(sorted_);
    table_->setSortingEnabled(true);
    table_->sortByColumn(RackModel::Address, Qt::AscendingOrder);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->setVisible(false);
    table_->verticalHeader()->setDefaultSectionSize(22);
    // The columns are fitted to their contents when packs are found and
    // once a second: a header that fits them itself measures every cell
    // again after each pack's reading.
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setStretchLastSection(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(summary_);
    layout->addWidget(table_, 1);

    connect(watchButton_, &QPushButton::clicked, this, [this] { toggleWatch(false); });
    connect(logButton_, &QPushButton::clicked, this, [this] { toggleWatch(true); });
    connect(&watch_, &BusWatch::scanned, this, [this](const bus::ScanResult& scan) {
        model_.setScan(scan);
        fitColumns();
        QStringList at;
        for (int a : scan.collisions)
            at.append(QStringLiteral("%1").arg(a, 2, 16, QLatin1Char('0')).toUpper());
        status_->setText(QStringLiteral("%1 packs found").arg(scan.packs.size())
                         + (at.isEmpty() ? QString() : QStringLiteral("; more than one pack answers at ") + at.join(QStringLiteral(", "))));
        showSummary();
    });
    connect(&watch_, &BusWatch::reading, this, [this](const bus::PackReading& r) {
        model_.setReading(r);
        showSummary();
    });
    connect(&watch_, &BusWatch::swept, this, [this](const bus::SweepEnd& s) {
        lastSweep_ = s;
        showSummary();
    });
    connect(&watch_, &BusWatch::ended, this, &BusTab::ended);
    connect(table_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        const int address = model_.address(sorted_->mapToSource(index).row());
        if (address < 0)
            return;
        watch_.stop();
        Q_EMIT packChosen(port(), address);
    });
    // The ages of the last answers.
    auto* ticker = new QTimer(this);
    ticker->setInterval(1000);
    connect(ticker, &QTimer::timeout, this, [this] {
        model_.tick(QDateTime::currentDateTime());
        if (isVisible())
            fitColumns();
    });
    ticker->start();
    showSummary();
}

QString BusTab::port() const
{
    return port_->currentText().trimmed();
}

void BusTab::setPorts(const QStringList& ports, const QString& current)
{
    if (watch_.running())
        return;
    const QString typed = port();
    port_->clear();
    port_->addItems(ports);
    port_->setCurrentText(typed.isEmpty() ? current : typed);
}

void BusTab::toggleWatch(bool log)
{
    if (watch_.running()) {
        watch_.stop();
        status_->setText(QStringLiteral("Stopping..."));
        return;
    }
    if (port().isEmpty()) {
        status_->setText(QStringLiteral("Choose the port of the bus first"));
        return;
    }
    if (windowHoldsPort && windowHoldsPort(port())) {
        status_->setText(QStringLiteral("The port is open on Data Collection: press Close Port there first"));
        return;
    }
    logPath_.clear();
    if (log) {
        QDir().mkpath(WorkbookFolder());
        logPath_ = QDir(WorkbookFolder()).filePath(
            QStringLiteral("Bus log_%1.xlsx").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    }
    QString error;
    if (!watch_.start(port(), baud_->currentText().toInt(), logPath_, error)) {
        status_->setText(error);
        return;
    }
    lastSweep_ = {};
    watchButton_->setText(QStringLiteral("Stop"));
    logButton_->setEnabled(false);
    port_->setEnabled(false);
    baud_->setEnabled(false);
    status_->setText(log ? QStringLiteral("Scanning; logging to %1").arg(logPath_) : QStringLiteral("Scanning..."));
}

void BusTab::ended(int exit, const QString& problem)
{
    watchButton_->setText(QStringLiteral("Watch bus"));
    logButton_->setEnabled(true);
    port_->setEnabled(true);
    baud_->setEnabled(true);
    QString text = exit == 0 || exit == 1 ? QStringLiteral("Stopped") : QStringLiteral("Stopped: %1").arg(problem);
    if (!logPath_.isEmpty())
        text += QStringLiteral("; the rack is logged in %1").arg(logPath_);
    status_->setText(text);
    showSummary();
}

void BusTab::fitColumns()
{
    // The last column takes the width that is left.
    for (int c = 0; c + 1 < RackModel::ColumnCount; ++c)
        table_->resizeColumnToContents(c);
}

void BusTab::showSummary()
{
    const bus::RackSummary s = model_.summary();
    auto num = [](const std::optional<int>& v, double f, int decimals) {
        return v ? QString::number(*v / f, 'f', decimals) : QStringLiteral("–");
    };
    QString text = QStringLiteral("Current %1 A    SOC %2 – %3 % (difference %4 %)    Highest cell spread %5 mV    "
                                  "Packs answering %6/%7")
                       .arg(QString::number(s.currentSum / 1000.0, 'f', 1), num(s.lowestSoc, 10, 1),
                            num(s.highestSoc, 10, 1), num(s.socDifference(), 10, 1), num(s.highestSpread, 1, 0))
                       .arg(s.answering)
                       .arg(s.packs);
    if (lastSweep_.sweep > 0)
        text += QStringLiteral("    Sweep %1 s (wire time %2 s)")
                    .arg(QString::number(lastSweep_.seconds, 'f', 2), QString::number(lastSweep_.wireSeconds, 'f', 2));
    summary_->setText(text);
}

} // namespace bms::bustab
