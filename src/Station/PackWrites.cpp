#include "PackWrites.h"

#include "Convert.h"
#include "Errors.h"

#include <iterator>
#include <vector>

namespace bms::station {

namespace {

// The index of alternative T of PackWrite.
template <class T, size_t I = 0>
constexpr size_t IndexOf()
{
    if constexpr (std::is_same_v<std::variant_alternative_t<I, PackWrite>, T>)
        return I;
    else
        return IndexOf<T, I + 1>();
}

// Each write's word and arguments, in the order of PackWrite's alternatives.
struct WriteForm {
    const char* word;
    const char* usage;
    int required, most; // arguments
    bool text;          // the arguments are texts; else whole numbers
};

constexpr WriteForm kForms[] = {
    {"sleep", "MULTIPLIER BASE", 2, 2, false},
    {"protocol", "TYPE", 1, 1, false},
    {"rtc", "", 0, 0, false},
    {"barcode", "DIGITS", 1, 1, true},
    {"rated-capacity", "MAH", 1, 1, false},
    {"remain-capacity", "MAH", 1, 1, false},
    {"serial", "TEXT", 1, 1, true},
    {"customer-code", "", 0, 0, false},
    {"zero-drift", "VALUE", 1, 1, false},
    {"upload-interval", "SECONDS", 1, 1, false},
    {"role", "ROLE", 1, 1, true},
    {"param", "NAME [VALUE] [--index N|ALL]", 1, 2, true}, // its value is read on its own
    {"current", "MA", 1, 1, false},
    {"zero", "", 0, 0, false},
    {"voltage", "MV1 [MV2]", 1, 2, false},
};
static_assert(std::size(kForms) == std::variant_size_v<PackWrite>);

// The first calibration among the forms: `calibrate`'s, not `set`'s.
constexpr size_t kFirstCalibration = IndexOf<CurrentCalibration>();

const QLatin1String kIndexOption("--index"), kAll("ALL");

// A whole number as the window's boxes read it.
std::optional<qint64> BoxNumber(const QString& text)
{
    try {
        return StrToInt64(text);
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

QString Decimal(qint64 n)
{
    return QString::number(n);
}

} // namespace

std::variant<PackWrite, QString> ParseSettingWrite(const QString& text)
{
    QStringList args = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (args.isEmpty())
        return QStringLiteral("an empty setting");
    const QString word = args.takeFirst();
    size_t form = 0;
    while (form < kFirstCalibration && word != QLatin1String(kForms[form].word))
        ++form;
    if (form == kFirstCalibration) {
        QStringList words;
        for (size_t i = 0; i < kFirstCalibration; ++i)
            words.append(QLatin1String(kForms[i].word));
        return QStringLiteral("'%1' is not a setting (%2)").arg(word, words.join(QStringLiteral(", ")));
    }
    const WriteForm& f = kForms[form];
    std::optional<int> index;
    if (const qsizetype at = args.indexOf(kIndexOption); at >= 0 && form == IndexOf<ParamWrite>()) {
        const QString value = args.value(at + 1);
        const std::optional<qint64> n = value == kAll ? std::optional<qint64>(ParamWrite::kAllIndexes) : BoxNumber(value);
        if (!n || *n < 1 || *n > ParamWrite::kAllIndexes)
            return QStringLiteral("--index: '%1' is not an index (1, 2, ... or ALL)").arg(value);
        index = int(*n);
        args.remove(at, std::min<qsizetype>(2, args.size() - at));
    }
    if (args.size() < f.required || args.size() > f.most)
        return QStringLiteral("%1: arguments %2").arg(word, *f.usage ? QLatin1String(f.usage) : QLatin1String("none"));
    std::vector<qint64> numbers;
    for (qsizetype i = 0; i < args.size(); ++i) {
        // A parameter's value follows its name.
        if (f.text && !(form == IndexOf<ParamWrite>() && i == 1))
            continue;
        const std::optional<qint64> n = BoxNumber(args[i]);
        if (!n)
            return QStringLiteral("%1: '%2' is not a whole number").arg(word, args[i]);
        numbers.push_back(*n);
    }
    switch (form) {
    case IndexOf<SleepWrite>(): return PackWrite(SleepWrite{numbers[0], numbers[1]});
    case IndexOf<ProtocolWrite>(): return PackWrite(ProtocolWrite{numbers[0]});
    case IndexOf<ClockWrite>(): return PackWrite(ClockWrite{});
    case IndexOf<BarcodeWrite>(): return PackWrite(BarcodeWrite{args[0]});
    case IndexOf<RatedCapacityWrite>(): return PackWrite(RatedCapacityWrite{numbers[0]});
    case IndexOf<RemainCapacityWrite>(): return PackWrite(RemainCapacityWrite{numbers[0]});
    case IndexOf<SerialWrite>(): return PackWrite(SerialWrite{args[0]});
    case IndexOf<CustomerCodeWrite>(): return PackWrite(CustomerCodeWrite{});
    case IndexOf<ZeroDriftWrite>(): return PackWrite(ZeroDriftWrite{numbers[0]});
    case IndexOf<UploadIntervalWrite>(): return PackWrite(UploadIntervalWrite{numbers[0]});
    case IndexOf<RoleWrite>(): return PackWrite(RoleWrite{args[0]});
    default:
        return PackWrite(ParamWrite{args[0], numbers.empty() ? std::nullopt : std::optional<qint64>(numbers[0]), index});
    }
}

QStringList WriteWords(const PackWrite& write)
{
    QStringList words{QLatin1String(kForms[write.index()].word)};
    std::visit(
        [&](const auto& w) {
            using W = std::decay_t<decltype(w)>;
            if constexpr (std::is_same_v<W, SleepWrite>)
                words << Decimal(w.multiplier) << Decimal(w.base);
            else if constexpr (std::is_same_v<W, ProtocolWrite>)
                words << Decimal(w.type);
            else if constexpr (std::is_same_v<W, BarcodeWrite> || std::is_same_v<W, SerialWrite>)
                words << w.text;
            else if constexpr (std::is_same_v<W, RatedCapacityWrite> || std::is_same_v<W, RemainCapacityWrite>)
                words << Decimal(w.mah);
            else if constexpr (std::is_same_v<W, ZeroDriftWrite>)
                words << Decimal(w.word);
            else if constexpr (std::is_same_v<W, UploadIntervalWrite>)
                words << Decimal(w.seconds);
            else if constexpr (std::is_same_v<W, RoleWrite>)
                words << w.role;
            else if constexpr (std::is_same_v<W, ParamWrite>) {
                words << w.name;
                if (w.value)
                    words << Decimal(*w.value);
            } else if constexpr (std::is_same_v<W, CurrentCalibration>)
                words << Decimal(w.ma);
            else if constexpr (std::is_same_v<W, VoltageCalibration>) {
                words << Decimal(w.cellMv);
                if (w.secondMv)
                    words << Decimal(*w.secondMv);
            }
        },
        write);
    return words;
}

QString WriteText(const PackWrite& write)
{
    QString text = WriteWords(write).join(QLatin1Char(' '));
    if (const auto* p = std::get_if<ParamWrite>(&write); p && p->index)
        text += QLatin1Char(' ') + kIndexOption + QLatin1Char(' ')
                + (*p->index == ParamWrite::kAllIndexes ? QString(kAll) : Decimal(*p->index));
    return text;
}

bool IsCalibration(const PackWrite& write)
{
    return write.index() >= kFirstCalibration;
}

QString WriteUsage(const QString& word)
{
    for (const WriteForm& f : kForms)
        if (word == QLatin1String(f.word))
            return QLatin1String(f.usage);
    return {};
}

} // namespace bms::station
