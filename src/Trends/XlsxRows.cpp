#include "XlsxRows.h"

#include "Errors.h"
#include "SheetScan.h"

#include <QFile>
#include <QXmlStreamReader>
#include <algorithm>
#include <cstdint>
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

// Reads an archive entry piece by piece; with a control, says how far it has
// got and stops once the read is cancelled.
class EntryChunks {
public:
    EntryChunks(zip_t* z, const QString& path, const QString& name, ReadControl* control, bool progress)
        : path_(path), entry_(OpenEntry(z, name)), control_(progress ? control : nullptr), cancel_(control)
    {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (entry_ && zip_stat(z, name.toUtf8().constData(), 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE))
            size_ = int64_t(std::min<zip_uint64_t>(stat.size, INT64_MAX));
        buffer_.resize(kChunkBytes);
    }
    bool exists() const { return bool(entry_); }

    // The next piece; empty at the end of the entry or once cancelled.
    std::string_view next()
    {
        if (!entry_ || Cancelled(cancel_))
            return {};
        const zip_int64_t n = zip_fread(entry_.get(), buffer_.data(), kChunkBytes);
        if (n < 0)
            Fail(path_, QString::fromUtf8(zip_file_strerror(entry_.get())));
        read_ += n;
        if (control_)
            control_->progress(read_, size_);
        return {buffer_.data(), size_t(n)};
    }

private:
    QString path_;
    Entry entry_;
    ReadControl* control_;
    const ReadControl* cancel_;
    int64_t size_ = 0;
    int64_t read_ = 0;
    std::vector<char> buffer_;
};

// Feeds an archive entry to a stream reader chunk by chunk: next() returns
// the next token, reading more of the entry whenever the reader runs dry. A
// token that needs more than 1 MiB of XML, elements nested more than 256
// deep and a document type declaration (which no workbook part has, and
// whose entities could expand without bound) are refused.
class EntryReader {
public:
    EntryReader(zip_t* z, const QString& path, const QString& name, ReadControl* control, bool progress = false)
        : path_(path), chunks_(z, path, name, control, progress)
    {
    }
    bool exists() const { return chunks_.exists(); }
    QXmlStreamReader& xml() { return xml_; }

    QXmlStreamReader::TokenType next()
    {
        while (true) {
            const QXmlStreamReader::TokenType token = xml_.readNext();
            if (token == QXmlStreamReader::DTD)
                Fail(path_, QStringLiteral("it holds a document type declaration"));
            if (token == QXmlStreamReader::StartElement && ++depth_ > kMaxXmlDepth)
                Fail(path_, QStringLiteral("its XML nests elements more than %1 deep").arg(kMaxXmlDepth));
            if (token == QXmlStreamReader::EndElement)
                --depth_;
            if (token != QXmlStreamReader::Invalid) {
                fed_ = 0;
                return token;
            }
            if (xml_.error() != QXmlStreamReader::PrematureEndOfDocumentError)
                Fail(path_, xml_.errorString());
            if (ended_)
                return QXmlStreamReader::EndDocument;
            const std::string_view piece = chunks_.next();
            if (piece.empty()) {
                ended_ = true;
                continue;
            }
            fed_ += piece.size();
            if (fed_ > kMaxXmlPieceBytes + kChunkBytes)
                Fail(path_, QStringLiteral("an XML text or tag is longer than 1 MiB"));
            xml_.addData(QByteArray(piece.data(), qsizetype(piece.size())));
        }
    }

private:
    QString path_;
    EntryChunks chunks_;
    QXmlStreamReader xml_;
    size_t fed_ = 0;
    int depth_ = 0;
    bool ended_ = false;
};

// The archive path of the first worksheet, from the workbook and its
// relationships; the usual name when they do not say.
QString FirstSheetPath(zip_t* z, const QString& path, ReadControl* control)
{
    QString id;
    {
        EntryReader workbook(z, path, QStringLiteral("xl/workbook.xml"), control);
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
    EntryReader rels(z, path, QStringLiteral("xl/_rels/workbook.xml.rels"), control);
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

SharedStrings ReadSharedStrings(zip_t* z, const QString& path, ReadControl* control)
{
    SharedStrings strings;
    EntryReader reader(z, path, QStringLiteral("xl/sharedStrings.xml"), control);
    if (!reader.exists())
        return strings;
    QString text;
    int skipDepth = 0; // inside phonetic runs, whose text is not the cell's
    bool inText = false;
    for (auto t = reader.next(); t != QXmlStreamReader::EndDocument; t = reader.next()) {
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
                strings.append(text);
            else if (name == u"rPh")
                --skipDepth;
            else if (name == u"t")
                inText = false;
        } else if (t == QXmlStreamReader::Characters && inText) {
            const QStringView piece = reader.xml().text();
            if (text.size() + piece.size() > kMaxCellChars)
                throw SheetTooLarge("a shared string holds more than 32,767 characters");
            text += piece;
        }
    }
    return strings;
}

std::string_view View(const QByteArray& bytes) { return {bytes.constData(), size_t(bytes.size())}; }

int64_t ReadWithXmlReader(zip_t* z, const QString& path, const QString& sheetPath, SheetRows& rows,
                          ReadControl* control)
{
    EntryReader sheet(z, path, sheetPath, control, true);
    if (!sheet.exists())
        Fail(path, QStringLiteral("it holds no worksheet"));
    QByteArray name, r, t, text;
    for (auto token = sheet.next(); token != QXmlStreamReader::EndDocument && !rows.done(); token = sheet.next()) {
        QXmlStreamReader& xml = sheet.xml();
        if (token == QXmlStreamReader::StartElement) {
            const QXmlStreamAttributes a = xml.attributes();
            name = xml.name().toUtf8();
            r = a.value(QLatin1String("r")).toUtf8();
            t = a.value(QLatin1String("t")).toUtf8();
            rows.start(View(name), View(r), View(t));
        } else if (token == QXmlStreamReader::EndElement) {
            name = xml.name().toUtf8();
            rows.end(View(name));
        } else if (token == QXmlStreamReader::Characters && rows.collecting()) {
            text = xml.text().toUtf8();
            rows.text(View(text));
        }
    }
    return rows.unreadableCells();
}

int64_t ReadWithScan(zip_t* z, const QString& path, const QString& sheetPath, SheetScan& scan, ReadControl* control)
{
    EntryChunks chunks(z, path, sheetPath, control, true);
    if (!chunks.exists())
        Fail(path, QStringLiteral("it holds no worksheet"));
    for (std::string_view piece = chunks.next(); !piece.empty() && !scan.done(); piece = chunks.next())
        scan.feed(piece);
    if (!Cancelled(control) && !scan.done())
        scan.finish();
    return scan.unreadableCells();
}

} // namespace

int64_t ReadXlsxRows(const QString& path, const RowVisitor& visit, const XlsxReading& how)
{
    try {
        const Archive archive = OpenArchive(path);
        const SharedStrings shared = ReadSharedStrings(archive.get(), path, how.control);
        const QString sheetPath = FirstSheetPath(archive.get(), path, how.control);
        if (Cancelled(how.control))
            return 0;
        if (how.fast) {
            SheetScan scan(shared, visit, how.columns);
            return ReadWithScan(archive.get(), path, sheetPath, scan, how.control);
        }
        SheetRows rows(shared, visit, how.columns);
        return ReadWithXmlReader(archive.get(), path, sheetPath, rows, how.control);
    } catch (const SheetTooLarge& e) {
        Fail(path, QString::fromUtf8(e.what()));
    }
}

} // namespace bms::trends
