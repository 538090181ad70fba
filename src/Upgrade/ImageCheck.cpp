#include "ImageCheck.h"

#include "Image.h"

#include <map>
#include <vector>

namespace bms {

namespace {

// A firmware image fills a few address ranges; one scattered over more is
// no image, and the ranges are held in memory while the check runs.
constexpr size_t kMaxAddressRanges = 100000;

enum RecordType : uint8_t { Data = 0, EndOfFile = 1, SegmentAddress = 2, SegmentStart = 3, LinearAddress = 4, LinearStart = 5 };

// Columns of the fields of a record line (1-based).
constexpr int kLengthColumn = 2, kAddressColumn = 4, kTypeColumn = 8;

QString Hex(uint64_t value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

struct Fault {
    QString what;
    int column = 0;
};

// The record types and the length each one has; data records any.
int TypeLength(uint8_t type)
{
    switch (type) {
    case EndOfFile: return 0;
    case SegmentAddress:
    case LinearAddress: return 2;
    case SegmentStart:
    case LinearStart: return 4;
    default: return -1;
    }
}

// Everything one line must be on its own; fills `record` when it is a record.
Fault CheckRecord(const QByteArray& line, int maxData, std::vector<uint8_t>& record)
{
    if (line[0] != ':')
        return {QStringLiteral("a record starts with ':', not '%1'").arg(PrintableBytes(line.left(1))), 1};
    int column = 0;
    if (const QString problem = ConvertLine(line, record, &column); !problem.isEmpty())
        return {problem, column};
    const int length = record[1];
    const qsizetype end = 2 * static_cast<qsizetype>(length) + 11;
    for (qsizetype i = end; i < line.size(); ++i) {
        if (line[i] != ' ' && line[i] != '\t')
            return {QStringLiteral("characters follow the record's checksum"), static_cast<int>(i) + 1};
    }
    unsigned sum = 0;
    for (size_t i = 1; i < record.size(); ++i)
        sum += record[i];
    if ((sum & 0xFF) != 0) {
        const unsigned given = record.back();
        const unsigned needed = (given - sum) & 0xFF;
        return {QStringLiteral("the checksum is %1, the record's bytes need %2").arg(Hex(given, 2), Hex(needed, 2)),
                static_cast<int>(end) - 1};
    }
    const uint8_t type = record[4];
    if (type != Data && TypeLength(type) < 0)
        return {QStringLiteral("record type %1 is none of 00 to 05").arg(Hex(type, 2)), kTypeColumn};
    if (type != Data && length != TypeLength(type))
        return {QStringLiteral("a record of type %1 has %2 data bytes, not %3")
                    .arg(Hex(type, 2))
                    .arg(TypeLength(type))
                    .arg(length),
                kLengthColumn};
    if (length > maxData)
        return {QStringLiteral("its record holds %1 data bytes, at most %2 fit").arg(length).arg(maxData), kLengthColumn};
    return {};
}

// The address ranges the data records have written so far, contiguous ones
// merged, each with the line that began it.
class AddressRanges {
public:
    // Adds [start, end); the line of an earlier range it overlaps, or 0.
    int add(uint64_t start, uint64_t end, int line)
    {
        auto next = ranges_.upper_bound(start);
        if (next != ranges_.end() && next->first < end)
            return next->second.line;
        if (next != ranges_.begin()) {
            auto previous = std::prev(next);
            if (previous->second.end > start)
                return previous->second.line;
            if (previous->second.end == start) {
                previous->second.end = end;
                mergeWith(previous, next);
                return 0;
            }
        }
        auto added = ranges_.emplace_hint(next, start, Range{end, line});
        mergeWith(added, next);
        return 0;
    }
    size_t size() const { return ranges_.size(); }

private:
    struct Range {
        uint64_t end;
        int line;
    };
    using Map = std::map<uint64_t, Range>;
    void mergeWith(Map::iterator range, Map::iterator next)
    {
        if (next != ranges_.end() && next->first == range->second.end) {
            range->second.end = next->second.end;
            ranges_.erase(next);
        }
    }
    Map ranges_;
};

QString Refused(const QString& what)
{
    return QStringLiteral("Firmware image refused: %1. Nothing was sent to the device.").arg(what);
}

QString TooLarge(const QString& fileName)
{
    return Refused(QStringLiteral("\"%1\" is larger than %2 MiB and cannot be a firmware image")
                       .arg(fileName)
                       .arg(kMaxImageBytes >> 20));
}

} // namespace

ImageCheckResult CheckImage(const QString& fileName, bool devFirmware)
{
    ImageReader reader;
    const bool opened = reader.open(fileName);
    if (opened && !reader.tooLarge())
        return CheckImageText(reader.bytes(), devFirmware, fileName);
    ImageCheckResult result;
    result.fileName = fileName;
    result.devFirmware = devFirmware;
    if (opened)
        result.problem = TooLarge(fileName);
    else if (fileName.isEmpty())
        result.problem = QStringLiteral("No firmware image has been chosen.");
    else
        result.problem = QStringLiteral("Cannot open the firmware image \"%1\": %2.").arg(fileName, reader.errorString());
    return result;
}

ImageCheckResult CheckImageText(const QByteArray& image, bool devFirmware, const QString& fileName)
{
    ImageCheckResult result;
    result.fileName = fileName;
    result.devFirmware = devFirmware;
    const auto refuse = [&](int line, int column, const QString& what) {
        result.line = line;
        result.column = column;
        result.problem = Refused(column > 0 ? QStringLiteral("line %1, column %2: %3").arg(line).arg(column).arg(what)
                                            : QStringLiteral("line %1: %2").arg(line).arg(what));
        return result;
    };
    if (image.size() > kMaxImageBytes) {
        result.problem = TooLarge(fileName);
        return result;
    }
    // An editor's byte order mark: the pack would get it in front of the
    // first record.
    if (image.startsWith("\xEF\xBB\xBF"))
        return refuse(1, 1, QStringLiteral("the file starts with a UTF-8 byte order mark (EF BB BF); an Intel-HEX "
                                           "image is plain text without one"));
    ImageReader reader;
    reader.open(image);
    const int maxData = MaxRecordData(devFirmware);
    std::vector<uint8_t> record;
    AddressRanges written;
    uint64_t base = 0;   // from the last extended address record
    int firstEmpty = 0;  // an empty line seen since the last record
    int endLine = 0;     // the end-of-file record's line
    int lastLine = 0;    // the last line that is not empty
    bool data = false;
    while (!reader.atEnd()) {
        const QByteArray line = reader.nextLine();
        const int number = reader.lineNumber();
        if (line.isEmpty()) {
            if (firstEmpty == 0)
                firstEmpty = number;
            continue;
        }
        lastLine = number;
        if (endLine != 0)
            return refuse(number, 1, QStringLiteral("the image goes on after its end-of-file record (line %1)").arg(endLine));
        if (firstEmpty != 0)
            return refuse(firstEmpty, 0,
                          QStringLiteral("the line is empty, but records follow it (line %1); the transfer would end there")
                              .arg(number));
        if (reader.lineCut())
            return refuse(number, ImageReader::kMaxLineKept + 1,
                          QStringLiteral("the line is longer than %1 characters").arg(ImageReader::kMaxLineKept));
        if (const Fault fault = CheckRecord(line, maxData, record); !fault.what.isEmpty())
            return refuse(number, fault.column, fault.what);
        ++result.records;
        const uint8_t type = record[4];
        const uint32_t value = record.size() >= 7 ? uint32_t(record[5]) << 8 | record[6] : 0;
        if (type == EndOfFile) {
            endLine = number;
        } else if (type == SegmentAddress) {
            base = uint64_t(value) << 4;
        } else if (type == LinearAddress) {
            base = uint64_t(value) << 16;
        } else if (type == Data && record[1] > 0) {
            const uint32_t offset = uint32_t(record[2]) << 8 | record[3];
            const uint32_t length = record[1];
            if (offset + length > 0x10000)
                return refuse(number, kAddressColumn,
                              QStringLiteral("its %1 data bytes at offset %2 run past the end of their 64 KiB segment")
                                  .arg(length)
                                  .arg(Hex(offset, 4)));
            const uint64_t start = base + offset;
            if (const int earlier = written.add(start, start + length, number))
                return refuse(number, kAddressColumn,
                              QStringLiteral("address %1 is written before, by the records from line %2 on")
                                  .arg(Hex(start, 8))
                                  .arg(earlier));
            if (written.size() > kMaxAddressRanges)
                return refuse(number, kAddressColumn,
                              QStringLiteral("the image is scattered over more than %1 address ranges").arg(kMaxAddressRanges));
            data = true;
        }
    }
    if (result.records == 0) {
        result.problem = Refused(QStringLiteral("\"%1\" holds no records").arg(fileName));
        return result;
    }
    if (endLine == 0)
        return refuse(lastLine + 1, 0, QStringLiteral("the image has no end-of-file record (:00000001FF)"));
    if (!data)
        return refuse(endLine, 0, QStringLiteral("the image holds no data record: nothing would be written"));
    result.image = image;
    return result;
}

} // namespace bms
