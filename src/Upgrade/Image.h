// The firmware image of the Device Upgrade tab: the naming rule that yields
// the dev firmware's version and type from the file name, the conversion of
// one text line into a binary image record, and the reader through which the
// upgrade run takes the image one line at a time.
#pragma once

#include <QByteArray>
#include <QFile>
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

// A text file read line by line. Lines end at CR, LF or CR LF; the line
// ending is not part of the line. At end of file every read gives "".
// Characters beyond kMaxLineKept of a line are read past and dropped: a
// record needs at most 521, the rest of a line is ignored anyway, and a
// file that is no text cannot make one line eat the memory.
class ImageReader {
public:
    static constexpr qsizetype kMaxLineKept = 4096;

    // Opens `fileName` from its first line; on failure returns false and
    // leaves the reason in errorString(). Anything but a regular file (a
    // folder, a named pipe, a device) is refused without being opened, and
    // the open never waits.
    bool open(const QString& fileName);
    void close();
    bool isOpen() const { return file_.isOpen(); }
    QByteArray nextLine();
    // True when the line last returned was longer than kMaxLineKept.
    bool lineCut() const { return lineCut_; }
    // True when no further line can be read.
    bool atEnd() const { return !file_.isOpen() || file_.atEnd(); }
    // Number of the line last returned (1 for the first), counting the
    // empty reads at end of file too.
    int lineNumber() const { return lineNumber_; }
    QString errorString() const { return error_; }

private:
    QFile file_;
    QString error_;
    int lineNumber_ = 0;
    bool lineCut_ = false;
};

// The file name last chosen in the open dialog. Everything that opens or
// parses the image takes this name, never the text of edt6.
extern QString DlgFileName;

// 1 while the upgrade run holds the image open.
extern uint8_t ImageOpen;

// Opens the image named by DlgFileName from its first line and sets
// ImageOpen; RecordIndex starts again at 0. Raises EInOutError when the file
// cannot be opened.
void OpenImage();
// Next line of the open image; "" at end of file. Raises EInOutError when
// no image is open.
QByteArray NextImageLine();
// Line number of the line last read from the open image.
int ImageLineNumber();
// Clears ImageOpen and closes the file.
void CloseImage();

} // namespace bms
