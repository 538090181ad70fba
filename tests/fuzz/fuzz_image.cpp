// Checks random firmware images as the upgrade does before it sends
// anything. The first byte chooses the target (bit 0: the dev firmware); the
// rest is the file. An image the check passes has at least one record.
#include "ImageCheck.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // One file per fuzzing process, rewritten for every input.
    static const QString path = QDir::temp().filePath(QStringLiteral("fuzz-image-%1.hex").arg(getpid()));
    static const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data + 1, size - 1, 0) < 0)
        std::abort();
    const bms::ImageCheckResult result = bms::CheckImage(path, data[0] & 1);
    if (result.ok() && result.records < 1)
        std::abort();
    return 0;
}
