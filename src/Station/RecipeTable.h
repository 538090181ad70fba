// The strict reading of a recipe's TOML tables: every key read is marked,
// a value of the wrong type or out of range is a fault at its line and
// column, and finish() refuses the first key nobody read. Shared by the
// parts of the recipe loader (Recipe.cpp, RecipeOutputs.cpp).
#pragma once

#include "Recipe.h"

#include <QSet>
#include <cmath>
#include <toml++/toml.h>

namespace bms::station::recipe_toml {

// A fault found while reading; LoadRecipe turns it into the RecipeError.
struct Fault {
    Fault(SourcePos where, QString what, QString in = {}) : at(where), message(std::move(what)), file(std::move(in)) {}
    SourcePos at;
    QString message;
    QString file; // when the fault is in a file the recipe names (a label template)
};

inline SourcePos Pos(const toml::source_region& r)
{
    return {static_cast<int>(r.begin.line), static_cast<int>(r.begin.column)};
}

inline QString Q(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The keys of one table as the recipe uses them: every value read is marked,
// and finish() refuses the first key nobody read.
class Table {
public:
    Table(const toml::table& t, QString where) : t_(t), where_(std::move(where)) {}

    const toml::node* node(const char* key)
    {
        used_.insert(QLatin1String(key));
        return t_.get(key);
    }
    SourcePos at() const { return Pos(t_.source()); }
    SourcePos at(const char* key) const
    {
        const toml::node* n = t_.get(key);
        return n ? Pos(n->source()) : at();
    }
    [[noreturn]] void fail(const char* key, const QString& message) const { throw Fault{at(key), message}; }

    std::optional<QString> text(const char* key, bool required = false)
    {
        const toml::node* n = node(key);
        if (!n) {
            if (required)
                throw Fault{at(), QStringLiteral("%1 needs '%2'").arg(where_, QLatin1String(key))};
            return std::nullopt;
        }
        if (!n->is_string())
            fail(key, QStringLiteral("'%1' must be a text in quotes").arg(QLatin1String(key)));
        return Q(n->as_string()->get());
    }
    std::optional<double> number(const char* key, double lo, double hi, bool required = false)
    {
        const toml::node* n = node(key);
        if (!n) {
            if (required)
                throw Fault{at(), QStringLiteral("%1 needs '%2'").arg(where_, QLatin1String(key))};
            return std::nullopt;
        }
        const std::optional<double> v = n->is_integer() ? std::optional<double>(double(n->as_integer()->get()))
                                        : n->is_floating_point() ? std::optional<double>(n->as_floating_point()->get())
                                                                 : std::nullopt;
        if (!v || !std::isfinite(*v) || *v < lo || *v > hi)
            fail(key, QStringLiteral("'%1' must be a number from %2 to %3").arg(QLatin1String(key)).arg(lo).arg(hi));
        return v;
    }
    std::optional<qint64> integer(const char* key, qint64 lo, qint64 hi)
    {
        const toml::node* n = node(key);
        if (!n)
            return std::nullopt;
        if (!n->is_integer() || n->as_integer()->get() < lo || n->as_integer()->get() > hi)
            fail(key, QStringLiteral("'%1' must be a whole number from %2 to %3").arg(QLatin1String(key)).arg(lo).arg(hi));
        return n->as_integer()->get();
    }
    bool boolean(const char* key, bool fallback)
    {
        const toml::node* n = node(key);
        if (!n)
            return fallback;
        if (!n->is_boolean())
            fail(key, QStringLiteral("'%1' must be true or false").arg(QLatin1String(key)));
        return n->as_boolean()->get();
    }
    // One of the words in `choices`, or `fallback` when absent.
    QString choice(const char* key, const QStringList& choices, const QString& fallback)
    {
        const std::optional<QString> v = text(key);
        if (!v)
            return fallback;
        if (!choices.contains(*v))
            fail(key, QStringLiteral("'%1' must be %2").arg(QLatin1String(key), choices.join(QStringLiteral(" or "))));
        return *v;
    }
    void finish() const
    {
        for (auto&& [key, value] : t_) {
            if (!used_.contains(Q(key.str())))
                throw Fault{Pos(key.source()), QStringLiteral("unknown key '%1' in %2").arg(Q(key.str()), where_)};
        }
    }
    const QString& where() const { return where_; }

private:
    const toml::table& t_;
    QString where_;
    QSet<QString> used_;
};

inline const toml::table& AsTable(const toml::node* n, const QString& what)
{
    if (!n || !n->is_table())
        throw Fault{n ? Pos(n->source()) : SourcePos{}, what + QStringLiteral(" must be a table")};
    return *n->as_table();
}

} // namespace bms::station::recipe_toml
