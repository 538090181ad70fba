#include "XlsxRows.h"

#include "Errors.h"
#include "SheetScan.h"

#include <QFile>
#include <QXmlStreamReader>
#include <memory>
#include <zip.h>

namespace bms::trends {

namespace {

constexpr zip_uint64_t kChunkBytes = 1 << 18;

struct ZipCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
struct EntryCloser {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};
using Archive = std::unique_ptr<zip_t, ZipCloser>;
using Entry = std::unique_ptr<zip_file_t, EntryCloser>;

[[noreturn]] void Fail(const QString& path, const QString& why)
{
    throw EInOutError(QStringLiteral("Cannot read the workbook %1: %2").arg(path, why));
}

Archive OpenArchive(const QString& path)
{
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!z) {
        zip_error_t e;
        zip_error_init_with_code(&e, error);
        const QString why = QString::fromUtf8(zip_error_strerror(&e));
        zip_error_fini(&e);
        Fail(path, why);
    }
    return Archive(z);
}

Entry OpenEntry(zip_t* z, const QString& name)
{
    return Entry(zip_fopen(z, name.toUtf8().constData(), 0));
}

// Feeds an archive entry to a stream reader chunk by chunk: next() returns
// the next token, reading more of the entry whenever the reader runs dry.
class EntryReader {
public:
    EntryReader(zip_t* z, const QString& path, const QString& name) : path_(path), entry_(OpenEntry(z, name)) {}
    bool exists() const { return bool(entry_); }
    QXmlStreamReader& xml() { return xml_; }

    QXmlStreamReader::TokenType next()
    {
        while (true) {
            const QXmlStreamReader::TokenType token = xml_.readNext();
            if (token != QXmlStreamReader::Invalid)
                return token;
            if (xml_.error() != QXmlStreamReader::PrematureEndOfDocumentError)
                Fail(path_, xml_.errorString());
            if (ended_)
                return QXmlStreamReader::EndDocument;
            buffer_.resize(qsizetype(kChunkBytes));
            const zip_int64_t n = zip_fread(entry_.get(), buffer_.data(), kChunkBytes);
            if (n < 0)
                Fail(path_, QString::fromUtf8(zip_file_strerror(entry_.get())));
            if (n == 0) {
                ended_ = true;
                continue;
            }
            buffer_.resize(qsizetype(n));
            xml_.addData(buffer_);
        }
    }

private:
    QString path_;
    Entry entry_;
    QXmlStreamReader xml_;
    QByteArray buffer_;
    bool ended_ = false;
};

// The archive path of the first worksheet, from the workbook and its
// relationships; the usual name when they do not say.
QString FirstSheetPath(zip_t* z, const QString& path)
{
    QString id;
    {
        EntryReader workbook(z, path, QStringLiteral("xl/workbook.xml"));
        if (!workbook.exists())
            Fail(path, QStringLiteral("it holds no workbook"));
        for (auto t = workbook.next(); t != QXmlStreamReader::EndDocument; t = workbook.next()) {
            if (t == QXmlStreamReader::StartElement && workbook.xml().name() == u"sheet") {
                for (const QXmlStreamAttribute& a : workbook.xml().attributes()) {
                    if (a.name() == u"id")
                        id = a.value().toString();
                }
                break;
            }
        }
    }
    EntryReader rels(z, path, QStringLiteral("xl/_rels/workbook.xml.rels"));
    if (!id.isEmpty() && rels.exists()) {
        for (auto t = rels.next(); t != QXmlStreamReader::EndDocument; t = rels.next()) {
            if (t != QXmlStreamReader::StartElement || rels.xml().name() != u"Relationship")
                continue;
            const QXmlStreamAttributes a = rels.xml().attributes();
            if (a.value(QLatin1String("Id")) != id)
                continue;
            const QString target = a.value(QLatin1String("Target")).toString();
            return target.startsWith(QLatin1Char('/')) ? target.mid(1) : QStringLiteral("xl/") + target;
        }
    }
    return QStringLiteral("xl/worksheets/sheet1.xml");
}

std::vector<QString> SharedStrings(zip_t* z, const QString& path, const std::atomic_bool* cancel)
{
    std::vector<QString> strings;
    EntryReader reader(z, path, QStringLiteral("xl/sharedStrings.xml"));
    if (!reader.exists())
        return strings;
    QString text;
    int skipDepth = 0; // inside phonetic runs, whose text is not the cell's
    bool inText = false;
    for (auto t = reader.next(); t != QXmlStreamReader::EndDocument; t = reader.next()) {
        if (cancel && *cancel)
            break;
        const QStringView name = reader.xml().name();
        if (t == QXmlStreamReader::StartElement) {
            if (name == u"si")
                text.clear();
            else if (name == u"rPh")
                ++skipDepth;
            else if (name == u"t")
                inText = skipDepth == 0;
        } else if (t == QXmlStreamReader::EndElement) {
            if (name == u"si")
                strings.push_back(text);
            else if (name == u"rPh")
                --skipDepth;
            else if (name == u"t")
                inText = false;
        } else if (t == QXmlStreamReader::Characters && inText) {
            text += reader.xml().text();
        }
    }
    return strings;
}

// Column number of an "AB12"-style reference, from 1; 0 without letters.
int ReferenceColumn(QStringView reference)
{
    int column = 0;
    for (QChar c : reference) {
        const char16_t u = c.unicode();
        if (u < u'A' || u > u'Z')
            break;
        column = column * 26 + (u - u'A' + 1);
    }
    return column;
}

} // namespace

void ReadXlsxRows(const QString& path, const RowVisitor& visit, const std::atomic_bool* cancel, bool fast)
{
    const Archive archive = OpenArchive(path);
    const std::vector<QString> shared = SharedStrings(archive.get(), path, cancel);
    const QString sheetPath = FirstSheetPath(archive.get(), path);
    if (fast) {
        const Entry entry = OpenEntry(archive.get(), sheetPath);
        if (!entry)
            Fail(path, QStringLiteral("it holds no worksheet"));
        SheetScan scan(shared, visit);
        std::vector<char> buffer(kChunkBytes);
        while (!(cancel && *cancel)) {
            const zip_int64_t n = zip_fread(entry.get(), buffer.data(), kChunkBytes);
            if (n < 0)
                Fail(path, QString::fromUtf8(zip_file_strerror(entry.get())));
            if (n == 0) {
                scan.finish();
                break;
            }
            scan.feed(std::string_view(buffer.data(), size_t(n)));
        }
        return;
    }
    EntryReader sheet(archive.get(), path, sheetPath);
    if (!sheet.exists())
        Fail(path, QStringLiteral("it holds no worksheet"));

    // The value of a cell is collected into one buffer that keeps its
    // capacity; the cell type is told from the attribute without a copy.
    enum class Type { Number, Shared, Text };
    std::vector<CellValue> cells;
    QString value;
    Type type = Type::Number;
    int row = 0;
    int column = 0;
    bool inValue = false;
    for (auto t = sheet.next(); t != QXmlStreamReader::EndDocument; t = sheet.next()) {
        QXmlStreamReader& xml = sheet.xml();
        if (t == QXmlStreamReader::Characters) {
            if (inValue)
                value.append(xml.text());
            continue;
        }
        if (t == QXmlStreamReader::StartElement) {
            const QStringView name = xml.name();
            if (name == u"c") {
                const QXmlStreamAttributes a = xml.attributes();
                const int referenced = ReferenceColumn(a.value(QLatin1String("r")));
                column = referenced > 0 ? referenced : column + 1;
                const QStringView kind = a.value(QLatin1String("t"));
                type = kind.isEmpty() || kind == u"n" ? Type::Number : kind == u"s" ? Type::Shared : Type::Text;
                value.truncate(0);
            } else if (name == u"v" || name == u"t") {
                inValue = true;
            } else if (name == u"row") {
                if (cancel && *cancel)
                    return;
                bool ok = false;
                const int number = xml.attributes().value(QLatin1String("r")).toInt(&ok);
                row = ok ? number : row + 1;
                column = 0;
                cells.clear();
            }
        } else if (t == QXmlStreamReader::EndElement) {
            const QStringView name = xml.name();
            if (name == u"v" || name == u"t") {
                inValue = false;
            } else if (name == u"c") {
                if (column < 1 || column > 16384)
                    continue;
                if (cells.size() < size_t(column))
                    cells.resize(size_t(column));
                CellValue& cell = cells[size_t(column - 1)];
                cell = CellValue{};
                bool ok = false;
                if (type == Type::Shared) {
                    const qsizetype index = value.toLongLong(&ok);
                    if (ok && index >= 0 && size_t(index) < shared.size())
                        cell = CellValue::Text(shared[size_t(index)]);
                } else if (type == Type::Text) {
                    cell = CellValue::Text(value);
                } else if (!value.isEmpty()) {
                    const double number = value.toDouble(&ok);
                    if (ok)
                        cell = CellValue::Number(number);
                }
            } else if (name == u"row") {
                if (!cells.empty())
                    visit(row, cells);
            }
        }
    }
}

} // namespace bms::trends
