#include "ImageCheck.h"

#include "Image.h"

#include <QFileInfo>
#include <vector>

namespace bms {

// Far beyond the Intel-HEX text of any flash the pack can hold (a 16 MiB
// flash gives about 45 MiB); a larger file is not read through.
constexpr qint64 kMaxImageBytes = qint64(256) << 20;

ImageCheckResult CheckImage(const QString& fileName, bool devFirmware)
{
    ImageCheckResult result;
    ImageReader reader;
    if (!reader.open(fileName)) {
        result.problem = fileName.isEmpty()
            ? QStringLiteral("No firmware image has been chosen.")
            : QStringLiteral("Cannot open the firmware image \"%1\": %2.").arg(fileName, reader.errorString());
        return result;
    }
    if (QFileInfo(fileName).size() > kMaxImageBytes) {
        result.problem = QStringLiteral("Firmware image refused: \"%1\" is larger than %2 MiB and cannot be a firmware image. "
                                        "Nothing was sent to the device.")
                             .arg(fileName)
                             .arg(kMaxImageBytes >> 20);
        return result;
    }
    const int limit = MaxRecordData(devFirmware);
    std::vector<uint8_t> record;
    int firstEmptyLine = 0; // main board: an empty line seen before the next record
    while (!reader.atEnd()) {
        const QByteArray line = reader.nextLine();
        const int number = reader.lineNumber();
        if (line.isEmpty()) {
            if (devFirmware)
                break; // the dev-firmware transfer ends at the first empty line
            if (firstEmptyLine == 0)
                firstEmptyLine = number;
            continue;
        }
        if (firstEmptyLine != 0) {
            result.problem = QStringLiteral("Firmware image refused: line %1 is empty, but records follow it (line %2). "
                                            "Nothing was sent to the device.")
                                 .arg(firstEmptyLine)
                                 .arg(number);
            return result;
        }
        QString problem = ConvertLine(line, record);
        if (problem.isEmpty() && record[1] > limit)
            problem = QStringLiteral("its record holds %1 data bytes, at most %2 fit in a %3 record")
                          .arg(record[1])
                          .arg(limit)
                          .arg(devFirmware ? QStringLiteral("dev firmware") : QStringLiteral("main board"));
        if (!problem.isEmpty()) {
            result.problem = QStringLiteral("Firmware image refused: line %1: %2. Nothing was sent to the device.")
                                 .arg(number)
                                 .arg(problem);
            return result;
        }
        ++result.records;
    }
    if (result.records == 0)
        result.problem = QStringLiteral("Firmware image refused: \"%1\" holds no records. Nothing was sent to the device.")
                             .arg(fileName);
    return result;
}

} // namespace bms
