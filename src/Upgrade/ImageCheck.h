// Checks a whole firmware image before an upgrade run sends anything, so
// that a file the run or the board would stumble over half-way (after the
// pack has been rebooted and erased) is refused up front.
#pragma once

#include <QByteArray>
#include <QString>

namespace bms {

struct ImageCheckResult {
    // The file checked, and its text as it was read for the check. The
    // upgrade run sends these bytes, never the file read again.
    QString fileName;
    QByteArray image;
    // The target the image was checked for.
    bool devFirmware = false;
    // Empty when the image can be sent; otherwise the reason, naming the
    // line and column.
    QString problem;
    // Records the run will send: every line up to the end-of-file record.
    int records = 0;
    // Where the problem is: 1-based line and column; column 0 is the line as
    // a whole, line 0 the file as a whole.
    int line = 0;
    int column = 0;
    bool ok() const { return problem.isEmpty(); }
};

// Reads the image `fileName` for the target chosen by `devFirmware`. Every
// line must be an Intel-HEX record: ':' first, hexadecimal pairs, as long as
// its length byte says (only blanks may follow), a checksum that makes its
// bytes sum to zero, a record type from 00 to 05 with the length that type
// has, and a length that fits the target's packets. The image must close
// with an end-of-file record with nothing but empty lines after it, and no
// empty line may come before it (the dev-firmware transfer would end
// there). It must write at least one data byte, and no byte twice.
//
// Addresses: the tool knows no flash map of either target (the boot loaders
// judge that), so it accepts the whole 32-bit space that extended address
// records reach, with one rule both boot loaders' records share: a data
// record stays inside the 64 KiB its 16-bit offset addresses (offset plus
// length at most 0x10000), where readers that wrap and readers that carry
// would put its bytes in different places.
//
// The file is read in once, whole (see ImageReader); a file that starts with
// a UTF-8 byte order mark is refused as such.
ImageCheckResult CheckImage(const QString& fileName, bool devFirmware);
// The same check of an image's text already read in from `fileName`.
ImageCheckResult CheckImageText(const QByteArray& image, bool devFirmware, const QString& fileName);

} // namespace bms
