#include "LabelLayout.h"

#include <QSet>
#include <cmath>
#include <toml++/toml.h>

namespace bms::labels {

namespace {

struct Bad {
    TextPos at;
    QString message;
};

TextPos PosOf(const toml::source_region& r)
{
    return {static_cast<int>(r.begin.line), static_cast<int>(r.begin.column)};
}

QString Utf(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// One table of the layout, its keys read strictly: an unknown key, a wrong
// type or a value out of range is a fault at its place.
class Keys {
public:
    Keys(const toml::table& t, QString where) : t_(t), where_(std::move(where)) {}
    const toml::node* get(const char* key)
    {
        used_.insert(QLatin1String(key));
        return t_.get(key);
    }
    TextPos at(const char* key = nullptr) const
    {
        const toml::node* n = key ? t_.get(key) : nullptr;
        return PosOf(n ? n->source() : t_.source());
    }
    double number(const char* key, double lo, double hi, std::optional<double> fallback = std::nullopt)
    {
        const toml::node* n = get(key);
        if (!n) {
            if (fallback)
                return *fallback;
            throw Bad{at(), QStringLiteral("%1 needs '%2'").arg(where_, QLatin1String(key))};
        }
        const std::optional<double> v = n->is_integer() ? std::optional<double>(double(n->as_integer()->get()))
                                        : n->is_floating_point() ? std::optional<double>(n->as_floating_point()->get())
                                                                 : std::nullopt;
        if (!v || !std::isfinite(*v) || *v < lo || *v > hi)
            throw Bad{at(key), QStringLiteral("'%1' must be a number from %2 to %3").arg(QLatin1String(key)).arg(lo).arg(hi)};
        return *v;
    }
    QString text(const char* key)
    {
        const toml::node* n = get(key);
        if (!n)
            throw Bad{at(), QStringLiteral("%1 needs '%2'").arg(where_, QLatin1String(key))};
        if (!n->is_string())
            throw Bad{at(key), QStringLiteral("'%1' must be a text in quotes").arg(QLatin1String(key))};
        return Utf(n->as_string()->get());
    }
    bool boolean(const char* key)
    {
        const toml::node* n = get(key);
        if (n && !n->is_boolean())
            throw Bad{at(key), QStringLiteral("'%1' must be true or false").arg(QLatin1String(key))};
        return n && n->as_boolean()->get();
    }
    void finish() const
    {
        for (auto&& [key, value] : t_)
            if (!used_.contains(Utf(key.str())))
                throw Bad{PosOf(key.source()), QStringLiteral("unknown key '%1' in %2").arg(Utf(key.str()), where_)};
    }

private:
    const toml::table& t_;
    QString where_;
    QSet<QString> used_;
};

// The placeholders of a value at `at`; unknown ones are refused there.
void CheckValue(const QString& value, TextPos at, const std::function<bool(const QString&)>& isMeasurement)
{
    std::optional<LabelFault> fault;
    const std::vector<Placeholder> found = FindPlaceholders(value, fault);
    if (fault)
        throw Bad{at, fault->message};
    for (const Placeholder& p : found)
        if (!KnownPlaceholder(p.name, isMeasurement))
            throw Bad{at, QStringLiteral("'${%1}' is no placeholder of this recipe's records").arg(p.name)};
}

template <typename F>
void EachItem(Keys& root, const char* key, F&& read)
{
    const toml::node* n = root.get(key);
    if (!n)
        return;
    if (!n->is_array_of_tables())
        throw Bad{PosOf(n->source()), QStringLiteral("'%1' is a list of tables: [[%1]]").arg(QLatin1String(key))};
    int index = 0;
    for (const toml::node& item : *n->as_array())
        read(*item.as_table(), ++index);
}

LabelLayout Read(const toml::table& table, const std::function<bool(const QString&)>& isMeasurement)
{
    Keys root(table, QStringLiteral("the layout"));
    LabelLayout l;
    l.width = root.number("width", 5, 500);
    l.height = root.number("height", 5, 500);
    auto inside = [&](Keys& k, double x, double y, double w, double h) {
        if (x + w > l.width + 1e-9 || y + h > l.height + 1e-9)
            throw Bad{k.at(), QStringLiteral("it reaches beyond the label's %1 x %2 mm").arg(l.width).arg(l.height)};
    };
    EachItem(root, "text", [&](const toml::table& t, int index) {
        Keys k(t, QStringLiteral("text %1").arg(index));
        LayoutText item;
        item.x = k.number("x", 0, l.width);
        item.y = k.number("y", 0, l.height);
        item.size = k.number("size", 0.5, 100, 3.0);
        item.text = k.text("text");
        CheckValue(item.text, k.at("text"), isMeasurement);
        item.bold = k.boolean("bold");
        inside(k, item.x, item.y, 0, item.size);
        k.finish();
        l.texts.push_back(item);
    });
    EachItem(root, "barcode", [&](const toml::table& t, int index) {
        Keys k(t, QStringLiteral("barcode %1").arg(index));
        LayoutBarcode item;
        static const QStringList types = {QStringLiteral("code128"), QStringLiteral("datamatrix"), QStringLiteral("qr")};
        const QString type = k.text("type");
        if (!types.contains(type))
            throw Bad{k.at("type"), QStringLiteral("'type' must be %1").arg(types.join(QStringLiteral(", ")))};
        item.type = static_cast<Symbology>(types.indexOf(type));
        item.x = k.number("x", 0, l.width);
        item.y = k.number("y", 0, l.height);
        item.width = k.number("width", 1, l.width);
        item.height = k.number("height", 1, l.height);
        item.data = k.text("data");
        if (item.data.isEmpty())
            throw Bad{k.at("data"), QStringLiteral("a barcode needs its data")};
        CheckValue(item.data, k.at("data"), isMeasurement);
        inside(k, item.x, item.y, item.width, item.height);
        k.finish();
        l.barcodes.push_back(item);
    });
    root.finish();
    if (l.texts.empty() && l.barcodes.empty())
        throw Bad{root.at(), QStringLiteral("the layout has no [[text]] and no [[barcode]]")};
    return l;
}

} // namespace

std::optional<LabelLayout> ParseLayout(const QString& text, const std::function<bool(const QString&)>& isMeasurement,
                                       LabelFault& fault)
{
    const std::string bytes = text.toStdString();
    try {
        const toml::table root = toml::parse(bytes);
        return Read(root, isMeasurement);
    } catch (const toml::parse_error& e) {
        fault.at = PosOf(e.source());
        fault.message = Utf(e.description());
    } catch (const Bad& b) {
        fault.at = b.at;
        fault.message = b.message;
    }
    return std::nullopt;
}

} // namespace bms::labels
