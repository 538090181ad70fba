// Saves pictures of what a run leaves on paper (docs/screenshot-label.png,
// docs/screenshot-report.png) and of a fixture's panel whose label did not
// print (docs/screenshot-station-label-failed.png): the PASS label of
// docs/labels/pass.toml and the first page of the unit report, from a run's
// record file (a sample run without one), and the panel as the Station tab
// shows it.
//   labels_screenshot <output folder> [record.json]
#include "FixturePanel.h"
#include "LabelLayout.h"
#include "LayoutPainter.h"
#include "Record.h"
#include "RecordSamples.h"
#include "UnitReport.h"
#include "Zpl.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

using namespace bms;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(folder);
    test::SampleRun sample;
    sample.number = 17;
    sample.barcode = QStringLiteral("202612090001");
    sample.measurements = 40;
    QJsonObject record = test::SampleRecord(sample);
    if (argc > 2) {
        QString error;
        const auto read = records::ReadRecordFile(QString::fromLocal8Bit(argv[2]), error);
        if (!read) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        record = *read;
    }

    // The label at 12 dots a millimetre, with a grey edge to show its size.
    QString text, error;
    labels::LabelFault fault;
    std::optional<labels::LabelLayout> layout;
    if (labels::ReadLabelFile(QStringLiteral(LABELS_DIR "/pass.toml"), text, error))
        layout = labels::ParseLayout(text, [](const QString&) { return true; }, fault);
    if (!layout) {
        std::fprintf(stderr, "the label layout: %s %s\n", qPrintable(error), qPrintable(fault.text()));
        return 1;
    }
    constexpr double kDots = 12;
    QImage label(int(layout->width * kDots) + 2, int(layout->height * kDots) + 2, QImage::Format_RGB32);
    label.fill(QColor(0xB0, 0xB0, 0xB0));
    {
        QPainter p(&label);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(1, 1);
        if (!labels::PaintLabel(p, *layout, record, kDots, error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    const QString labelFile = QDir(folder).filePath(QStringLiteral("screenshot-label.png"));
    if (!label.save(labelFile))
        return 1;
    std::printf("%s\n", qPrintable(labelFile));

    // The report's first page, as pdftoppm shows it.
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    if (!labels::WriteReport(record, pdf, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QString reportFile = QDir(folder).filePath(QStringLiteral("screenshot-report"));
    if (QProcess::execute(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("80"), QStringLiteral("-png"),
                                                       QStringLiteral("-singlefile"), pdf, reportFile})
        != 0)
        return 1;
    std::printf("%s.png\n", qPrintable(reportFile));

    // A panel whose PASS label did not come out.
    stationtab::FixtureModel model;
    model.begin(record.value(QStringLiteral("pack")).toObject().value(QStringLiteral("barcode")).toString());
    QJsonArray steps;
    for (const QJsonValue& s : record.value(QStringLiteral("steps")).toArray())
        steps.append(QJsonObject{{QStringLiteral("index"), s[QStringLiteral("index")]}, {QStringLiteral("name"), s[QStringLiteral("name")]},
                                 {QStringLiteral("kind"), s[QStringLiteral("kind")]}});
    model.event({{QStringLiteral("event"), QStringLiteral("run_start")}, {QStringLiteral("run_id"), record[QStringLiteral("run_id")]},
                 {QStringLiteral("steps"), steps}});
    for (const QJsonValue& s : record.value(QStringLiteral("steps")).toArray()) {
        QJsonObject e = s.toObject();
        e.insert(QStringLiteral("event"), QStringLiteral("step_end"));
        e.insert(QStringLiteral("duration_s"), 0.8);
        model.event(e);
    }
    model.event({{QStringLiteral("event"), QStringLiteral("run_end")}, {QStringLiteral("outcome"), QStringLiteral("PASS")},
                 {QStringLiteral("record"), QStringLiteral("/tmp/run.json")}, {QStringLiteral("exit"), 0}});
    model.ended({});
    stationtab::FixturePanel panel(1);
    panel.resize(330, 560);
    panel.show(model, QStringLiteral("/dev/ttyUSB0"), false);
    panel.showLabel(QStringLiteral("failed"), QStringLiteral("the printer label-1 is stopped: Media empty or jammed"));
    panel.QWidget::show();
    QApplication::processEvents();
    const QString panelFile = QDir(folder).filePath(QStringLiteral("screenshot-station-label-failed.png"));
    if (!panel.grab().save(panelFile))
        return 1;
    std::printf("%s\n", qPrintable(panelFile));
    return 0;
}
