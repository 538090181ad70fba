// The firmware image of the Device Upgrade tab: the naming rule that yields
// the dev firmware's version and type from the file name, the conversion of
// one text line into a binary image record, and the reader that takes the
// image in once and hands it over one line at a time.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace bms {

// Largest record length byte L that fits: the dev-firmware packet carries the
// record behind a 4-byte index in a packet of L + 19 bytes counted in one
// byte; on the main-board path the record itself (L + 6 bytes) is counted in
// one byte.
constexpr int kMaxRecordDataDev = 236;
constexpr int kMaxRecordDataMain = 249;

inline int MaxRecordData(bool devFirmware) { return devFirmware ? kMaxRecordDataDev : kMaxRecordDataMain; }

// Version (8 characters) and type (4 hexadecimal digits) declared by the end
// of a dev-firmware file name, in front of the 4-character extension.
struct FirmwareName {
    QString version;
    QString type;
};

// Version: the 8 characters at positions N-15..N-8 of the name (N its
// length); type: the 4 at N-7..N-4. A start before the first character
// counts as the first, and a copy stops at the end of the name.
FirmwareName NamingRule(const QString& fileName);

// Converts a line into its record: the lead byte, L, then L + 4 bytes, each
// from a pair of hexadecimal digits; anything after them is ignored. Returns
// an empty string and fills `record` when the line converts, otherwise the
// reason it does not. With `column`, the reason leaves out where it is and
// `column` gets the 1-based column of the fault (0: the line as a whole);
// without it a bad pair is named with its column ("'0Z' at column 14 ...").
QString ConvertLine(const QByteArray& line, std::vector<uint8_t>& record, int* column = nullptr);

// Bytes of a line as a message can show them: printable ASCII as it is,
// every other byte (a binary file, a control character) as \xHH.
QString PrintableBytes(const QByteArray& bytes);

// The same conversion; a line that does not convert raises EConvertError.
std::vector<uint8_t> LineToRecord(const QByteArray& line);

// Far beyond the Intel-HEX text of any flash the pack can hold (a 16 MiB
// flash gives about 45 MiB): a larger file is not read in, and the image
// check refuses it.
constexpr qint64 kMaxImageBytes = qint64(256) << 20;

// An image's text, read line by line. The file is read in once, whole, and
// the lines come from that copy: what is checked and what is sent are the
// same bytes whatever happens to the file meanwhile. Lines end at CR, LF or
// CR LF; the line ending is not part of the line. At the end every read
// gives "". Characters beyond kMaxLineKept of a line are passed over: a
// record needs at most 521, the rest of a line is ignored anyway.
class ImageReader {
public:
    static constexpr qsizetype kMaxLineKept = 4096;

    // Reads `fileName` in; on failure returns false and leaves the reason
    // in errorString(). Anything but a regular file (a folder, a named pipe,
    // a device) is refused without being opened, and the open never waits.
    // A file larger than kMaxImageBytes is not read: it opens with no lines
    // and tooLarge().
    bool open(const QString& fileName);
    // Reads the lines of `bytes`, an image already in memory.
    void open(const QByteArray& bytes);
    void close();
    bool isOpen() const { return open_; }
    // The whole text read in.
    const QByteArray& bytes() const { return bytes_; }
    QByteArray nextLine();
    // True when the line last returned was longer than kMaxLineKept.
    bool lineCut() const { return lineCut_; }
    bool tooLarge() const { return tooLarge_; }
    // True when no further line can be read.
    bool atEnd() const { return !open_ || position_ >= bytes_.size(); }
    // Number of the line last returned (1 for the first), counting the
    // empty reads at the end too.
    int lineNumber() const { return lineNumber_; }
    QString errorString() const { return error_; }

private:
    QByteArray bytes_;
    qsizetype position_ = 0;
    QString error_;
    int lineNumber_ = 0;
    bool lineCut_ = false;
    bool tooLarge_ = false;
    bool open_ = false;
};

// The file name last chosen in the open dialog. Everything that opens or
// parses the image takes this name, never the text of edt6.
extern QString DlgFileName;

// 1 while the upgrade run holds the image open.
extern uint8_t ImageOpen;

// Starts the run's reading of `checked`, the image text that was checked
// before the run, from its first line and sets ImageOpen; RecordIndex
// starts again at 0. The file is not read again: the run sends these bytes.
void OpenImage(const QByteArray& checked);
// Next line of the open image; "" at its end. Raises EInOutError when no
// image is open.
QByteArray NextImageLine();
// Line number of the line last read from the open image.
int ImageLineNumber();
// Clears ImageOpen and lets go of the image.
void CloseImage();

} // namespace bms
