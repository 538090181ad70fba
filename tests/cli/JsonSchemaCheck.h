// A small JSON Schema checker for the keywords the command line's schema
// (docs/cli-json-schema.json) uses: local $ref, allOf, type (a name or a
// list), properties, required, unevaluatedProperties: false (every key
// declared by the schema or by its allOf branches), items, enum, pattern.
// lint() refuses any other keyword, so that nothing in the schema goes
// unchecked, and holds the schema to its own rules: every number has a unit,
// every object lists all its keys as required (key sets never change) but
// those whose annotation "presence" says when they are there.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <cmath>

namespace bms::test {

class JsonSchemaCheck {
public:
    explicit JsonSchemaCheck(QJsonObject root) : root_(std::move(root)) {}

    // Problems of `value` against $defs/`def`, each with the path of the value.
    QStringList check(const QJsonValue& value, const QString& def) const
    {
        QStringList problems;
        validate(root_.value("$defs").toObject().value(def).toObject(), value, def, problems);
        return problems;
    }

    QStringList lint() const
    {
        QStringList problems;
        const QJsonObject defs = root_.value("$defs").toObject();
        for (auto it = defs.begin(); it != defs.end(); ++it)
            lintSchema(it.value().toObject(), it.key(), problems);
        return problems;
    }

private:
    QJsonObject resolve(const QJsonObject& schema) const
    {
        const QString ref = schema.value("$ref").toString();
        if (ref.isEmpty())
            return schema;
        return root_.value("$defs").toObject().value(ref.section(QLatin1Char('/'), -1)).toObject();
    }

    QSet<QString> declared(const QJsonObject& schema) const
    {
        const QJsonObject s = resolve(schema);
        QSet<QString> keys;
        for (const QString& key : s.value("properties").toObject().keys())
            keys.insert(key);
        for (const QJsonValue& branch : s.value("allOf").toArray())
            keys.unite(declared(branch.toObject()));
        return keys;
    }

    static bool HasType(const QJsonValue& v, const QString& type)
    {
        if (type == QLatin1String("integer"))
            return v.isDouble() && std::floor(v.toDouble()) == v.toDouble();
        if (type == QLatin1String("number"))
            return v.isDouble();
        if (type == QLatin1String("string"))
            return v.isString();
        if (type == QLatin1String("boolean"))
            return v.isBool();
        if (type == QLatin1String("null"))
            return v.isNull();
        if (type == QLatin1String("array"))
            return v.isArray();
        return type == QLatin1String("object") && v.isObject();
    }

    static QStringList Types(const QJsonObject& s)
    {
        const QJsonValue t = s.value("type");
        QStringList types;
        if (t.isString())
            types.append(t.toString());
        for (const QJsonValue& name : t.toArray())
            types.append(name.toString());
        return types;
    }

    void validate(const QJsonObject& schema, const QJsonValue& v, const QString& path, QStringList& problems) const
    {
        const QJsonObject s = resolve(schema);
        if (s.isEmpty()) {
            problems.append(path + ": no schema");
            return;
        }
        for (const QJsonValue& branch : s.value("allOf").toArray())
            validate(branch.toObject(), v, path, problems);
        const QStringList types = Types(s);
        if (!types.isEmpty() && std::none_of(types.begin(), types.end(), [&](const QString& t) { return HasType(v, t); }))
            problems.append(QStringLiteral("%1: not %2").arg(path, types.join('|')));
        if (s.contains("enum") && !s.value("enum").toArray().contains(v))
            problems.append(path + ": not one of the listed values");
        if (s.contains("pattern") && v.isString()
            && !QRegularExpression(s.value("pattern").toString()).match(v.toString()).hasMatch())
            problems.append(QStringLiteral("%1: '%2' does not match").arg(path, v.toString()));
        if (v.isArray() && s.contains("items")) {
            const QJsonArray a = v.toArray();
            for (qsizetype i = 0; i < a.size(); ++i)
                validate(s.value("items").toObject(), a[i], QStringLiteral("%1[%2]").arg(path).arg(i), problems);
        }
        if (!v.isObject())
            return;
        const QJsonObject o = v.toObject();
        const QJsonObject properties = s.value("properties").toObject();
        for (auto it = properties.begin(); it != properties.end(); ++it)
            if (o.contains(it.key()))
                validate(it.value().toObject(), o.value(it.key()), path + '.' + it.key(), problems);
        for (const QJsonValue& key : s.value("required").toArray())
            if (!o.contains(key.toString()))
                problems.append(QStringLiteral("%1: no key %2").arg(path, key.toString()));
        if (s.value("unevaluatedProperties") == QJsonValue(false)) {
            const QSet<QString> known = declared(s);
            for (const QString& key : o.keys())
                if (!known.contains(key))
                    problems.append(QStringLiteral("%1: key %2 is not in the schema").arg(path, key));
        }
    }

    void lintSchema(const QJsonObject& s, const QString& path, QStringList& problems) const
    {
        static const QSet<QString> known = {"$ref", "allOf", "type", "properties", "required", "unevaluatedProperties",
                                            "items", "enum", "pattern", "unit", "description", "presence"};
        for (const QString& key : s.keys())
            if (!known.contains(key))
                problems.append(QStringLiteral("%1: keyword %2 is not checked").arg(path, key));
        const QStringList types = Types(s);
        if ((types.contains("integer") || types.contains("number")) && !s.contains("unit"))
            problems.append(path + ": a number without a unit");
        if (s.contains("properties")) {
            const QJsonObject keys = s.value("properties").toObject();
            QSet<QString> required;
            for (const QJsonValue& key : s.value("required").toArray())
                required.insert(key.toString());
            for (auto it = keys.begin(); it != keys.end(); ++it)
                if (required.contains(it.key()) == it.value().toObject().contains("presence"))
                    problems.append(QStringLiteral("%1.%2: a key is required or says when it is there, not both or neither")
                                        .arg(path, it.key()));
            for (const QString& key : required)
                if (!keys.contains(key))
                    problems.append(QStringLiteral("%1: %2 is required but not declared").arg(path, key));
        }
        const QJsonObject properties = s.value("properties").toObject();
        for (auto it = properties.begin(); it != properties.end(); ++it)
            lintSchema(it.value().toObject(), path + '.' + it.key(), problems);
        if (s.contains("items"))
            lintSchema(s.value("items").toObject(), path + "[]", problems);
        for (const QJsonValue& branch : s.value("allOf").toArray())
            lintSchema(branch.toObject(), path + "/allOf", problems);
    }

    QJsonObject root_;
};

} // namespace bms::test
