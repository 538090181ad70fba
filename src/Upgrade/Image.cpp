#include "Image.h"

#include "CommRecord.h"
#include "Errors.h"

namespace bms {

QString DlgFileName;
uint8_t ImageOpen = 0;

static ImageReader CurrentImage;

// Copy of `count` characters from the 1-based position `start`; a start
// before the first character counts as the first, the copy stops at the end.
static QString CopyFrom(const QString& text, qsizetype start, qsizetype count)
{
    if (start < 1)
        start = 1;
    return text.mid(start - 1, count);
}

FirmwareName NamingRule(const QString& fileName)
{
    const qsizetype n = fileName.size();
    return {CopyFrom(fileName, n - 15, 8), CopyFrom(fileName, n - 7, 4)};
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte of the two digits at the 0-based offset `pos`, or -1.
static int PairAt(const QByteArray& line, qsizetype pos)
{
    if (pos + 1 >= line.size())
        return -1;
    const int high = HexValue(line[pos]);
    const int low = HexValue(line[pos + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// Bytes of a line as a message can show them: printable ASCII as it is,
// every other byte (a binary file, a control character) as \xHH.
static QString Printable(const QByteArray& bytes)
{
    QString text;
    for (const char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\')
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x") + QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

static QString NotHexProblem(const QByteArray& line, qsizetype pos)
{
    return QStringLiteral("'%1' at column %2 is not a hexadecimal byte")
        .arg(Printable(line.mid(pos, 2)))
        .arg(pos + 1);
}

QString ConvertLine(const QByteArray& line, std::vector<uint8_t>& record)
{
    record.clear();
    if (line.isEmpty())
        return QStringLiteral("the line is empty");
    if (line.size() < 3)
        return QStringLiteral("the line is too short to hold a record length");
    const int length = PairAt(line, 1);
    if (length < 0)
        return NotHexProblem(line, 1);
    // Byte k (1-based) of the L + 4 that follow stands at the 1-based
    // columns 2k + 2 and 2k + 3, so the line needs 2L + 11 characters.
    const qsizetype needed = 2 * static_cast<qsizetype>(length) + 11;
    if (line.size() < needed)
        return QStringLiteral("the line is too short for its record length %1 (%2 characters needed, %3 present)")
            .arg(length)
            .arg(needed)
            .arg(line.size());
    record.reserve(static_cast<size_t>(length) + 6);
    record.push_back(static_cast<uint8_t>(line[0]));
    record.push_back(static_cast<uint8_t>(length));
    for (int k = 1; k <= length + 4; ++k) {
        const int value = PairAt(line, 2 * k + 1);
        if (value < 0) {
            record.clear();
            return NotHexProblem(line, 2 * k + 1);
        }
        record.push_back(static_cast<uint8_t>(value));
    }
    return {};
}

std::vector<uint8_t> LineToRecord(const QByteArray& line)
{
    std::vector<uint8_t> record;
    const QString problem = ConvertLine(line, record);
    if (!problem.isEmpty())
        throw EConvertError(problem);
    return record;
}

bool ImageReader::open(const QString& fileName)
{
    close();
    file_.setFileName(fileName);
    if (fileName.isEmpty()) {
        // QFile gives no reason of its own for an empty name.
        return false;
    }
    return file_.open(QIODevice::ReadOnly);
}

void ImageReader::close()
{
    if (file_.isOpen())
        file_.close();
    lineNumber_ = 0;
}

QByteArray ImageReader::nextLine()
{
    ++lineNumber_;
    QByteArray line;
    char c = 0;
    while (file_.getChar(&c)) {
        if (c == '\n')
            return line;
        if (c == '\r') {
            char next = 0;
            if (file_.peek(&next, 1) == 1 && next == '\n')
                file_.getChar(&next);
            return line;
        }
        if (line.size() < kMaxLineKept)
            line.append(c);
    }
    return line;
}

void OpenImage()
{
    if (!CurrentImage.open(DlgFileName)) {
        const QString reason = DlgFileName.isEmpty() ? QStringLiteral("no file has been chosen") : CurrentImage.errorString();
        throw EInOutError(QStringLiteral("Cannot open the firmware image \"%1\": %2").arg(DlgFileName, reason));
    }
    ImageOpen = 1;
    RecordIndex = 0;
}

QByteArray NextImageLine()
{
    if (!CurrentImage.isOpen())
        throw EInOutError(QStringLiteral("The firmware image is not open"));
    return CurrentImage.nextLine();
}

int ImageLineNumber() { return CurrentImage.lineNumber(); }

void CloseImage()
{
    ImageOpen = 0;
    CurrentImage.close();
}

} // namespace bms
