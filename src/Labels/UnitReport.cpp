#include "UnitReport.h"

#include "DurableFile.h"

#include "Barcode.h"

#include <QBuffer>
#include <QDateTime>
#include <QJsonArray>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextOption>

namespace bms::labels {

namespace {

QString Text(const QJsonValue& v)
{
    if (v.isString())
        return v.toString();
    if (v.isBool())
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (v.isDouble())
        return QString::number(v.toDouble(), 'g', 12);
    if (v.isNull() || v.isUndefined())
        return QStringLiteral("—");
    return {};
}

QString LimitsText(const QJsonObject& l)
{
    QStringList parts;
    if (l.contains(QLatin1String("low")))
        parts << QStringLiteral("≥ %1").arg(Text(l.value(QLatin1String("low"))));
    if (l.contains(QLatin1String("high")))
        parts << QStringLiteral("≤ %1").arg(Text(l.value(QLatin1String("high"))));
    if (l.contains(QLatin1String("equals")))
        parts << QStringLiteral("= %1").arg(Text(l.value(QLatin1String("equals"))));
    if (l.contains(QLatin1String("matches")))
        parts << QStringLiteral("~ %1").arg(Text(l.value(QLatin1String("matches"))));
    if (l.contains(QLatin1String("mask")))
        parts << QStringLiteral("mask 0x%1").arg(QString::number(qint64(l.value(QLatin1String("mask")).toDouble()), 16).toUpper().rightJustified(4, QLatin1Char('0')));
    return parts.join(QStringLiteral(", "));
}

double Seconds(const QJsonObject& step)
{
    const QDateTime a = QDateTime::fromString(step.value(QLatin1String("started_at")).toString(), Qt::ISODateWithMs);
    const QDateTime b = QDateTime::fromString(step.value(QLatin1String("ended_at")).toString(), Qt::ISODateWithMs);
    return a.isValid() && b.isValid() ? a.msecsTo(b) / 1000.0 : -1;
}

// Writes rows of columns down the pages of an A4 PDF.
class Pages {
public:
    Pages(QPdfWriter& writer, QPainter& painter) : writer_(writer), p_(painter)
    {
        width_ = writer.width();
        height_ = writer.height();
        font(9, false);
    }
    void font(int points, bool bold)
    {
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPointSize(points);
        f.setBold(bold);
        // No ligatures: "fi" and "ff" stay two letters, so the text read or
        // searched in the PDF is the record's ("offset", not "o\uFB00set").
        f.setStyleStrategy(QFont::PreferNoShaping);
        p_.setFont(f);
        line_ = p_.fontMetrics().height() * 1.25;
    }
    void room(double h)
    {
        if (y_ + h <= height_)
            return;
        writer_.newPage();
        y_ = 0;
    }
    void heading(const QString& text)
    {
        y_ += line_ * 0.6;
        font(11, true);
        room(line_ * 3);
        row({text}, {1.0});
        font(9, false);
    }
    // One row; `widths` are shares of the page's width. A cell too long for
    // its column wraps (at a word, else anywhere) and the row grows: a
    // report shows every value whole.
    void row(const QStringList& cells, const std::vector<double>& widths, bool bold = false)
    {
        std::vector<double> w;
        for (const double share : widths)
            w.push_back(share * width_);
        drawRow(cells, w, bold);
    }
    // A table with its header: each column as wide as its widest cell (the
    // room left spread by `shares`); when they do not all fit, the columns
    // wider than their share of the page share what the others leave, and
    // their cells wrap.
    void table(const QStringList& header, const std::vector<QStringList>& rows, const std::vector<double>& shares)
    {
        const size_t n = shares.size();
        std::vector<double> natural(n, 0);
        const auto widen = [&](const QStringList& cells) {
            for (size_t i = 0; i < n && qsizetype(i) < cells.size(); ++i)
                natural[i] = std::max(natural[i], p_.fontMetrics().horizontalAdvance(cells[qsizetype(i)]) + pad());
        };
        font(9, true);
        widen(header);
        font(9, false);
        for (const QStringList& r : rows)
            widen(r);
        double used = 0;
        for (const double w : natural)
            used += w;
        std::vector<double> widths = natural;
        if (used <= width_) {
            for (size_t i = 0; i < n; ++i)
                widths[i] += (width_ - used) * shares[i];
        } else {
            double fixed = 0, wideShares = 0;
            for (size_t i = 0; i < n; ++i) {
                if (natural[i] <= shares[i] * width_)
                    fixed += natural[i];
                else
                    wideShares += shares[i];
            }
            for (size_t i = 0; i < n; ++i)
                if (natural[i] > shares[i] * width_)
                    widths[i] = (width_ - fixed) * shares[i] / wideShares;
        }
        drawRow(header, widths, true);
        for (const QStringList& r : rows)
            drawRow(r, widths, false);
    }
    void pairs(const std::vector<std::pair<QString, QString>>& items)
    {
        for (const auto& [k, v] : items)
            row({k, v}, {0.25, 0.75});
    }
    double y() const { return y_; }
    void skip(double h) { y_ += h; }
    double width() const { return width_; }

private:
    double pad() const { return line_ * 0.3; }
    void drawRow(const QStringList& cells, const std::vector<double>& widths, bool bold)
    {
        if (bold)
            font(9, true);
        QTextOption option(Qt::AlignLeft | Qt::AlignTop);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        const double leading = (line_ - p_.fontMetrics().height()) / 2;
        double h = line_;
        for (qsizetype i = 0; i < cells.size() && i < qsizetype(widths.size()); ++i)
            h = std::max(h, p_.boundingRect(QRectF(0, 0, widths[size_t(i)] - pad(), 1e6), cells[i], option).height() + 2 * leading);
        room(h);
        double x = 0;
        for (qsizetype i = 0; i < cells.size() && i < qsizetype(widths.size()); ++i) {
            const double w = widths[size_t(i)];
            p_.drawText(QRectF(x, y_ + leading, w - pad(), h), cells[i], option);
            x += w;
        }
        y_ += h;
        if (bold)
            font(9, false);
    }

    QPdfWriter& writer_;
    QPainter& p_;
    double width_ = 0, height_ = 0, line_ = 10, y_ = 0;
};

} // namespace

bool ReportPdf(const QJsonObject& r, QByteArray& pdf, QString& error)
{
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(300);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    writer.setCreator(QStringLiteral("Quorlex BMS"));
    writer.setTitle(QStringLiteral("Unit test report %1").arg(r.value(QLatin1String("run_id")).toString()));
    QPainter painter;
    if (!painter.begin(&writer)) {
        error = QStringLiteral("the report's PDF could not be started");
        return false;
    }
    Pages pages(writer, painter);
    const QJsonObject pack = r.value(QLatin1String("pack")).toObject();
    const QJsonObject recipe = r.value(QLatin1String("recipe")).toObject();
    const QString runId = r.value(QLatin1String("run_id")).toString();

    // The run id's QR code at the top right.
    const double qr = 300 / 25.4 * 28;
    if (!DrawBarcode(painter, Symbology::QrCode, runId.isEmpty() ? QStringLiteral("-") : runId,
                     QRectF(pages.width() - qr, 0, qr, qr), error))
        return false;
    pages.font(16, true);
    pages.row({QStringLiteral("Unit test report")}, {0.7});
    pages.font(14, true);
    pages.row({r.value(QLatin1String("outcome")).toString()}, {0.7});
    pages.font(9, false);
    pages.pairs({{QStringLiteral("Run"), runId}});
    if (const QString code = r.value(QLatin1String("failure_code")).toString(); !code.isEmpty())
        pages.pairs({{QStringLiteral("Failure"), code + QLatin1Char(' ') + r.value(QLatin1String("failure_reason")).toString()}});
    pages.skip(std::max(0.0, qr - pages.y()));

    pages.heading(QStringLiteral("Pack"));
    pages.pairs({{QStringLiteral("Barcode"), Text(pack.value(QLatin1String("barcode")))},
                 {QStringLiteral("Serial number"), Text(pack.value(QLatin1String("serial_number")))},
                 {QStringLiteral("UID"), Text(pack.value(QLatin1String("uid")))},
                 {QStringLiteral("Model"), Text(pack.contains(QLatin1String("product")) ? pack.value(QLatin1String("product")) : recipe.value(QLatin1String("product")))},
                 {QStringLiteral("Hardware"), Text(pack.value(QLatin1String("hw_version")))},
                 {QStringLiteral("Firmware before"), Text(pack.value(QLatin1String("sw_version_before")))},
                 {QStringLiteral("Firmware after"), Text(pack.value(QLatin1String("sw_version_after")))}});
    pages.heading(QStringLiteral("Test"));
    const QString fixture = Text(r.value(QLatin1String("fixture")));
    pages.pairs({{QStringLiteral("Station"), r.value(QLatin1String("station_id")).toString()
                                                 + (fixture.isEmpty() || fixture == QStringLiteral("—") ? QString() : QStringLiteral(", fixture ") + fixture)},
                 {QStringLiteral("Operator"), r.value(QLatin1String("operator")).toString()},
                 {QStringLiteral("Recipe"), QStringLiteral("%1 version %2").arg(recipe.value(QLatin1String("name")).toString(),
                                                                               recipe.value(QLatin1String("version")).toString())},
                 {QStringLiteral("Recipe SHA-256"), recipe.value(QLatin1String("sha256")).toString()},
                 {QStringLiteral("Started"), r.value(QLatin1String("started_at")).toString()},
                 {QStringLiteral("Ended"), r.value(QLatin1String("ended_at")).toString()},
                 {QStringLiteral("Duration"), QStringLiteral("%1 s").arg(r.value(QLatin1String("duration_s")).toDouble(), 0, 'f', 1)}});

    const QJsonArray steps = r.value(QLatin1String("steps")).toArray();
    pages.heading(QStringLiteral("Steps"));
    QStringList stepNames;
    std::vector<QStringList> stepRows;
    for (const QJsonValue& v : steps) {
        const QJsonObject s = v.toObject();
        stepNames << s.value(QLatin1String("name")).toString();
        const double t = Seconds(s);
        stepRows.push_back({QString::number(s.value(QLatin1String("index")).toInt() + 1), s.value(QLatin1String("name")).toString(),
                            s.value(QLatin1String("kind")).toString(), s.value(QLatin1String("outcome")).toString(),
                            t < 0 ? QString() : QStringLiteral("%1 s").arg(t, 0, 'f', 2), s.value(QLatin1String("reason")).toString()});
    }
    pages.table({QStringLiteral("#"), QStringLiteral("Step"), QStringLiteral("Kind"), QStringLiteral("Outcome"),
                 QStringLiteral("Time"), QStringLiteral("Reason")},
                stepRows, {0.05, 0.2, 0.15, 0.1, 0.1, 0.4});

    const QJsonArray measurements = r.value(QLatin1String("measurements")).toArray();
    pages.heading(QStringLiteral("Measurements"));
    std::vector<QStringList> mRows;
    std::vector<std::pair<QString, QString>> calibrations;
    for (const QJsonValue& v : measurements) {
        const QJsonObject m = v.toObject();
        const int step = m.value(QLatin1String("step")).toInt();
        const QString name = m.value(QLatin1String("name")).toString();
        const QString unit = m.value(QLatin1String("unit")).toString();
        mRows.push_back({stepNames.value(step), name, Text(m.value(QLatin1String("value"))), unit,
                         LimitsText(m.value(QLatin1String("limits")).toObject()), m.value(QLatin1String("outcome")).toString()});
        if (steps.at(step).toObject().value(QLatin1String("kind")).toString() == QLatin1String("calibrate")
            && (name == QLatin1String("error_before") || name == QLatin1String("error_after"))) {
            const QString value = (Text(m.value(QLatin1String("value"))) + QLatin1Char(' ') + unit).trimmed();
            if (name == QLatin1String("error_before"))
                calibrations.push_back({stepNames.value(step), QStringLiteral("error before %1").arg(value)});
            else if (!calibrations.empty() && calibrations.back().first == stepNames.value(step))
                calibrations.back().second += QStringLiteral(", after %1").arg(value);
            else
                calibrations.push_back({stepNames.value(step), QStringLiteral("error after %1").arg(value)});
        }
    }
    pages.table({QStringLiteral("Step"), QStringLiteral("Measurement"), QStringLiteral("Value"), QStringLiteral("Unit"),
                 QStringLiteral("Limits"), QStringLiteral("Verdict")},
                mRows, {0.15, 0.18, 0.27, 0.06, 0.25, 0.09});
    if (!calibrations.empty()) {
        pages.heading(QStringLiteral("Calibrations"));
        pages.pairs(calibrations);
    }
    painter.end();
    return true;
}

bool WriteReport(const QJsonObject& record, const QString& path, QString& error)
{
    QByteArray pdf;
    if (!ReportPdf(record, pdf, error))
        return false;
    return WriteFileAtomically(path, pdf, error);
}

QString ReportFileName(const QJsonObject& record)
{
    const QString runId = record.value(QLatin1String("run_id")).toString();
    QString barcode = record.value(QLatin1String("pack")).toObject().value(QLatin1String("barcode")).toString();
    barcode.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    return (barcode.isEmpty() ? QString() : barcode + QLatin1Char('_')) + runId + QStringLiteral(".pdf");
}

} // namespace bms::labels
