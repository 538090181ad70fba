#include "Image.h"

#include "CommRecord.h"
#include "Errors.h"
#include "FileSync.h"
#include "RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

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

QString PrintableBytes(const QByteArray& bytes)
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

QString ConvertLine(const QByteArray& line, std::vector<uint8_t>& record, int* column)
{
    record.clear();
    // The problem, and the 1-based column it is at (0: the line as a whole).
    const auto fail = [&](const QString& problem, qsizetype at) {
        record.clear();
        if (column)
            *column = static_cast<int>(at);
        return problem;
    };
    const auto notHex = [&](qsizetype pos) {
        const QString pair = PrintableBytes(line.mid(pos, 2));
        return fail(column ? QStringLiteral("'%1' is not a hexadecimal byte").arg(pair)
                           : QStringLiteral("'%1' at column %2 is not a hexadecimal byte").arg(pair).arg(pos + 1),
                    pos + 1);
    };
    if (line.isEmpty())
        return fail(QStringLiteral("the line is empty"), 0);
    if (line.size() < 3)
        return fail(QStringLiteral("the line is too short to hold a record length"), line.size() + 1);
    const int length = PairAt(line, 1);
    if (length < 0)
        return notHex(1);
    // Byte k (1-based) of the L + 4 that follow stands at the 1-based
    // columns 2k + 2 and 2k + 3, so the line needs 2L + 11 characters.
    const qsizetype needed = 2 * static_cast<qsizetype>(length) + 11;
    if (line.size() < needed)
        return fail(QStringLiteral("the line is too short for its record length %1 (%2 characters needed, %3 present)")
                        .arg(length)
                        .arg(needed)
                        .arg(line.size()),
                    line.size() + 1);
    record.reserve(static_cast<size_t>(length) + 6);
    record.push_back(static_cast<uint8_t>(line[0]));
    record.push_back(static_cast<uint8_t>(length));
    for (int k = 1; k <= length + 4; ++k) {
        const int value = PairAt(line, 2 * k + 1);
        if (value < 0)
            return notHex(2 * k + 1);
        record.push_back(static_cast<uint8_t>(value));
    }
    if (column)
        *column = 0;
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
    error_.clear();
    if (fileName.isEmpty()) {
        error_ = QStringLiteral("no file has been chosen");
        return false;
    }
    const int fd = OpenRegularFile(fileName, error_);
    if (fd < 0)
        return false;
    struct stat status = {};
    if (::fstat(fd, &status) != 0) {
        error_ = SystemError();
        ::close(fd);
        return false;
    }
    // Read to its end, but never past the limit: a file larger than that is
    // not read at all, and one that grows past it while being read is
    // dropped.
    QByteArray bytes;
    bool tooLarge = status.st_size > kMaxImageBytes;
    if (!tooLarge)
        bytes.reserve(static_cast<qsizetype>(status.st_size) + 1);
    char block[65536];
    while (!tooLarge) {
        const qint64 wanted = std::min<qint64>(sizeof block, kMaxImageBytes + 1 - bytes.size());
        const ssize_t n = ::read(fd, block, static_cast<size_t>(wanted));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error_ = SystemError();
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        bytes.append(block, n);
        tooLarge = bytes.size() > kMaxImageBytes;
    }
    ::close(fd);
    open(tooLarge ? QByteArray() : bytes);
    tooLarge_ = tooLarge;
    return true;
}

void ImageReader::open(const QByteArray& bytes)
{
    close();
    bytes_ = bytes;
    open_ = true;
}

void ImageReader::close()
{
    bytes_.clear();
    position_ = 0;
    lineNumber_ = 0;
    lineCut_ = false;
    tooLarge_ = false;
    open_ = false;
}

QByteArray ImageReader::nextLine()
{
    ++lineNumber_;
    lineCut_ = false;
    if (atEnd())
        return {};
    const char* data = bytes_.constData();
    const qsizetype size = bytes_.size();
    qsizetype end = position_;
    while (end < size && data[end] != '\n' && data[end] != '\r')
        ++end;
    const qsizetype length = end - position_;
    lineCut_ = length > kMaxLineKept;
    QByteArray line(data + position_, std::min(length, kMaxLineKept));
    position_ = end;
    if (position_ < size && data[position_++] == '\r' && position_ < size && data[position_] == '\n')
        ++position_;
    return line;
}

void OpenImage(const QByteArray& checked)
{
    CurrentImage.open(checked);
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
