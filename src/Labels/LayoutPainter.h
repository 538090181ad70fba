// A label layout drawn with Qt, filled from a run's record: on any painter
// (a PDF for CUPS, an image for the screen).
#pragma once

#include "LabelLayout.h"

#include <QByteArray>
#include <QJsonObject>

class QPainter;

namespace bms::labels {

// Draws `layout` with its top left corner at the painter's origin, at
// `dotsPerMm` device units a millimetre. False with the reason when a
// barcode cannot be made of its data.
bool PaintLabel(QPainter& painter, const LabelLayout& layout, const QJsonObject& record, double dotsPerMm, QString& error);

// The label as a PDF of one page of the label's size.
bool LabelPdf(const LabelLayout& layout, const QJsonObject& record, QByteArray& pdf, QString& error);

} // namespace bms::labels
