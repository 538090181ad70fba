#include "LabelJob.h"

#include "LayoutPainter.h"
#include "Zpl.h"

namespace bms::labels {

bool MakeLabelOrder(const station::LabelSection& section, const QJsonObject& record, const QString& defaultPrinter,
                    PrintOrder& order, QString& error)
{
    // The recipe's printer, else the station's, else CUPS's default.
    order.queue = !section.printer.isEmpty() ? section.printer : !defaultPrinter.isEmpty() ? defaultPrinter : Cups::DefaultQueue();
    order.copies = section.copies;
    order.title = QStringLiteral("Label %1").arg(record.value(QLatin1String("run_id")).toString());
    const bool passed = record.value(QLatin1String("outcome")).toString() == QLatin1String("PASS");
    const QString file = section.layout.isEmpty() ? (!passed && !section.failTemplate.isEmpty() ? section.failTemplate : section.templateFile)
                                                  : section.layout;
    QString text;
    if (!ReadLabelFile(file, text, error)) {
        error = QStringLiteral("the label file %1: %2").arg(file, error);
        return false;
    }
    if (section.layout.isEmpty()) {
        order.format = kRawFormat;
        order.data = FillZpl(text, record);
        return true;
    }
    // The recipe's load checked the layout's placeholders.
    LabelFault fault;
    const std::optional<LabelLayout> layout = ParseLayout(text, [](const QString&) { return true; }, fault);
    if (!layout) {
        fault.file = file;
        error = fault.text();
        return false;
    }
    order.format = kPdfFormat;
    order.options = {QStringLiteral("media=Custom.%1x%2mm").arg(layout->width).arg(layout->height)};
    return LabelPdf(*layout, record, order.data, error);
}

} // namespace bms::labels
