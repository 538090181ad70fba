// The words of the frame record: one line of meaning per frame and the trace
// line. Pure functions of the event.
#include "FrameRecord.h"

namespace bms {

namespace {

QString Hex(unsigned value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

struct Name {
    unsigned code;
    const char* text;
};

template <size_t N>
const char* Lookup(const Name (&table)[N], unsigned code)
{
    for (const Name& n : table)
        if (n.code == code)
            return n.text;
    return nullptr;
}

// Modbus exception codes.
const Name kExceptions[] = {
    {0x01, "illegal function"},  {0x02, "illegal data address"}, {0x03, "illegal data value"},
    {0x04, "device failure"},    {0x05, "acknowledge"},          {0x06, "device busy"},
};

// Status codes of the main control board's boot loader.
const Name kBootStatus[] = {
    {0x31, "device rebooting"}, {0x32, "ready to erase"},    {0x33, "erased, first record"},
    {0x34, "next record"},      {0x35, "write error"},       {0x36, "waiting for check"},
    {0x38, "upgrade complete"},
};

// Boot commands (3A 00 00 00 cc ss).
const Name kBootCommands[] = {{0x30, "reboot into the boot loader"}, {0x37, "erase"}};

// Intel-HEX record types.
const Name kRecordTypes[] = {
    {0x00, "data"}, {0x01, "end of file"}, {0x02, "segment address"}, {0x03, "segment start"},
    {0x04, "linear address"}, {0x05, "linear start"},
};

// The pack's own write functions with a two-byte header (0x00, length).
const Name kPackFunctions[] = {
    {0x14, "set rated capacity"}, {0x1B, "set pack serial number"}, {0x52, "set upload interval"},
};

QString ExceptionText(uint8_t code)
{
    const char* name = Lookup(kExceptions, code);
    return QStringLiteral("exception code %1").arg(Hex(code, 2)) +
           (name ? QStringLiteral(" (%1)").arg(QLatin1String(name)) : QString());
}

uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

// An image record (lead byte, L, address, type, ...) starting at `at`.
QString ImageRecordText(const std::vector<uint8_t>& b, size_t at)
{
    const char* type = Lookup(kRecordTypes, b[at + 4]);
    return QStringLiteral("image record, %1, address %2, %3 data bytes")
        .arg(type ? QLatin1String(type) : QLatin1String("type ") + Hex(b[at + 4], 2), Hex(U16(b, at + 2), 4))
        .arg(b[at + 1]);
}

QString Request(const std::vector<uint8_t>& b)
{
    const uint8_t fc = b[1];
    if ((fc == 0x03 || fc == 0x04) && b.size() == 8)
        return QStringLiteral("read %1 x%2").arg(Hex(U16(b, 2), 4)).arg(U16(b, 4));
    // A dev-firmware record: its index, then the record.
    if (fc == 0x10 && U16(b, 2) == 0x9F00 && b.size() >= 7 + 4 + 6 + 2)
        return QStringLiteral("write 9F00 x%1, %2 bytes: record index %3, ")
                   .arg(U16(b, 4))
                   .arg(b[6])
                   .arg(uint32_t(U16(b, 7)) << 16 | U16(b, 9)) +
               ImageRecordText(b, 11);
    if (fc == 0x10 && b.size() >= 9)
        return QStringLiteral("write %1 x%2, %3 bytes").arg(Hex(U16(b, 2), 4)).arg(U16(b, 4)).arg(b[6]);
    if (fc == 0x30 && b.size() == 4)
        return QStringLiteral("enter the boot loader");
    if (const char* name = Lookup(kPackFunctions, fc); name && b.size() >= 6)
        return QStringLiteral("%1, %2 bytes").arg(QLatin1String(name)).arg(b[3]);
    return QStringLiteral("function %1").arg(Hex(fc, 2));
}

QString Answer(const std::vector<uint8_t>& b)
{
    const uint8_t fc = b[1];
    if (fc == 0x04 && b.size() >= 5)
        return QStringLiteral("read answer, %1 bytes").arg(b[2]);
    if (fc == 0x10 && b.size() == 8)
        return QStringLiteral("write acknowledged, %1 x%2").arg(Hex(U16(b, 2), 4)).arg(U16(b, 4));
    if (fc == 0x90 && b.size() == 5)
        return QStringLiteral("write refused, ") + ExceptionText(b[2]);
    if (fc == 0x84 && b.size() == 5)
        return QStringLiteral("read refused, ") + ExceptionText(b[2]);
    if (const char* name = Lookup(kPackFunctions, fc & 0x7F)) {
        if (fc & 0x80)
            return QStringLiteral("%1 refused").arg(QLatin1String(name)) +
                   (b.size() >= 5 ? QStringLiteral(", ") + ExceptionText(b[2]) : QString());
        return QStringLiteral("%1 acknowledged").arg(QLatin1String(name));
    }
    return QStringLiteral("function %1").arg(Hex(fc, 2));
}

QString BootFrameSent(const std::vector<uint8_t>& b)
{
    // A boot command has the shape of an empty record whose type is the
    // command: the end-of-file record 3A 00 00 00 01 FF is a record.
    if (b.size() == 6 && b[1] == 0 && b[2] == 0 && b[3] == 0 && !Lookup(kRecordTypes, b[4])) {
        const char* name = Lookup(kBootCommands, b[4]);
        return QStringLiteral("boot command %1").arg(Hex(b[4], 2)) +
               (name ? QStringLiteral(" (%1)").arg(QLatin1String(name)) : QString());
    }
    if (b.size() >= 6)
        return ImageRecordText(b, 0);
    return QStringLiteral("boot-loader frame");
}

QString BootStatus(const std::vector<uint8_t>& b)
{
    if (b.size() < 5)
        return QStringLiteral("boot-loader frame, no code");
    const uint8_t code = b[2];
    if (code == 0x51)
        return QStringLiteral("carried frame");
    const char* name = Lookup(kBootStatus, code);
    return QStringLiteral("boot-loader code %1").arg(Hex(code, 2)) +
           (name ? QStringLiteral(" (%1)").arg(QLatin1String(name)) : QString());
}

} // namespace

QString HexBytes(const std::vector<uint8_t>& bytes)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size() * 3));
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            text += QLatin1Char(' ');
        text += QLatin1Char(digits[bytes[i] >> 4]);
        text += QLatin1Char(digits[bytes[i] & 0x0F]);
    }
    return text;
}

QString DescribeFrameContent(const FrameEvent& e)
{
    const std::vector<uint8_t>& b = e.bytes;
    if (e.kind == FrameKind::Noise)
        return QStringLiteral("noise, %1 bytes skipped").arg(b.size());
    if (e.kind == FrameKind::Fragment)
        return QStringLiteral("fragment, %1 bytes abandoned").arg(b.size());
    if (b.size() < 2)
        return QStringLiteral("%1 byte").arg(b.size());

    QString text;
    if (e.dir == FrameDir::Tx)
        text = e.framing == Framing::MainBoard ? BootFrameSent(b) : Request(b);
    else
        text = e.framing == Framing::MainBoard ? BootStatus(b) : Answer(b);
    if (e.kind == FrameKind::BadCrc)
        text += QStringLiteral(", CRC error");
    return text;
}

QString DescribeFrame(const FrameEvent& e)
{
    QString text = DescribeFrameContent(e);
    if (e.dir == FrameDir::Rx && e.sinceRequestMs >= 0 &&
        (e.kind == FrameKind::Frame || e.kind == FrameKind::BadCrc))
        text += QStringLiteral(", %1 ms after its request").arg(e.sinceRequestMs);
    return text;
}

QString FormatTraceLine(const FrameEvent& e)
{
    QString line = e.time.toString(QStringLiteral("hh:mm:ss.zzz")) +
                   (e.dir == FrameDir::Tx ? QStringLiteral(" TX ") : QStringLiteral(" RX ")) + HexBytes(e.bytes);
    switch (e.kind) {
    case FrameKind::Frame: break;
    case FrameKind::BadCrc: line += QStringLiteral("  CRC error"); break;
    case FrameKind::Fragment: line += QStringLiteral("  fragment"); break;
    case FrameKind::Noise: line += QStringLiteral("  noise"); break;
    }
    return line;
}

} // namespace bms
