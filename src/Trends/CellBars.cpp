#include "CellBars.h"

#include <QDateTime>
#include <cmath>

namespace bms::trends {

namespace {

QCPBars* Bars(QCPAxis* key, QCPAxis* value, QColor colour, const QString& name)
{
    auto* bars = new QCPBars(key, value);
    bars->setName(name);
    bars->setWidth(0.7);
    bars->setPen(QPen(colour.darker(130)));
    bars->setBrush(colour);
    return bars;
}

} // namespace

CellBars::CellBars(QWidget* parent) : QCustomPlot(parent)
{
    setObjectName(QStringLiteral("cellBars"));
    setAutoAddPlottableToLegend(false);
    QFont small = font();
    small.setPointSizeF(std::max(7.0, small.pointSizeF() - 1));

    QCPAxis* key = xAxis;
    QCPAxis* value = yAxis;
    key->setLabel(QStringLiteral("Cell"));
    value->setLabel(QStringLiteral("Cell voltage (mV)"));
    for (QCPAxis* axis : {key, value}) {
        axis->setLabelFont(small);
        axis->setTickLabelFont(small);
    }
    QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
    ticker->setTickStep(1);
    ticker->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
    key->setTicker(ticker);
    key->grid()->setVisible(false);

    normal_ = Bars(key, value, QColor(0x7f9fbf), QStringLiteral("Cell"));
    highest_ = Bars(key, value, QColor(0xd62728), QStringLiteral("Highest"));
    lowest_ = Bars(key, value, QColor(0x1f4e9c), QStringLiteral("Lowest"));

    auto* title = new QCPTextElement(this, QString(), small);
    title->setObjectName(QStringLiteral("cellBarsTitle"));
    plotLayout()->insertRow(0);
    plotLayout()->addElement(0, 0, title);

    spread_ = new QCPItemText(this);
    spread_->setPositionAlignment(Qt::AlignTop | Qt::AlignHCenter);
    spread_->position->setType(QCPItemPosition::ptAxisRectRatio);
    spread_->position->setCoords(0.5, 0.02);
    QFont bold = small;
    bold.setBold(true);
    spread_->setFont(bold);
    spread_->setBrush(QColor(255, 255, 255, 210));
    spread_->setPadding(QMargins(4, 1, 4, 1));
    showCells({}, 0);
}

void CellBars::showCells(const SampleValues& values, int64_t timeMs)
{
    QVector<double> keys[3], heights[3];
    double lo = NAN, hi = NAN;
    int lowCell = 0, highCell = 0;
    cells_ = 0;
    for (int i = 0; timeMs != 0 && i < kMaxCells; ++i) {
        const float v = values[size_t(FirstCell + i)];
        if (std::isnan(v))
            continue;
        ++cells_;
        if (std::isnan(lo) || v < lo) {
            lo = v;
            lowCell = i + 1;
        }
        if (std::isnan(hi) || v > hi) {
            hi = v;
            highCell = i + 1;
        }
    }
    for (int i = 0; cells_ > 0 && i < kMaxCells; ++i) {
        const float v = values[size_t(FirstCell + i)];
        if (std::isnan(v))
            continue;
        const int which = i + 1 == highCell && lo != hi ? 1 : i + 1 == lowCell && lo != hi ? 2 : 0;
        keys[which].append(i + 1);
        heights[which].append(v);
    }
    normal_->setData(keys[0], heights[0], true);
    highest_->setData(keys[1], heights[1], true);
    lowest_->setData(keys[2], heights[2], true);

    auto* title = qobject_cast<QCPTextElement*>(plotLayout()->element(0, 0));
    if (cells_ == 0) {
        spread_->setText(QString());
        spread_->setVisible(false);
        title->setText(QStringLiteral("Cells"));
        xAxis->setRange(0.4, 16.6);
        yAxis->setRange(3000, 3500);
    } else {
        spread_->setText(QStringLiteral("Spread %1 mV\nhigh %2 mV (cell %3)\nlow %4 mV (cell %5)")
                             .arg(hi - lo)
                             .arg(hi)
                             .arg(highCell)
                             .arg(lo)
                             .arg(lowCell));
        spread_->setVisible(true);
        title->setText(QStringLiteral("Cells at ") + QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("hh:mm:ss")));
        int last = 0;
        for (int i = 0; i < kMaxCells; ++i)
            last = std::isnan(values[size_t(FirstCell + i)]) ? last : i + 1;
        xAxis->setRange(0.4, last + 0.6);
        // Room above the bars for the spread text.
        const double span = std::max(hi - lo, 10.0);
        yAxis->setRange(lo - span * 0.6, hi + span * 1.6);
    }
    replot(QCustomPlot::rpQueuedReplot);
}

} // namespace bms::trends
