// `station report --html FILE`: the quality figures as one HTML page that
// needs nothing beside it (styles inline, charts as inline SVG), for e-mail.
#include "StationQuality.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace bms::cli {

using namespace bms::records;

namespace {

constexpr int kWidth = 760, kHeight = 220, kLeft = 60, kRight = 20, kTop = 14, kBottom = 40;

const char kStyle[] = "body{font-family:sans-serif;margin:24px;color:#222}table{border-collapse:collapse;margin:8px 0 20px}"
                      "td,th{border:1px solid #ccc;padding:3px 8px;text-align:right}th{background:#eee}"
                      "td:first-child,th:first-child{text-align:left}.alert{color:#b00}svg{display:block;margin:8px 0 20px}"
                      "h2{margin-top:28px;border-bottom:1px solid #ccc}";

struct Outcome {
    const char* name;
    const char* colour;
};
const Outcome kOutcomes[] = {{"PASS", "#3a9d3a"}, {"FAIL", "#d03030"}, {"ERROR", "#e09020"}, {"ABORTED", "#8080a0"}};

QString E(const QString& s)
{
    return s.toHtmlEscaped();
}

QString Num(std::optional<double> v, int decimals = 2)
{
    return v ? QString::number(*v, 'f', decimals) : QStringLiteral("-");
}

QString Pct(std::optional<double> v)
{
    return v ? QString::number(*v, 'f', 1) + QStringLiteral(" %") : QStringLiteral("-");
}

QString Row(const QStringList& cells, const char* tag = "td")
{
    QString row = QStringLiteral("<tr>");
    for (const QString& c : cells)
        row += QStringLiteral("<%1>%2</%1>").arg(QLatin1String(tag), c);
    return row + QStringLiteral("</tr>\n");
}

// Maps a value range onto the plot's pixels.
struct Axis {
    double lo, hi;
    double y(double v) const
    {
        const double span = hi > lo ? hi - lo : 1;
        return kTop + (kHeight - kTop - kBottom) * (1 - (v - lo) / span);
    }
};

QString SvgOpen()
{
    return QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" font-size=\"10\">"
                          "<rect width=\"%1\" height=\"%2\" fill=\"#fff\" stroke=\"#ccc\"/>")
        .arg(kWidth)
        .arg(kHeight);
}

QString HLine(double y, const char* colour, const QString& label, bool dashed)
{
    return QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" stroke=\"%4\"%5/>"
                          "<text x=\"2\" y=\"%6\" fill=\"%4\">%7</text>")
        .arg(kLeft)
        .arg(kWidth - kRight)
        .arg(y, 0, 'f', 1)
        .arg(QLatin1String(colour), dashed ? QStringLiteral(" stroke-dasharray=\"4 3\"") : QString())
        .arg(y + 3, 0, 'f', 1)
        .arg(E(label));
}

QString StackedYield(const std::vector<YieldRow>& rows)
{
    if (rows.empty())
        return {};
    qint64 most = 1;
    for (const YieldRow& r : rows)
        most = std::max(most, r.runs);
    const Axis axis{0, double(most)};
    const double slot = double(kWidth - kLeft - kRight) / double(rows.size());
    QString svg = SvgOpen() + HLine(axis.y(double(most)), "#999", QString::number(most), true);
    for (size_t i = 0; i < rows.size(); ++i) {
        const YieldRow& r = rows[i];
        const qint64 counts[] = {r.pass, r.fail, r.error, r.aborted};
        double base = 0;
        const double x = kLeft + slot * double(i) + slot * 0.1;
        for (int k = 0; k < 4; ++k) {
            const double top = base + double(counts[k]);
            svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"><title>%6 %7: %8</title></rect>")
                       .arg(x, 0, 'f', 1)
                       .arg(axis.y(top), 0, 'f', 1)
                       .arg(slot * 0.8, 0, 'f', 1)
                       .arg(axis.y(base) - axis.y(top), 0, 'f', 1)
                       .arg(QLatin1String(kOutcomes[k].colour), E(r.group), QLatin1String(kOutcomes[k].name))
                       .arg(counts[k]);
            base = top;
        }
        if (rows.size() <= 16 || i % ((rows.size() + 15) / 16) == 0)
            svg += QStringLiteral("<text x=\"%1\" y=\"%2\">%3</text>").arg(x, 0, 'f', 1).arg(kHeight - kBottom + 14).arg(E(r.group));
    }
    for (int k = 0; k < 4; ++k)
        svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"10\" height=\"10\" fill=\"%3\"/><text x=\"%4\" y=\"%5\">%6</text>")
                   .arg(kLeft + k * 90)
                   .arg(kHeight - 16)
                   .arg(QLatin1String(kOutcomes[k].colour))
                   .arg(kLeft + k * 90 + 14)
                   .arg(kHeight - 7)
                   .arg(QLatin1String(kOutcomes[k].name));
    return svg + QStringLiteral("</svg>\n");
}

QString ParetoChart(const Pareto& p)
{
    if (p.failures.empty())
        return {};
    const size_t bars = std::min<size_t>(p.failures.size(), 12);
    const Axis counts{0, double(p.failures.front().count)}, cumulative{0, 100};
    const double slot = double(kWidth - kLeft - kRight) / double(bars);
    QString svg = SvgOpen(), line;
    for (size_t i = 0; i < bars; ++i) {
        const ParetoRow& r = p.failures[i];
        const double x = kLeft + slot * double(i);
        svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"#d03030\"><title>%5: %6</title></rect>"
                              "<text x=\"%1\" y=\"%7\">%5</text>")
                   .arg(x + slot * 0.1, 0, 'f', 1)
                   .arg(counts.y(double(r.count)), 0, 'f', 1)
                   .arg(slot * 0.8, 0, 'f', 1)
                   .arg(counts.y(0) - counts.y(double(r.count)), 0, 'f', 1)
                   .arg(E(r.code))
                   .arg(r.count)
                   .arg(kHeight - kBottom + 14 + 10 * int(i % 2));
        line += QStringLiteral("%1,%2 ").arg(x + slot / 2, 0, 'f', 1).arg(cumulative.y(r.cumulative), 0, 'f', 1);
    }
    svg += QStringLiteral("<polyline points=\"%1\" fill=\"none\" stroke=\"#2050c0\" stroke-width=\"2\"/>").arg(line);
    svg += HLine(cumulative.y(80), "#2050c0", QStringLiteral("80 %"), true);
    return svg + QStringLiteral("</svg>\n");
}

// The individuals chart: readings in run order, centre and ±3 sigma, the
// points a run rule flagged in red.
QString IndividualsChart(const ControlChart& c)
{
    if (c.points.empty())
        return {};
    const double s = c.sigmaWithin.value_or(0);
    double lo = c.centre - 3.5 * s, hi = c.centre + 3.5 * s;
    for (const ChartPoint& p : c.points) {
        lo = std::min(lo, p.x);
        hi = std::max(hi, p.x);
    }
    const Axis axis{lo, hi};
    const double step = double(kWidth - kLeft - kRight) / double(std::max<size_t>(c.points.size() - 1, 1));
    QString svg = SvgOpen() + HLine(axis.y(c.centre), "#3a9d3a", QString::number(c.centre, 'g', 5), false);
    if (s > 0) {
        svg += HLine(axis.y(c.centre + 3 * s), "#d03030", QString::number(c.centre + 3 * s, 'g', 5), true);
        svg += HLine(axis.y(c.centre - 3 * s), "#d03030", QString::number(c.centre - 3 * s, 'g', 5), true);
    }
    QString line, marks;
    for (size_t i = 0; i < c.points.size(); ++i) {
        const ChartPoint& p = c.points[i];
        const double x = kLeft + step * double(i), y = axis.y(p.x);
        line += QStringLiteral("%1,%2 ").arg(x, 0, 'f', 1).arg(y, 0, 'f', 1);
        if (p.rules)
            marks += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"3\" fill=\"#d03030\"/>").arg(x, 0, 'f', 1).arg(y, 0, 'f', 1);
    }
    svg += QStringLiteral("<polyline points=\"%1\" fill=\"none\" stroke=\"#2050c0\"/>").arg(line) + marks;
    return svg + QStringLiteral("</svg>\n");
}

QString YieldTable(YieldBy by, const std::vector<YieldRow>& rows)
{
    QString html = QStringLiteral("<table>") + Row({E(YieldByName(by)), QStringLiteral("runs"), QStringLiteral("PASS"),
                                                    QStringLiteral("FAIL"), QStringLiteral("ERROR"), QStringLiteral("ABORTED"),
                                                    QStringLiteral("first-pass yield"), QStringLiteral("final yield"),
                                                    QStringLiteral("station losses")},
                                                   "th");
    for (const YieldRow& r : rows)
        html += Row({E(r.group), QString::number(r.runs), QString::number(r.pass), QString::number(r.fail),
                     QString::number(r.error), QString::number(r.aborted), Pct(r.firstPassYield()), Pct(r.finalYield()),
                     Pct(r.lossRate())});
    return html + QStringLiteral("</table>\n");
}

} // namespace

QString QualityHtml(const QualityFigures& f, const std::vector<ControlChart>& charts, const QString& title)
{
    QString html = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title><style>%2</style></head><body>\n"
                                  "<h1>%1</h1>\n")
                       .arg(E(title), QLatin1String(kStyle));
    const auto& total = f.yields.at(YieldBy::Total);
    if (!total.empty()) {
        const YieldRow& t = total.front();
        html += QStringLiteral("<p>%1 runs: first-pass yield <b>%2</b>, final yield <b>%3</b>, station losses %4 "
                               "(ERROR %5, ABORTED %6).</p>\n")
                    .arg(t.runs)
                    .arg(Pct(t.firstPassYield()), Pct(t.finalYield()), Pct(t.lossRate()))
                    .arg(t.error)
                    .arg(t.aborted);
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    html += QStringLiteral("<h2>Alerts</h2>\n<ul>\n");
    int current = 0;
    for (const RuleAlert& a : f.alerts)
        if (a.current && ++current)
            html += QStringLiteral("<li class=\"alert\">%1</li>\n").arg(E(AlertText(a, now)));
    if (current == 0)
        html += QStringLiteral("<li>No run rule holds at the newest reading of any chart.</li>\n");
    html += QStringLiteral("</ul>\n<h2>Yield by day</h2>\n") + StackedYield(f.yields.at(YieldBy::Day));
    for (YieldBy by : {YieldBy::Day, YieldBy::Shift, YieldBy::Station, YieldBy::Fixture, YieldBy::Operator})
        html += YieldTable(by, f.yields.at(by));
    html += QStringLiteral("<h2>Failure Pareto</h2>\n") + ParetoChart(f.pareto);
    for (const auto* list : {&f.pareto.failures, &f.pareto.losses}) {
        if (list->empty())
            continue;
        html += QStringLiteral("<table>") + Row({list == &f.pareto.failures ? QStringLiteral("FAIL code") : QStringLiteral("station loss code"),
                                                  QStringLiteral("runs"), QStringLiteral("share"), QStringLiteral("cumulative")},
                                                 "th");
        for (const ParetoRow& r : *list)
            html += Row({E(r.code), QString::number(r.count), Pct(r.share), Pct(r.cumulative)});
        html += QStringLiteral("</table>\n");
    }
    html += QStringLiteral("<h2>Capability</h2>\n<table>")
        + Row({QStringLiteral("measurement"), QStringLiteral("unit"), QStringLiteral("LSL"), QStringLiteral("USL"), QStringLiteral("n"),
               QStringLiteral("mean"), QStringLiteral("overall &sigma;"), QStringLiteral("within &sigma;"), QStringLiteral("Cp"),
               QStringLiteral("Cpk"), QStringLiteral("Pp"), QStringLiteral("Ppk"), QStringLiteral("outside")},
              "th");
    for (const Capability& c : f.capability)
        html += Row({E(c.key), E(c.unit), Num(c.low, 3), Num(c.high, 3), QString::number(c.n), QString::number(c.mean, 'g', 6),
                     Num(c.sigmaOverall, 4), Num(c.sigmaWithin, 4), Num(c.cp), Num(c.cpk), Num(c.pp), Num(c.ppk),
                     QString::number(c.outsidePercent(), 'f', 2) + QStringLiteral(" %")});
    html += QStringLiteral("</table>\n");
    if (!charts.empty())
        html += QStringLiteral("<h2>Control charts</h2>\n");
    for (const ControlChart& c : charts)
        html += QStringLiteral("<h3>%1, fixture %2 (station %3): %4 readings, the newest %5</h3>\n")
                    .arg(E(c.key), E(c.fixture), E(c.stationId))
                    .arg(c.n)
                    .arg(c.points.size())
            + IndividualsChart(c);
    return html + QStringLiteral("</body></html>\n");
}

} // namespace bms::cli
