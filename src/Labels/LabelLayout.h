// A label layout: a label of a given size in millimetres with text fields
// and barcodes (Code 128, Data Matrix, QR), each placed in millimetres from
// the top left corner, their texts and data with placeholders. Written as a
// small TOML file and drawn with Qt (LayoutPainter), so that any printer
// CUPS knows prints it.
//
//   width = 60                 # mm
//   height = 30
//   [[text]]
//   x = 2                      # mm
//   y = 2
//   size = 3.5                 # the text's height in mm
//   text = "SN ${serial_number}"
//   bold = true                # optional
//   [[barcode]]
//   type = "code128"           # or "datamatrix", "qr"
//   x = 2
//   y = 8
//   width = 40
//   height = 12
//   data = "${barcode}"
#pragma once

#include "Placeholders.h"

#include <optional>
#include <vector>

namespace bms::labels {

enum class Symbology { Code128, DataMatrix, QrCode };

struct LayoutText {
    double x = 0, y = 0, size = 3;
    QString text;
    bool bold = false;
};

struct LayoutBarcode {
    Symbology type = Symbology::Code128;
    double x = 0, y = 0, width = 0, height = 0;
    QString data;
};

struct LabelLayout {
    double width = 0, height = 0; // mm
    std::vector<LayoutText> texts;
    std::vector<LayoutBarcode> barcodes;
};

// Reads a layout's text; every placeholder must be known. Nothing, with the
// fault's place and words, when the layout is not sound.
std::optional<LabelLayout> ParseLayout(const QString& text, const std::function<bool(const QString&)>& isMeasurement,
                                       LabelFault& fault);

} // namespace bms::labels
