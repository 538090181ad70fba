#include "Barcode.h"

#include <QPainter>
#include <memory>
#include <zint.h>

namespace bms::labels {

bool DrawBarcode(QPainter& painter, Symbology type, const QString& data, const QRectF& box, QString& error)
{
    const std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> symbol(ZBarcode_Create(), ZBarcode_Delete);
    if (!symbol) {
        error = QStringLiteral("the barcode library has no memory");
        return false;
    }
    switch (type) {
    case Symbology::Code128: symbol->symbology = BARCODE_CODE128; break;
    case Symbology::DataMatrix:
        symbol->symbology = BARCODE_DATAMATRIX;
        symbol->option_3 = DM_SQUARE;
        break;
    case Symbology::QrCode: symbol->symbology = BARCODE_QRCODE; break;
    }
    symbol->input_mode = UNICODE_MODE;
    symbol->show_hrt = 0;
    symbol->output_options |= BARCODE_QUIET_ZONES;
    const QByteArray bytes = data.toUtf8();
    if (bytes.isEmpty()) {
        error = QStringLiteral("the barcode's data is empty");
        return false;
    }
    int rc = ZBarcode_Encode(symbol.get(), reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<int>(bytes.size()));
    if (rc < ZINT_ERROR)
        rc = ZBarcode_Buffer_Vector(symbol.get(), 0);
    if (rc >= ZINT_ERROR || !symbol->vector || symbol->vector->width <= 0 || symbol->vector->height <= 0) {
        error = QStringLiteral("'%1' cannot be encoded as this barcode: %2").arg(data, QString::fromUtf8(symbol->errtxt));
        return false;
    }
    const zint_vector& v = *symbol->vector;
    double sx = box.width() / v.width, sy = box.height() / v.height;
    if (type != Symbology::Code128)
        sx = sy = std::min(sx, sy);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    for (const zint_vector_rect* r = v.rectangles; r; r = r->next) {
        if (r->colour != -1)
            continue; // only the foreground; the label is white
        painter.drawRect(QRectF(box.left() + r->x * sx, box.top() + r->y * sy, r->width * sx, r->height * sy));
    }
    painter.restore();
    return true;
}

} // namespace bms::labels
