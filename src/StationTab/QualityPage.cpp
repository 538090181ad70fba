#include "QualityPage.h"

#include "QCustomPlotInclude.h"
#include "QualityCharts.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <map>

namespace bms::stationtab {

using namespace bms::records;

namespace {

const QColor kStandsOut(255, 190, 120);

struct Period {
    const char* name;
    qint64 hours; // 0: since the shift began; -1: since midnight
};
const Period kPeriods[] = {{"This shift", 0}, {"Today", -1}, {"Last 24 hours", 24}, {"Last 7 days", 24 * 7}, {"Last 30 days", 24 * 30}};

QString Fixed(std::optional<double> v, int decimals = 2)
{
    return v ? QString::number(*v, 'f', decimals) : QStringLiteral("-");
}

QString Percent(std::optional<double> v)
{
    return v ? QString::number(*v, 'f', 1) + QStringLiteral(" %") : QStringLiteral("-");
}

QTableWidget* NewTable(QWidget* parent, const QString& name)
{
    auto* table = new QTableWidget(parent);
    table->setObjectName(name);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setMinimumSize(240, 120);
    return table;
}

QTableWidgetItem* Cell(const QString& text, bool marked = false, const QString& why = {})
{
    auto* item = new QTableWidgetItem(text);
    if (marked) {
        item->setBackground(kStandsOut);
        item->setToolTip(why);
    }
    return item;
}

} // namespace

QualityPage::QualityPage(QWidget* parent) : QWidget(parent)
{
    period_ = new QComboBox(this);
    period_->setObjectName(QStringLiteral("qualityPeriod"));
    for (const Period& p : kPeriods)
        period_->addItem(QLatin1String(p.name));
    period_->setCurrentIndex(1);
    fixture_ = new QComboBox(this);
    fixture_->setObjectName(QStringLiteral("qualityFixture"));
    fixture_->addItem(QStringLiteral("All fixtures"), QString());
    auto* refresh = new QPushButton(QStringLiteral("Refresh"), this);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("qualitySummary"));
    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QStringLiteral("Period"), this));
    controls->addWidget(period_);
    controls->addWidget(new QLabel(QStringLiteral("Fixture"), this));
    controls->addWidget(fixture_);
    controls->addWidget(refresh);
    controls->addWidget(summary_, 1);

    yield_ = NewQualityPlot(this, QStringLiteral("qualityYield"));
    pareto_ = NewQualityPlot(this, QStringLiteral("qualityPareto"));
    histogram_ = NewQualityPlot(this, QStringLiteral("qualityHistogram"));
    individuals_ = NewQualityPlot(this, QStringLiteral("qualityIndividuals"));
    movingRange_ = NewQualityPlot(this, QStringLiteral("qualityMovingRange"));
    movingRange_->setMinimumHeight(80);
    fixtures_ = NewTable(this, QStringLiteral("qualityFixtures"));
    runs_ = NewTable(this, QStringLiteral("qualityRuns"));
    measurement_ = new QComboBox(this);
    measurement_->setObjectName(QStringLiteral("qualityMeasurement"));
    measurement_->setMinimumContentsLength(24);
    chartFixture_ = new QComboBox(this);
    chartFixture_->setObjectName(QStringLiteral("qualityChartFixture"));
    capability_ = new QLabel(this);
    capability_->setObjectName(QStringLiteral("qualityCapability"));
    capability_->setWordWrap(true);
    runsTitle_ = new QLabel(QStringLiteral("Click a bar, a fixture or a point to see its runs"), this);

    auto* pick = new QHBoxLayout;
    pick->addWidget(new QLabel(QStringLiteral("Measurement"), this));
    pick->addWidget(measurement_, 1);
    pick->addWidget(new QLabel(QStringLiteral("Chart of fixture"), this));
    pick->addWidget(chartFixture_);
    auto* left = new QVBoxLayout;
    left->addLayout(pick);
    left->addWidget(capability_);
    left->addWidget(histogram_, 1);
    auto* middle = new QVBoxLayout;
    middle->addWidget(individuals_, 3);
    middle->addWidget(movingRange_, 2);
    auto* right = new QVBoxLayout;
    right->addWidget(runsTitle_);
    right->addWidget(runs_, 1);

    auto* grid = new QGridLayout;
    grid->addWidget(yield_, 0, 0);
    grid->addWidget(pareto_, 0, 1);
    grid->addWidget(fixtures_, 0, 2);
    grid->addLayout(left, 1, 0);
    grid->addLayout(middle, 1, 1);
    grid->addLayout(right, 1, 2);
    for (int c = 0; c < 3; ++c)
        grid->setColumnStretch(c, 1);
    grid->setRowStretch(0, 2);
    grid->setRowStretch(1, 3);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addLayout(grid, 1);

    connect(refresh, &QPushButton::clicked, this, &QualityPage::refresh);
    connect(period_, &QComboBox::currentIndexChanged, this, &QualityPage::refresh);
    connect(fixture_, &QComboBox::currentIndexChanged, this, &QualityPage::refresh);
    connect(measurement_, &QComboBox::currentIndexChanged, this, &QualityPage::requestMeasurement);
    connect(chartFixture_, &QComboBox::currentIndexChanged, this, [this] { showMeasurement(detail_); });
    const auto row = [](QCPAbstractPlottable* p, int index) { return int(p->interface1D()->dataMainKey(index) + 0.5); };
    connect(yield_, &QCustomPlot::plottableClick, this, [this, row](QCPAbstractPlottable* p, int i, QMouseEvent*) { yieldClicked(row(p, i)); });
    connect(pareto_, &QCustomPlot::plottableClick, this, [this, row](QCPAbstractPlottable* p, int i, QMouseEvent*) { paretoClicked(row(p, i)); });
    connect(individuals_, &QCustomPlot::plottableClick, this,
            [this, row](QCPAbstractPlottable* p, int i, QMouseEvent*) { chartClicked(row(p, i)); });
    connect(fixtures_, &QTableWidget::cellClicked, this, [this](int r, int) {
        if (const auto* item = fixtures_->item(r, 0)) {
            RunFilter f = filter();
            f.fixture = item->text();
            listRuns(f, QStringLiteral("Runs of fixture %1").arg(item->text()));
        }
    });
    connect(runs_, &QTableWidget::cellDoubleClicked, this, [this](int r, int) {
        if (r < runIds_.size())
            Q_EMIT recordRequested(runIds_[r]);
    });
}

void QualityPage::setStation(const QString& stationId, const QDateTime& shiftStart)
{
    stationId_ = stationId;
    shiftStart_ = shiftStart;
}

RunFilter QualityPage::filter() const
{
    RunFilter f;
    f.station = stationId_;
    f.fixture = fixture_->currentData().toString();
    const QDateTime now = QDateTime::currentDateTime();
    const Period& p = kPeriods[std::max(0, period_->currentIndex())];
    if (p.hours == 0)
        f.sinceMs = (shiftStart_.isValid() ? shiftStart_ : QDateTime(now.date(), QTime(0, 0))).toMSecsSinceEpoch();
    else if (p.hours < 0)
        f.sinceMs = QDateTime(now.date(), QTime(0, 0)).toMSecsSinceEpoch();
    else
        f.sinceMs = now.toMSecsSinceEpoch() - p.hours * 3600000LL;
    return f;
}

QString QualityPage::measurement() const
{
    return measurement_->currentText();
}

void QualityPage::refresh()
{
    summary_->setText(QStringLiteral("Reading the records..."));
    Q_EMIT overviewRequested(filter());
}

void QualityPage::requestMeasurement()
{
    if (!measurement_->currentText().isEmpty())
        Q_EMIT measurementRequested(filter(), measurement_->currentText());
}

void QualityPage::showOverview(const QualityOverview& o)
{
    overview_ = o;
    if (!o.error.isEmpty()) {
        summary_->setText(QStringLiteral("The records cannot be read: ") + o.error.section(QLatin1Char('\n'), 0, 0));
        summary_->setToolTip(o.error);
        return;
    }
    summary_->setToolTip({});
    if (!o.total.empty()) {
        const YieldRow& t = o.total.front();
        summary_->setText(QStringLiteral("%1 runs: first-pass yield %2, final yield %3, station losses %4 (ERROR %5, ABORTED %6)")
                              .arg(t.runs)
                              .arg(Percent(t.firstPassYield()), Percent(t.finalYield()), Percent(t.lossRate()))
                              .arg(t.error)
                              .arg(t.aborted));
    } else {
        summary_->setText(QStringLiteral("No runs in this period"));
    }
    PlotYieldOverTime(yield_, o.overTime);
    PlotPareto(pareto_, o.pareto);
    {
        const QSignalBlocker block(fixture_);
        const QString chosen = fixture_->currentData().toString();
        for (const YieldRow& r : o.fixtures)
            if (fixture_->findData(r.group) < 0)
                fixture_->addItem(QStringLiteral("Fixture %1").arg(r.group), r.group);
        fixture_->setCurrentIndex(std::max(0, fixture_->findData(chosen)));
    }
    {
        const QSignalBlocker block(measurement_);
        const QString chosen = measurement_->currentText();
        measurement_->clear();
        for (const Capability& c : o.capability)
            if (measurement_->findText(c.key) < 0)
                measurement_->addItem(c.key);
        measurement_->setCurrentIndex(std::max(0, measurement_->findText(chosen)));
    }
    fillFixtures(o);
    requestMeasurement();
}

void QualityPage::fillFixtures(const QualityOverview& o)
{
    // One column per measurement: its mean at each fixture.
    QStringList keys;
    std::map<QString, const Capability*> line;
    for (const Capability& c : o.capability)
        if (!line.count(c.key)) {
            keys.append(c.key);
            line[c.key] = &c;
        }
    QStringList headers = {QStringLiteral("fixture"), QStringLiteral("runs"), QStringLiteral("first-pass"),
                           QStringLiteral("final"), QStringLiteral("losses")};
    for (const QString& k : keys)
        headers.append(k.section(QLatin1Char('.'), -1));
    fixtures_->clear();
    fixtures_->setColumnCount(int(headers.size()));
    fixtures_->setHorizontalHeaderLabels(headers);
    for (int i = 5; i < headers.size(); ++i)
        fixtures_->horizontalHeaderItem(i)->setToolTip(keys[i - 5]);
    fixtures_->setRowCount(int(o.fixtures.size()));
    const YieldRow all = o.total.empty() ? YieldRow{} : o.total.front();
    for (int r = 0; r < int(o.fixtures.size()); ++r) {
        const YieldRow& y = o.fixtures[size_t(r)];
        const bool low = YieldStandsOut(y, all);
        fixtures_->setItem(r, 0, Cell(y.group, low, QStringLiteral("first-pass yield well below the line's")));
        fixtures_->setItem(r, 1, Cell(QString::number(y.runs)));
        fixtures_->setItem(r, 2, Cell(Percent(y.firstPassYield()), low, QStringLiteral("more than 3 standard errors below the line's")));
        fixtures_->setItem(r, 3, Cell(Percent(y.finalYield())));
        fixtures_->setItem(r, 4, Cell(Percent(y.lossRate())));
        for (int k = 0; k < keys.size(); ++k) {
            const Capability* here = nullptr;
            std::vector<double> means;
            for (const Capability& c : o.perChart)
                if (c.key == keys[k] && c.limits == line[keys[k]]->limits) {
                    means.push_back(c.mean);
                    if (c.fixture == y.group)
                        here = &c;
                }
            if (!here) {
                fixtures_->setItem(r, 5 + k, Cell(QStringLiteral("-")));
                continue;
            }
            const double median = Median(means);
            const bool out = MeanStandsOut(*here, median);
            fixtures_->setItem(r, 5 + k, Cell(QString::number(here->mean, 'g', 5), out,
                                              QStringLiteral("mean more than 3 standard errors from the fixtures' median %1")
                                                  .arg(median, 0, 'g', 5)));
            if (out)
                fixtures_->item(r, 0)->setBackground(kStandsOut);
        }
    }
    fixtures_->resizeColumnsToContents();
}

void QualityPage::showMeasurement(const MeasurementDetail& d)
{
    if (&d != &detail_)
        detail_ = d;
    const Capability& c = detail_.capability;
    capability_->setText(!detail_.error.isEmpty()
                             ? QStringLiteral("The records cannot be read: ") + detail_.error.section(QLatin1Char('\n'), 0, 0)
                             : QStringLiteral("n %1, mean %2 %3, sigma %4 (within %5); Cp %6, Cpk %7, Pp %8, Ppk %9; outside %10 %")
                                   .arg(c.n)
                                   .arg(c.mean, 0, 'g', 5)
                                   .arg(c.unit, Fixed(c.sigmaOverall, 3), Fixed(c.sigmaWithin, 3), Fixed(c.cp), Fixed(c.cpk),
                                        Fixed(c.pp), Fixed(c.ppk))
                                   .arg(c.outsidePercent(), 0, 'f', 2));
    PlotHistogram(histogram_, detail_);
    {
        const QSignalBlocker block(chartFixture_);
        const QString chosen = chartFixture_->currentText();
        chartFixture_->clear();
        for (const ControlChart& chart : detail_.charts)
            chartFixture_->addItem(chart.fixture);
        chartFixture_->setCurrentIndex(std::max(0, chartFixture_->findText(chosen)));
    }
    const int index = chartFixture_->currentIndex();
    const ControlChart chart = index >= 0 && index < int(detail_.charts.size()) ? detail_.charts[size_t(index)] : ControlChart{};
    PlotIndividuals(individuals_, chart);
    PlotMovingRange(movingRange_, chart);
}

void QualityPage::showRuns(const std::vector<RunSummary>& runs, const QString& error)
{
    runIds_.clear();
    runs_->clear();
    runs_->setColumnCount(5);
    runs_->setHorizontalHeaderLabels({QStringLiteral("started"), QStringLiteral("outcome"), QStringLiteral("barcode"),
                                      QStringLiteral("fixture"), QStringLiteral("failure")});
    runs_->setRowCount(int(runs.size()));
    for (int r = 0; r < int(runs.size()); ++r) {
        const RunSummary& s = runs[size_t(r)];
        runIds_.append(s.runId);
        const QStringList cells = {s.startedAt.left(19).replace(QLatin1Char('T'), QLatin1Char(' ')), s.outcome, s.barcode,
                                   s.fixture, s.failureCode};
        for (int c = 0; c < cells.size(); ++c)
            runs_->setItem(r, c, Cell(cells[c]));
    }
    runs_->resizeColumnsToContents();
    if (!error.isEmpty())
        runsTitle_->setText(QStringLiteral("The runs cannot be read: ") + error.section(QLatin1Char('\n'), 0, 0));
}

void QualityPage::listRuns(RunFilter f, const QString& what)
{
    f.limit = 500;
    runsTitle_->setText(what + QStringLiteral(" (double-click opens the record)"));
    Q_EMIT runsRequested(f);
}

void QualityPage::yieldClicked(int row)
{
    if (row < 0 || row >= int(overview_.overTime.size()))
        return;
    const YieldRow& y = overview_.overTime[size_t(row)];
    // The group's start on the station's clock, which is this PC's.
    const qint64 offset = QDateTime::currentDateTime().offsetFromUtc();
    const qint64 length = overview_.timeBy == YieldBy::Hour ? 3600 : 86400;
    RunFilter f = filter();
    f.sinceMs = std::max(f.sinceMs.value_or(0), (y.localStartS - offset) * 1000);
    f.untilMs = (y.localStartS - offset + length) * 1000;
    listRuns(f, QStringLiteral("Runs of %1").arg(y.group));
}

void QualityPage::paretoClicked(int row)
{
    if (row < 0 || row >= int(overview_.pareto.failures.size()))
        return;
    RunFilter f = filter();
    f.outcome = QStringLiteral("FAIL");
    f.failureCode = overview_.pareto.failures[size_t(row)].code;
    listRuns(f, QStringLiteral("FAIL runs of %1").arg(f.failureCode));
}

void QualityPage::chartClicked(int point)
{
    const int index = chartFixture_->currentIndex();
    if (index < 0 || index >= int(detail_.charts.size()))
        return;
    const auto& points = detail_.charts[size_t(index)].points;
    if (point >= 0 && point < int(points.size()))
        Q_EMIT recordRequested(points[size_t(point)].runId);
}

} // namespace bms::stationtab
