#include "XlsxRows.h"

#include "Errors.h"
#include "RegularFile.h"
#include "SheetScan.h"

#include <QFile>
#include <QLocale>
#include <QXmlStreamReader>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <unistd.h>
#include <zip.h>

namespace bms::trends {

namespace {

constexpr zip_uint64_t kChunkBytes = 1 << 18;
const QString kSharedStringsPart = QStringLiteral("xl/sharedStrings.xml");

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
    // Only a regular file, opened without waiting (see RegularFile.h).
    QString refused;
    const int fd = OpenRegularFile(path, refused);
    if (fd < 0)
        Fail(path, refused);
    int error = 0;
    zip_t* z = zip_fdopen(fd, 0, &error);
    if (!z) {
        ::close(fd);
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

// Where the XML comes from, piece by piece.
class Pieces {
public:
    virtual ~Pieces() = default;
    virtual bool exists() const = 0;
    // The next piece; empty at the end or once the read is cancelled.
    virtual std::string_view next() = 0;
    virtual bool cancelled() const { return false; }
};

// XML held in memory, in pieces of a given size.
class MemoryPieces : public Pieces {
public:
    MemoryPieces(std::string_view xml, size_t piece) : xml_(xml), piece_(std::max<size_t>(piece, 1)) {}
    bool exists() const override { return true; }
    std::string_view next() override
    {
        const std::string_view piece = xml_.substr(0, piece_);
        xml_.remove_prefix(piece.size());
        return piece;
    }

private:
    std::string_view xml_;
    size_t piece_;
};

// How far a read of several parts has got: the bytes of the parts read
// before this one and of all of them, for the control's progress.
struct PartsProgress {
    ReadControl* control = nullptr;
    int64_t before = 0;
    int64_t total = 0;
};

// The decompressed size of a part, as its archive entry declares it.
int64_t DeclaredSize(zip_t* z, const QString& name)
{
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(z, name.toUtf8().constData(), 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE))
        return 0;
    return int64_t(std::min<zip_uint64_t>(stat.size, INT64_MAX));
}

// Reads an archive entry piece by piece, within its part's limit of
// decompressed bytes (the declared size is looked at before anything is
// read, the bytes themselves while they come); with a control, says how far
// it has got and stops once the read is cancelled.
class EntryChunks : public Pieces {
public:
    EntryChunks(zip_t* z, const QString& path, const QString& name, int64_t limit, ReadControl* cancel,
                PartsProgress progress = {})
        : path_(path), name_(name), entry_(OpenEntry(z, name)), progress_(progress), cancel_(cancel), limit_(limit)
    {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (entry_ && zip_stat(z, name.toUtf8().constData(), 0, &stat) == 0) {
            if ((stat.valid & ZIP_STAT_COMP_SIZE) && RatioLimit(stat.comp_size) < limit_) {
                limit_ = RatioLimit(stat.comp_size);
                compressed_ = int64_t(stat.comp_size);
            }
            if (stat.valid & ZIP_STAT_SIZE)
                check(int64_t(std::min<zip_uint64_t>(stat.size, INT64_MAX)));
        }
        buffer_.resize(kChunkBytes);
    }
    bool exists() const override { return bool(entry_); }
    bool cancelled() const override { return Cancelled(cancel_); }

    std::string_view next() override
    {
        if (!entry_ || Cancelled(cancel_))
            return {};
        const zip_int64_t n = zip_fread(entry_.get(), buffer_.data(), kChunkBytes);
        if (n < 0)
            Fail(path_, QString::fromUtf8(zip_file_strerror(entry_.get())));
        read_ += n;
        check(read_);
        if (progress_.control)
            progress_.control->progress(progress_.before + read_, progress_.total);
        return {buffer_.data(), size_t(n)};
    }

private:
    static int64_t RatioLimit(zip_uint64_t compressed)
    {
        if (compressed > zip_uint64_t(INT64_MAX / kMaxPartRatio))
            return INT64_MAX;
        return std::max(kRatioFreeBytes, int64_t(compressed) * kMaxPartRatio);
    }
    // Refuses the part once it is past its limit: the part's own, or the
    // one its compressed size sets.
    void check(int64_t bytes) const
    {
        if (bytes <= limit_)
            return;
        const QLocale c = QLocale::c();
        if (compressed_ >= 0)
            Fail(path_, QStringLiteral("its part %1 decompresses to more than %2 times its %3 bytes, as no workbook "
                                       "does; it is not read")
                            .arg(name_)
                            .arg(kMaxPartRatio)
                            .arg(c.toString(compressed_)));
        Fail(path_, QStringLiteral("its part %1 decompresses to more than %2 MiB, more than that part of any "
                                   "workbook of this tool; it is not read")
                        .arg(name_)
                        .arg(c.toString(limit_ >> 20)));
    }

    QString path_;
    QString name_;
    Entry entry_;
    PartsProgress progress_;
    const ReadControl* cancel_;
    int64_t limit_;
    int64_t compressed_ = -1; // when the limit is the one the compressed size sets
    int64_t read_ = 0;
    std::vector<char> buffer_;
};

// Feeds XML (an archive entry, or pieces from memory) to a stream reader:
// next() returns the next token, reading more whenever the reader runs dry. A
// token that needs more than 1 MiB of XML, elements nested more than 256
// deep and a document type declaration (which no workbook part has, and
// whose entities could expand without bound) are refused.
class EntryReader {
public:
    EntryReader(zip_t* z, const QString& path, const QString& name, int64_t limit, ReadControl* control,
                PartsProgress progress = {})
        : path_(path), entry_(std::make_unique<EntryChunks>(z, path, name, limit, control, progress)), chunks_(*entry_)
    {
    }
    EntryReader(const QString& path, Pieces& pieces) : path_(path), chunks_(pieces) {}
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
            // A part that ends before its document does is not read as if
            // it were whole (unless the read was stopped).
            if (ended_ && chunks_.cancelled())
                return QXmlStreamReader::EndDocument;
            if (ended_)
                Fail(path_, xml_.errorString());
            const std::string_view piece = chunks_.next();
            if (piece.empty()) {
                ended_ = true;
                continue;
            }
            // More than 1 MiB given without a token coming out of it.
            if (fed_ > kMaxXmlPieceBytes)
                Fail(path_, QStringLiteral("an XML text or tag is longer than 1 MiB"));
            fed_ += piece.size();
            xml_.addData(QByteArray(piece.data(), qsizetype(piece.size())));
        }
    }

private:
    QString path_;
    std::unique_ptr<EntryChunks> entry_;
    Pieces& chunks_;
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
        EntryReader workbook(z, path, QStringLiteral("xl/workbook.xml"), kMaxWorkbookPartBytes, control);
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
    EntryReader rels(z, path, QStringLiteral("xl/_rels/workbook.xml.rels"), kMaxWorkbookPartBytes, control);
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

SharedStrings ReadSharedStrings(zip_t* z, const QString& path, ReadControl* control, PartsProgress progress)
{
    SharedStrings strings;
    EntryReader reader(z, path, kSharedStringsPart, kMaxSharedStringsBytes, control, progress);
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

std::string_view BytesView(const QByteArray& bytes) { return {bytes.constData(), size_t(bytes.size())}; }

int64_t ReadWithXmlReader(const QString& path, Pieces& pieces, SheetRows& rows)
{
    EntryReader sheet(path, pieces);
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
            rows.start(BytesView(name), BytesView(r), BytesView(t));
        } else if (token == QXmlStreamReader::EndElement) {
            name = xml.name().toUtf8();
            rows.end(BytesView(name));
        } else if (token == QXmlStreamReader::Characters && rows.collecting()) {
            text = xml.text().toUtf8();
            rows.text(BytesView(text));
        }
    }
    return rows.unreadableCells();
}

int64_t ReadWithScan(const QString& path, Pieces& pieces, SheetScan& scan, const ReadControl* control)
{
    if (!pieces.exists())
        Fail(path, QStringLiteral("it holds no worksheet"));
    for (std::string_view piece = pieces.next(); !piece.empty() && !scan.done(); piece = pieces.next())
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
        const QString sheetPath = FirstSheetPath(archive.get(), path, how.control);
        // Progress runs through the shared strings and then the worksheet.
        const int64_t sharedBytes = DeclaredSize(archive.get(), kSharedStringsPart);
        const int64_t total = sharedBytes + DeclaredSize(archive.get(), sheetPath);
        const SharedStrings shared = ReadSharedStrings(archive.get(), path, how.control, {how.control, 0, total});
        if (Cancelled(how.control))
            return 0;
        EntryChunks pieces(archive.get(), path, sheetPath, kMaxWorksheetBytes, how.control,
                           {how.control, sharedBytes, total});
        if (how.fast) {
            SheetScan scan(shared, visit, how.columns);
            return ReadWithScan(path, pieces, scan, how.control);
        }
        SheetRows rows(shared, visit, how.columns);
        return ReadWithXmlReader(path, pieces, rows);
    } catch (const SheetTooLarge& e) {
        Fail(path, QString::fromUtf8(e.what()));
    }
}

int64_t ReadSheetXml(std::string_view xml, const SharedStrings& shared, const RowVisitor& visit, bool fast,
                     size_t piece)
{
    const QString name = QStringLiteral("(worksheet XML)");
    MemoryPieces pieces(xml, piece);
    try {
        if (fast) {
            SheetScan scan(shared, visit);
            return ReadWithScan(name, pieces, scan, nullptr);
        }
        SheetRows rows(shared, visit);
        return ReadWithXmlReader(name, pieces, rows);
    } catch (const SheetTooLarge& e) {
        Fail(name, QString::fromUtf8(e.what()));
    }
}

} // namespace bms::trends
