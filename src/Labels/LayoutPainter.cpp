#include "LayoutPainter.h"

#include "Barcode.h"

#include <QBuffer>
#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

namespace bms::labels {

bool PaintLabel(QPainter& painter, const LabelLayout& layout, const QJsonObject& record, double dotsPerMm, QString& error)
{
    painter.fillRect(QRectF(0, 0, layout.width * dotsPerMm, layout.height * dotsPerMm), Qt::white);
    for (const LayoutBarcode& b : layout.barcodes) {
        const QRectF box(b.x * dotsPerMm, b.y * dotsPerMm, b.width * dotsPerMm, b.height * dotsPerMm);
        if (!DrawBarcode(painter, b.type, FillPlaceholders(b.data, record), box, error))
            return false;
    }
    painter.setPen(Qt::black);
    for (const LayoutText& t : layout.texts) {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(std::max(1, static_cast<int>(t.size * dotsPerMm)));
        font.setBold(t.bold);
        font.setStyleStrategy(QFont::PreferNoShaping); // "fi" stays two letters in the PDF's text

        painter.setFont(font);
        const QRectF box(t.x * dotsPerMm, t.y * dotsPerMm, (layout.width - t.x) * dotsPerMm, t.size * dotsPerMm * 1.4);
        painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, FillPlaceholders(t.text, record));
    }
    return true;
}

bool LabelPdf(const LabelLayout& layout, const QJsonObject& record, QByteArray& pdf, QString& error)
{
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    constexpr int kDpi = 600;
    QPdfWriter writer(&buffer);
    writer.setResolution(kDpi);
    writer.setPageSize(QPageSize(QSizeF(layout.width, layout.height), QPageSize::Millimeter));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setCreator(QStringLiteral("Quorlex BMS"));
    writer.setTitle(QStringLiteral("Label"));
    QPainter painter;
    if (!painter.begin(&writer)) {
        error = QStringLiteral("the label's PDF could not be started");
        return false;
    }
    const bool ok = PaintLabel(painter, layout, record, kDpi / 25.4, error);
    painter.end();
    return ok;
}

} // namespace bms::labels
