// The image that the upgrade benchmarks send and the time its bytes need on
// the wire, shared by the window's and the command line's benchmark.
#pragma once

#include "Image.h"
#include "IntelHex.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <cstdint>

namespace bms::bench {

// `records` data records of 16 bytes with extended-address records every
// 64 KiB, and the end record; lines end in CR LF.
inline QByteArray MakeUpgradeImage(int records)
{
    QByteArray image;
    for (int i = 0; i < records; ++i) {
        const uint32_t address = 0x08000000u + static_cast<uint32_t>(i) * 16;
        if (i == 0 || (address & 0xFFFF) == 0) {
            QByteArray upper;
            upper.append(static_cast<char>(address >> 24));
            upper.append(static_cast<char>(address >> 16));
            image += bms::test::HexRecord(0, 4, upper) + "\r\n";
        }
        QByteArray data;
        for (int j = 0; j < 16; ++j)
            data.append(static_cast<char>(i * 31 + j * 7));
        image += bms::test::HexRecord(static_cast<uint16_t>(address), 0, data) + "\r\n";
    }
    return image + ":00000001FF\r\n";
}

// The lines of an image without their line ends.
inline QList<QByteArray> ImageLines(const QByteArray& image)
{
    QList<QByteArray> lines = image.trimmed().split('\n');
    for (QByteArray& line : lines)
        line = line.trimmed();
    return lines;
}

// Writes the benchmark's image of `records` data records into `dir` under a
// name the dev-firmware naming rule accepts. Returns its path, empty when it
// cannot be written, and puts its lines in `lines`.
inline QString PrepareUpgradeImage(const QTemporaryDir& dir, int records, QList<QByteArray>& lines)
{
    const QString path = dir.filePath(QStringLiteral("bench_01020304ABCD.hex"));
    const QByteArray image = MakeUpgradeImage(records);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.flush())
        return {};
    lines = ImageLines(image);
    return path;
}

// Milliseconds the transfer's bytes need at `baud`, 10 bits a byte: per
// record the record (main board) or its packet of index + record + 9 bytes of
// framing, and the answer: a 5-byte status frame or an 8-byte write
// acknowledgement.
inline double WireMs(const QList<QByteArray>& lines, bool dev, uint32_t baud)
{
    double bytes = 0;
    for (const QByteArray& line : lines) {
        const double record = static_cast<double>(LineToRecord(line).size());
        bytes += dev ? record + 4 + 9 + 8 : record + 5;
    }
    return bytes * 10.0 * 1000.0 / baud;
}

// Milliseconds of the silence of 3.5 characters that the pack keeps after
// each record before it answers, as a Modbus line needs: part of the least
// time a transfer can take, though no byte moves in it.
inline double TurnaroundMs(const QList<QByteArray>& lines, uint32_t baud)
{
    return static_cast<double>(lines.size()) * 3.5 * 10.0 * 1000.0 / baud;
}

} // namespace bms::bench
