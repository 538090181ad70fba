#include "Journal.h"

#include "FileSync.h"
#include "RegularFile.h"
#include "WorkbookError.h"

#include <QByteArrayView>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace bms {

namespace {

constexpr char kMagic[] = "QBMS-WORKBOOK-JOURNAL 2";
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

QByteArray Escape(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

QString Unescape(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\\' && i + 1 < field.size()) {
            const char n = field[++i];
            c = n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        }
        out += c;
    }
    return QString::fromUtf8(out);
}

// A line without the byte order mark an editor may have put in front.
QByteArrayView WithoutBom(QByteArrayView line)
{
    const QByteArrayView bom(kUtf8Bom);
    return line.startsWith(bom) ? line.sliced(bom.size()) : line;
}

QByteArray Number(double v) { return QByteArray::number(v, 'g', 17); }

} // namespace

std::unique_ptr<Journal> Journal::Create(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        throw EWorkbookError(QStringLiteral("Cannot create the workbook journal %1: %2").arg(path, SystemError()));
    std::FILE* file = ::fdopen(fd, "w");
    if (!file) {
        ::close(fd);
        throw EWorkbookError(QStringLiteral("Cannot create the workbook journal %1: %2").arg(path, SystemError()));
    }
    std::unique_ptr<Journal> journal(new Journal(file, path));
    journal->line(kMagic);
    if (!journal->sync())
        throw EWorkbookError(QStringLiteral("Cannot write the workbook journal %1").arg(path));
    // The new file's name lives in its folder: without this a power cut can
    // lose the journal with every row synced into it.
    (void)SyncFolderOf(path);
    return journal;
}

Journal::Journal(std::FILE* file, const QString& path) : file_(file), path_(path) {}

Journal::~Journal() { close(); }

void Journal::line(const QByteArray& bytes)
{
    endCells();
    if (failed_ || !file_)
        return;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file_) != size_t(bytes.size())
        || std::fputc('\n', file_) == EOF)
        failed_ = true;
}

void Journal::endCells()
{
    if (cells_.isEmpty())
        return;
    QByteArray bytes;
    bytes.swap(cells_);
    line(bytes);
}

void Journal::caption(const QString& text) { line("caption\t" + Escape(text)); }

void Journal::allColumnWidths(double width) { line("width\t*\t" + Number(width)); }

void Journal::columnWidth(int column, double width)
{
    line("width\t" + QByteArray::number(column) + '\t' + Number(width));
}

void Journal::numberFormat(const QString& format) { line("format\t" + Escape(format)); }

void Journal::cell(int row, int column, const CellValue& value)
{
    // Cells written left to right along a row share one line.
    if (cells_.isEmpty() || row != cellsRow_ || column != nextColumn_) {
        endCells();
        cells_ = "c\t" + QByteArray::number(row) + '\t' + QByteArray::number(column);
        cellsRow_ = row;
    }
    nextColumn_ = column + 1;
    switch (value.kind) {
    case CellValue::Kind::Text: cells_ += "\tt" + Escape(value.text); break;
    case CellValue::Kind::Number: cells_ += "\tn" + Number(value.number); break;
    // No sheet the tool journals holds booleans (only exports do): as 1 or 0.
    case CellValue::Kind::Boolean: cells_ += "\tn" + Number(value.number); break;
    case CellValue::Kind::Empty: cells_ += "\te"; break;
    }
}

bool Journal::sync()
{
    endCells();
    if (!file_ || failed_)
        return false;
    if (std::fflush(file_) != 0 || ::fdatasync(::fileno(file_)) != 0)
        failed_ = true;
    return !failed_;
}

bool Journal::close()
{
    if (!file_)
        return !failed_;
    line("end");
    sync();
    if (std::fclose(file_) != 0)
        failed_ = true;
    file_ = nullptr;
    return !failed_;
}

namespace {

// Applies one line of a journal to `contents`; false when it cannot be read.
bool ApplyLine(const QByteArray& text, JournalContents& contents)
{
    const QList<QByteArray> f = text.split('\t');
    bool ok = true;
    auto integer = [&](int i) {
        bool good = false;
        const int v = i < f.size() ? f[i].toInt(&good) : 0;
        ok = ok && good;
        return v;
    };
    auto width = [&](int i) {
        bool good = false;
        const double v = i < f.size() ? f[i].toDouble(&good) : 0;
        ok = ok && good && v >= 0 && v <= 255;
        return v;
    };
    Sheet& sheet = contents.sheet;
    try {
        const QByteArray& kind = f[0];
        if (kind == "c" && f.size() >= 4) {
            const int row = integer(1), first = integer(2);
            for (qsizetype i = 3; ok && i < f.size(); ++i) {
                const int64_t column = int64_t(first) + (i - 3);
                if (column > kMaxJournalColumns)
                    return false;
                const QByteArray& v = f[i];
                if (v.startsWith('t')) {
                    sheet.setCell(row, int(column), CellValue::Text(Unescape(v.mid(1))));
                } else if (v.startsWith('n')) {
                    const double value = v.mid(1).toDouble(&ok);
                    if (ok)
                        sheet.setCell(row, int(column), CellValue::Number(value));
                } else if (v == "e") {
                    sheet.setCell(row, int(column), CellValue{});
                } else {
                    ok = false;
                }
            }
        } else if (kind == "width" && f.size() == 3 && f[1] == "*") {
            const double w = width(2);
            if (ok)
                sheet.setAllColumnWidths(w);
        } else if (kind == "width" && f.size() == 3) {
            const int column = integer(1);
            const double w = width(2);
            if (ok)
                sheet.setColumnWidth(column, w);
        } else if (kind == "format" && f.size() == 2) {
            const QString format = Unescape(f[1]);
            ok = format.size() <= 255;
            if (ok)
                sheet.setNumberFormat(format);
        } else if (kind == "caption" && f.size() == 2) {
            contents.caption = Unescape(f[1]);
        } else if (kind == "end" && f.size() == 1) {
            contents.complete = true;
        } else {
            ok = false;
        }
    } catch (const std::out_of_range&) {
        ok = false;
    }
    return ok;
}

// Lines of a file, read in large blocks: a line is handed over whole when it
// fits in kMaxJournalLineBytes, else passed over without being held. With a
// control, each block read is reported, and a cancelled read ends the file.
class LineReader {
public:
    enum class Line { Whole, TooLong, End };

    LineReader(QFile& file, ReadControl* control)
        : file_(file), control_(control), size_(file.size()), buffer_(kFirstBuffer)
    {
    }

    // The next line without its line feed. A last line without its line feed
    // ends the file (it was cut off by a crash).
    Line next(QByteArrayView& line)
    {
        bool tooLong = false;
        while (true) {
            const char* data = buffer_.data();
            const void* lf = std::memchr(data + begin_, '\n', end_ - begin_);
            if (lf) {
                const size_t at = size_t(static_cast<const char*>(lf) - data);
                line = QByteArrayView(data + begin_, qsizetype(at - begin_));
                // CR LF ends a line too (the journal copied through an
                // editor or a system that writes them); a CR inside a
                // text is always written as \r.
                if (line.endsWith('\r'))
                    line.chop(1);
                begin_ = at + 1;
                return tooLong ? Line::TooLong : Line::Whole;
            }
            if (end_ - begin_ > size_t(kMaxJournalLineBytes)) {
                tooLong = true; // drop what there is and look further
                begin_ = end_ = 0;
            }
            if (begin_ > 0) {
                std::memmove(buffer_.data(), data + begin_, end_ - begin_);
                end_ -= begin_;
                begin_ = 0;
            }
            if (Cancelled(control_))
                return Line::End;
            if (end_ == buffer_.size()) // a long line: room for it, up to the limit and a block
                buffer_.resize(std::min(buffer_.size() * 2, size_t(kMaxJournalLineBytes) + kBlock));
            const qint64 n = file_.read(buffer_.data() + end_, qint64(std::min(buffer_.size() - end_, kBlock)));
            if (n <= 0)
                return Line::End;
            end_ += size_t(n);
            read_ += n;
            if (control_)
                control_->progress(read_, size_);
        }
    }

private:
    static constexpr size_t kBlock = size_t(1) << 20;
    static constexpr size_t kFirstBuffer = size_t(1) << 16;
    QFile& file_;
    ReadControl* control_;
    int64_t size_;
    std::vector<char> buffer_;
    size_t begin_ = 0, end_ = 0;
    int64_t read_ = 0;
};

} // namespace

bool StartsAsJournal(QByteArrayView start)
{
    const QByteArrayView magic(kMagic);
    // The number after the name is the format's version.
    return WithoutBom(start).startsWith(magic.first(magic.indexOf(' ')));
}

std::unique_ptr<JournalContents> ReadJournal(const QString& path, ReadControl* control)
{
    QString error;
    const int fd = OpenRegularFile(path, error);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0) {
            error = file.errorString();
            ::close(fd);
        }
        throw EWorkbookError(QStringLiteral("Cannot read the workbook journal %1: %2").arg(path, error));
    }
    LineReader lines(file, control);
    QByteArrayView line;
    const bool read = lines.next(line) == LineReader::Line::Whole;
    if (!read || WithoutBom(line).trimmed() != kMagic)
        throw EWorkbookError(QStringLiteral("%1 is not a workbook journal").arg(path));

    auto contents = std::make_unique<JournalContents>();
    while (true) {
        const LineReader::Line kind = lines.next(line);
        if (kind == LineReader::Line::End)
            break;
        if (kind == LineReader::Line::TooLong || !ApplyLine(line.toByteArray(), *contents))
            ++contents->badLines;
        if (contents->sheet.memoryBytes() > kMaxJournalSheetBytes)
            throw EWorkbookError(QStringLiteral("%1 holds more cells than any workbook of this tool (over 1.5 GiB "
                                                "in memory); it is not read")
                                     .arg(path));
    }
    return contents;
}

} // namespace bms
