#include "Recipe.h"

#include "Quantities.h"
#include "RecipeNesting.h"
#include "RecipeOutputs.h"
#include "RecipeTable.h"
#include "TextChecks.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <toml++/toml.h>

namespace bms::station {

namespace {

using namespace recipe_toml;

void CheckRegex(Table& t, const char* key, const QString& expression)
{
    const QRegularExpression re(expression);
    if (!re.isValid())
        t.fail(key, QStringLiteral("'%1' is not a regular expression: %2").arg(expression, re.errorString()));
}

Limits ReadLimits(const toml::table& table, const QString& name, const QString& unit, ValueType type)
{
    Table t(table, QStringLiteral("the limits of ") + name);
    Limits l;
    // A limit of the other kind could never pass: a text is never below a
    // number, nor equal to one.
    if (type == ValueType::Text) {
        for (const char* key : {"low", "high", "mask"})
            if (table.get(key))
                t.fail(key, QStringLiteral("%1 is a text: it takes 'equals' (a text in quotes) or 'matches', not '%2'")
                                .arg(name, QLatin1String(key)));
    }
    l.low = t.number("low", -1e15, 1e15);
    l.high = t.number("high", -1e15, 1e15);
    if (const toml::node* e = t.node("equals")) {
        if (e->is_string() && type == ValueType::Text)
            l.equals = QJsonValue(Q(e->as_string()->get()));
        else if (e->is_integer() && type == ValueType::Number)
            l.equals = QJsonValue(double(e->as_integer()->get()));
        else if (e->is_floating_point() && type == ValueType::Number)
            l.equals = QJsonValue(e->as_floating_point()->get());
        else
            t.fail("equals", type == ValueType::Number ? QStringLiteral("%1 is a number: 'equals' must be a number").arg(name)
                                                       : QStringLiteral("%1 is a text: 'equals' must be a text in quotes").arg(name));
    }
    l.matches = t.text("matches");
    if (l.matches)
        CheckRegex(t, "matches", *l.matches);
    l.mask = t.integer("mask", 0, 0xFFFFFFFFLL);
    l.unit = t.text("unit").value_or(unit);
    if (l.unit != unit)
        t.fail("unit", QStringLiteral("%1 is measured in %2").arg(name, unit.isEmpty() ? QStringLiteral("no unit") : unit));
    if (l.low && l.high && *l.low > *l.high)
        t.fail("low", QStringLiteral("the low limit %1 of %2 is above its high limit %3").arg(*l.low).arg(name).arg(*l.high));
    if (!l.any())
        throw Fault{t.at(), QStringLiteral("the limits of %1 name no low, high, equals, matches or mask").arg(name)};
    t.finish();
    return l;
}

std::vector<NamedLimits> ReadLimitTable(Table& step, bool check)
{
    std::vector<NamedLimits> out;
    const toml::node* n = step.node("limits");
    if (!n)
        return out;
    for (auto&& [key, value] : AsTable(n, QStringLiteral("'limits'"))) {
        const QString name = Q(key.str());
        const bool known = check ? IsCheckQuantity(name) : IdentifyQuantities().contains(name);
        if (!known)
            throw Fault{Pos(key.source()), QStringLiteral("%1 is not a quantity of %2").arg(name, step.where())};
        const QString unit = check ? QuantityUnit(name) : IdentifyUnit(name);
        const ValueType type = check ? ValueType::Number : IdentifyType(name);
        out.push_back({name, ReadLimits(AsTable(&value, QStringLiteral("the limits of ") + name), name, unit, type), Pos(key.source())});
    }
    // In the order the recipe writes them (a table's keys come sorted).
    std::sort(out.begin(), out.end(), [](const NamedLimits& a, const NamedLimits& b) {
        return std::pair(a.at.line, a.at.column) < std::pair(b.at.line, b.at.column);
    });
    return out;
}

Reference ReadReference(Table& t, const QString& quantity)
{
    Reference r;
    const toml::node* n = t.node("reference");
    if (quantity == QLatin1String("zero")) {
        if (n)
            t.fail("reference", QStringLiteral("a zero-current calibration takes no reference"));
        return r;
    }
    if (!n)
        throw Fault{t.at(), t.where() + QStringLiteral(" needs 'reference' (a number, {prompt = \"...\"} or {command = \"...\"})")};
    if (n->is_table()) {
        Table ref(*n->as_table(), QStringLiteral("the reference"));
        const std::optional<QString> prompt = ref.text("prompt");
        const std::optional<QString> command = ref.text("command");
        if (prompt.has_value() == command.has_value())
            throw Fault{ref.at(), QStringLiteral("a reference is a number, {prompt = \"...\"} or {command = \"...\"}")};
        ref.finish();
        r.kind = prompt ? Reference::Kind::Prompt : Reference::Kind::Command;
        r.text = prompt ? *prompt : *command;
        return r;
    }
    if (!n->is_integer() && !n->is_floating_point())
        t.fail("reference", QStringLiteral("a reference is a number, {prompt = \"...\"} or {command = \"...\"}"));
    r.value = n->is_integer() ? double(n->as_integer()->get()) : n->as_floating_point()->get();
    if (const QString refusal = ReferenceRefusal(quantity, r.value); !refusal.isEmpty())
        t.fail("reference", refusal);
    return r;
}

void ReadKind(Table& t, RecipeStep& s, const QString& recipeDir, const RecipeChecks& checks, bool haveSerial)
{
    switch (s.kind) {
    case StepKind::Identify: s.limits = ReadLimitTable(t, false); break;
    case StepKind::Check:
        s.limits = ReadLimitTable(t, true);
        s.rotations = static_cast<int>(t.integer("rotations", 1, 10000).value_or(0));
        s.durationS = t.number("duration", 0.1, 86400).value_or(0);
        if (s.rotations && s.durationS)
            t.fail("duration", QStringLiteral("a check samples 'rotations' or for a 'duration', not both"));
        if (!s.rotations && !s.durationS)
            s.rotations = 1;
        break;
    case StepKind::Scan:
        s.pattern = *t.text("pattern", true);
        CheckRegex(t, "pattern", s.pattern);
        s.patternHint = t.text("pattern_hint").value_or(QString());
        break;
    case StepKind::Upgrade: {
        s.devFirmware = t.choice("target", {QStringLiteral("main"), QStringLiteral("dev")}, QStringLiteral("main"))
                        == QLatin1String("dev");
        const QString image = *t.text("image", true);
        s.image = QFileInfo(QDir(recipeDir), image).absoluteFilePath();
        s.imageSha256 = t.text("sha256", true)->toLower();
        static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
        if (!hex.match(s.imageSha256).hasMatch())
            t.fail("sha256", QStringLiteral("'sha256' must be 64 hexadecimal digits"));
        const std::optional<QString> version = t.text("version", !s.devFirmware);
        if (version && !ParseVersion(*version))
            t.fail("version", QStringLiteral("'%1' is not a version A.B.C (A and C 0 to 15, B 0 to 255)").arg(*version));
        s.version = version.value_or(QString());
        const QFileInfo info(s.image);
        if (!info.exists())
            t.fail("image", QStringLiteral("the image %1 does not exist").arg(s.image));
        if (!info.isFile())
            t.fail("image", QStringLiteral("the image %1 is not a regular file").arg(s.image));
        QFile file(s.image);
        if (info.size() > 64 * 1024 * 1024 || !file.open(QIODevice::ReadOnly))
            t.fail("image", QStringLiteral("the image %1 cannot be read").arg(s.image));
        const QString sha = QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
        if (sha != s.imageSha256)
            t.fail("sha256", QStringLiteral("the image %1 has the SHA-256 %2, not the one stated").arg(s.image, sha));
        if (checks.image) {
            if (const QString problem = checks.image(s.image, s.devFirmware); !problem.isEmpty())
                t.fail("image", problem);
        }
        break;
    }
    case StepKind::WriteIdentity:
        s.writeBarcode = t.boolean("barcode", true);
        s.writeSerial = t.boolean("serial", true);
        s.writeRtc = t.boolean("rtc", true);
        s.rtcToleranceS = t.number("rtc_tolerance", 0, 3600).value_or(5);
        if (s.writeSerial && !haveSerial)
            t.fail("serial", QStringLiteral("writing the serial number needs [serial_number] template = \"...\""));
        if (!s.writeBarcode && !s.writeSerial && !s.writeRtc)
            throw Fault{t.at(), QStringLiteral("%1 writes nothing").arg(t.where())};
        break;
    case StepKind::Calibrate:
        s.quantity = t.choice("quantity", {QStringLiteral("current"), QStringLiteral("zero"), QStringLiteral("voltage")}, {});
        if (s.quantity.isEmpty())
            throw Fault{t.at(), t.where() + QStringLiteral(" needs 'quantity' (current, zero or voltage)")};
        s.reference = ReadReference(t, s.quantity);
        s.tolerance = *t.number("tolerance", 0, 1e6, true);
        s.maxErrorBefore = t.number("max_error_before", 0, 1e6);
        break;
    case StepKind::Settings: {
        const toml::node* n = t.node("writes");
        if (!n || !n->is_array() || n->as_array()->empty())
            throw Fault{n ? Pos(n->source()) : t.at(), t.where() + QStringLiteral(" needs 'writes', a list of settings such as \"sleep 1 3600\"")};
        for (const toml::node& w : *n->as_array()) {
            if (!w.is_string())
                throw Fault{Pos(w.source()), QStringLiteral("a setting is a text such as \"sleep 1 3600\"")};
            const std::variant<PackWrite, QString> parsed = ParseSettingWrite(Q(w.as_string()->get()));
            const QString* refused = std::get_if<QString>(&parsed);
            const QString problem = refused ? *refused : checks.setting ? checks.setting(std::get<PackWrite>(parsed)) : QString();
            if (!problem.isEmpty())
                throw Fault{Pos(w.source()), problem};
            s.writes.push_back(std::get<PackWrite>(parsed));
        }
        break;
    }
    case StepKind::Prompt: s.text = *t.text("text", true); break;
    }
}

// Time a step of each kind may take, retries included, unless the recipe says.
double DefaultTimeout(const RecipeStep& s)
{
    switch (s.kind) {
    case StepKind::Identify: return 10;
    case StepKind::Scan: return 600;
    case StepKind::Upgrade: return 900;
    case StepKind::WriteIdentity: return 30;
    case StepKind::Calibrate: return s.reference.kind == Reference::Kind::Prompt ? 600 : 60;
    case StepKind::Settings: return 10 + 15.0 * static_cast<double>(s.writes.size());
    case StepKind::Check: return 15 + (s.durationS > 0 ? s.durationS : 5.0 * s.rotations);
    case StepKind::Prompt: return 600;
    }
    return 60;
}

RecipeStep ReadStep(const toml::node& node, int index, const QString& recipeDir, const RecipeChecks& checks, bool haveSerial)
{
    const QString where = QStringLiteral("step %1").arg(index + 1);
    const toml::table& table = AsTable(&node, where);
    static const QStringList kinds = {QStringLiteral("identify"),       QStringLiteral("scan"),
                                      QStringLiteral("upgrade"),        QStringLiteral("write_identity"),
                                      QStringLiteral("calibrate"),      QStringLiteral("settings"),
                                      QStringLiteral("check"),          QStringLiteral("prompt")};
    const QString kind = Table(table, where).choice("kind", kinds, {});
    if (kind.isEmpty())
        throw Fault{Pos(table.source()), where + QStringLiteral(" needs 'kind' (") + kinds.join(QStringLiteral(", ")) + QLatin1Char(')')};
    Table t(table, where + QStringLiteral(" (") + kind + QLatin1Char(')'));
    t.node("kind");
    RecipeStep s;
    s.at = t.at();
    s.kind = static_cast<StepKind>(kinds.indexOf(kind));
    s.name = t.text("name").value_or(kind);
    static const QRegularExpression word(QStringLiteral("^[A-Za-z0-9_-]{1,40}$"));
    if (!word.match(s.name).hasMatch())
        t.fail("name", QStringLiteral("a step's name is 1 to 40 letters, digits, '_' or '-'"));
    s.stopOnFail = t.choice("on_fail", {QStringLiteral("stop"), QStringLiteral("continue")}, QStringLiteral("stop"))
                   == QLatin1String("stop");
    s.retries = static_cast<int>(t.integer("retries", 0, 10).value_or(0));
    const std::optional<double> timeout = t.number("timeout", 0.1, 86400);
    ReadKind(t, s, recipeDir, checks, haveSerial);
    s.timeoutS = timeout.value_or(DefaultTimeout(s));
    t.finish();
    return s;
}

Recipe Read(const toml::table& root, const QString& file, const RecipeChecks& checks)
{
    Table t(root, QStringLiteral("the recipe"));
    Recipe r;
    r.file = file;
    r.name = *t.text("name", true);
    if (const toml::node* v = t.node("version"); v && v->is_integer())
        r.version = QString::number(v->as_integer()->get());
    else
        r.version = *t.text("version", true);
    // Both are printed on terminals and the Station tab and kept in records.
    for (const char* key : {"name", "version"}) {
        const QString value = QLatin1String(key) == QLatin1String("name") ? r.name : r.version;
        if (HasControlCharacters(value))
            t.fail(key, QStringLiteral("the recipe's %1 '%2' holds control characters").arg(QLatin1String(key), Printable(value)));
    }
    r.product = t.choice("product", {QStringLiteral("Q-Serial"), QStringLiteral("BSI")}, r.product);
    r.allowRetest = t.boolean("allow_retest", false);
    if (const toml::node* n = t.node("line")) {
        Table line(AsTable(n, QStringLiteral("[line]")), QStringLiteral("[line]"));
        r.baud = static_cast<uint32_t>(line.integer("baud", 1, 4000000).value_or(r.baud));
        r.address = static_cast<uint8_t>(line.integer("address", 1, 255).value_or(r.address));
        r.timeoutMs = static_cast<int>(line.integer("timeout", 10, 600000).value_or(r.timeoutMs));
        line.finish();
    }
    if (const toml::node* n = t.node("serial_number")) {
        Table serial(AsTable(n, QStringLiteral("[serial_number]")), QStringLiteral("[serial_number]"));
        const QString text = *serial.text("template", true);
        QString error;
        int column = 0;
        r.serial = SerialTemplate::parse(text, error, column);
        if (!r.serial) {
            SourcePos at = serial.at("template");
            at.column += 1 + column; // past the opening quote
            throw Fault{at, error};
        }
        r.serialLeaseBlock = static_cast<int>(serial.integer("lease", 1, 100000).value_or(r.serialLeaseBlock));
        serial.finish();
    }
    const toml::node* steps = t.node("steps");
    if (!steps || !steps->is_array_of_tables() || steps->as_array()->empty())
        throw Fault{steps ? Pos(steps->source()) : t.at(), QStringLiteral("the recipe needs its steps: [[steps]] kind = \"...\"")};
    QSet<QString> names;
    bool scanned = false;
    int index = 0;
    for (const toml::node& node : *steps->as_array()) {
        RecipeStep s = ReadStep(node, index++, QFileInfo(file).absolutePath(), checks, r.serial.has_value());
        if (names.contains(s.name))
            throw Fault{s.at, QStringLiteral("a step named '%1' comes before; give this one its own 'name'").arg(s.name)};
        names.insert(s.name);
        if (s.kind == StepKind::WriteIdentity && s.writeBarcode && !scanned)
            throw Fault{s.at, QStringLiteral("writing the barcode needs a scan step before it")};
        scanned = scanned || s.kind == StepKind::Scan;
        r.steps.push_back(std::move(s));
    }
    ReadOutputs(t, r);
    t.finish();
    return r;
}

} // namespace

QString StepKindName(StepKind kind)
{
    static const char* const kNames[] = {"identify", "scan", "upgrade", "write_identity",
                                         "calibrate", "settings", "check", "prompt"};
    return QString::fromLatin1(kNames[static_cast<int>(kind)]);
}

QString RecipeError::text() const
{
    if (at.line <= 0)
        return file + QStringLiteral(": ") + message;
    return QStringLiteral("%1:%2:%3: %4").arg(file).arg(at.line).arg(at.column).arg(message);
}

QString ReferenceRefusal(const QString& quantity, double value)
{
    // The ranges the calibration handlers accept.
    const bool current = quantity == QLatin1String("current");
    const double low = current ? 1 : 1001, high = current ? 499999 : 4999;
    if (std::isfinite(value) && value >= low && value <= high && std::floor(value) == value)
        return {};
    return QStringLiteral("the reference %1 %2 is not a whole number from %3 to %4")
        .arg(value)
        .arg(current ? QStringLiteral("mA") : QStringLiteral("mV"))
        .arg(low)
        .arg(high);
}

std::optional<uint16_t> ParseVersion(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,2})\\.(\\d{1,3})\\.(\\d{1,2})$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int a = m.captured(1).toInt(), b = m.captured(2).toInt(), c = m.captured(3).toInt();
    if (a > 15 || b > 255 || c > 15)
        return std::nullopt;
    return static_cast<uint16_t>(a << 12 | b << 4 | c);
}

std::optional<Recipe> LoadRecipe(const QString& path, RecipeError& error, const RecipeChecks& checks)
{
    const QFileInfo info(path);
    error = RecipeError{path, {}, {}};
    QFile file(path);
    if (!info.isFile()) {
        error.message = info.exists() ? QStringLiteral("not a regular file") : QStringLiteral("no such file");
        return std::nullopt;
    }
    if (info.size() > kRecipeMaxBytes) {
        error.message = QStringLiteral("a recipe is at most %1 bytes").arg(kRecipeMaxBytes);
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        error.message = file.errorString();
        return std::nullopt;
    }
    const QByteArray bytes = file.read(kRecipeMaxBytes + 1);
    const std::string_view text(bytes.constData(), static_cast<size_t>(bytes.size()));
    if (const std::optional<NestingFault> deep = FindDeepNesting(text)) {
        error.at = {deep->line, deep->column};
        error.message = QStringLiteral("nested deeper than %1 levels").arg(kRecipeMaxNesting);
        return std::nullopt;
    }
    try {
        const toml::table root = toml::parse(text, path.toStdString());
        Recipe recipe = Read(root, info.absoluteFilePath(), checks);
        recipe.sha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        return recipe;
    } catch (const toml::parse_error& e) {
        error.at = Pos(e.source());
        error.message = Q(e.description());
    } catch (const recipe_toml::Fault& f) {
        error.at = f.at;
        error.message = f.message;
        if (!f.file.isEmpty())
            error.file = f.file;
    }
    return std::nullopt;
}

} // namespace bms::station
