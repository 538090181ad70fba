// Barcodes from libzint: a symbol encoded by the library and drawn as the
// rectangles it gives, so a PDF or a printer gets sharp modules at any
// resolution. Code 128 stretches to its box; Data Matrix and QR keep their
// modules square, at the box's top left. Quiet zones are inside the box.
#pragma once

#include "LabelLayout.h"

#include <QRectF>

class QPainter;

namespace bms::labels {

// Encodes `data` (UTF-8) and draws it into `box` (device units). False,
// with the library's words, when the data cannot be encoded as that symbol.
bool DrawBarcode(QPainter& painter, Symbology type, const QString& data, const QRectF& box, QString& error);

} // namespace bms::labels
