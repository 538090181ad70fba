#include "BusLine.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace bms::bus {

namespace {

std::optional<int> AddressIn(const QString& text)
{
    bool ok = false;
    const QString t = text.trimmed();
    const int v = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? t.mid(2).toInt(&ok, 16) : t.toInt(&ok, 10);
    if (!ok || t.startsWith(QLatin1Char('+')) || t.startsWith(QLatin1Char('-')) || v < 1 || v > 255)
        return std::nullopt;
    return v;
}

} // namespace

std::optional<std::vector<int>> ParseAddressList(const QString& text, QString& error)
{
    std::vector<int> out;
    const QStringList parts = text.split(QLatin1Char(','));
    for (const QString& part : parts) {
        const qsizetype dash = part.indexOf(QLatin1Char('-'), 1);
        const std::optional<int> first = AddressIn(dash < 0 ? part : part.left(dash));
        const std::optional<int> last = dash < 0 ? first : AddressIn(part.mid(dash + 1));
        if (!first || !last || *last < *first) {
            error = QStringLiteral("'%1' is not an address or a range of addresses (1 to 255, decimal or 0x..: "
                                   "1-16,0x20)")
                        .arg(part.trimmed());
            return std::nullopt;
        }
        for (int a = *first; a <= *last; ++a)
            if (std::find(out.begin(), out.end(), a) == out.end())
                out.push_back(a);
    }
    return out;
}

std::vector<int> DefaultAddresses()
{
    std::vector<int> out;
    for (int a = 0x01; a <= 0x10; ++a)
        out.push_back(a);
    return out;
}

double WireSeconds(qint64 bytes, int baud)
{
    return baud > 0 ? static_cast<double>(bytes) * 10.0 / baud : 0.0;
}

int BusReplyTimeoutMs(int baud)
{
    return static_cast<int>(std::ceil(WireSeconds(8 + 81, baud) * 1000 + WireSeconds(35, baud) * 100)) + 50;
}

} // namespace bms::bus
