// The parts of a station run that decide without a pack: limits, the
// serial-number template and its sequence, and the recipe's checks with the
// line and column of each refusal.
#include "Limits.h"
#include "Recipe.h"
#include "RunRecord.h"
#include "SerialTemplate.h"
#include "Stores.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cmath>

using namespace bms::station;

namespace {

Limits Range(std::optional<double> low, std::optional<double> high)
{
    Limits l;
    l.low = low;
    l.high = high;
    l.unit = QStringLiteral("mV");
    return l;
}

Limits Equals(QJsonValue v)
{
    Limits l;
    l.equals = v;
    return l;
}

Limits Matches(const QString& re)
{
    Limits l;
    l.matches = re;
    return l;
}

Limits Mask(qint64 m)
{
    Limits l;
    l.mask = m;
    return l;
}

struct LimitCase {
    const char* name;
    QJsonValue value;
    Limits limits;
    Outcome verdict;
};

} // namespace

TEST(StationLimits, BoundsAreInclusiveAndEveryKindRefusesTheWrongValue)
{
    const LimitCase cases[] = {
        {"at the low bound", 3200.0, Range(3200, 3400), Outcome::Pass},
        {"at the high bound", 3400.0, Range(3200, 3400), Outcome::Pass},
        {"just above high", 3400.5, Range(3200, 3400), Outcome::Fail},
        {"only a high limit", -1e9, Range({}, 40), Outcome::Pass},
        {"not a number", std::nan(""), Range(0, 1), Outcome::Fail},
        {"text against bounds", QStringLiteral("3300"), Range(3200, 3400), Outcome::Fail},
        {"never read", QJsonValue(), Range(3200, 3400), Outcome::Fail},
        {"no limits: information", QJsonValue(), Limits{}, Outcome::Info},
        {"equal numbers", 16.0, Equals(16.0), Outcome::Pass},
        {"number against text", 16.0, Equals(QStringLiteral("16")), Outcome::Fail},
        {"equal texts", QStringLiteral("1.5.4"), Equals(QStringLiteral("1.5.4")), Outcome::Pass},
        {"texts differ in case", QStringLiteral("ABC"), Equals(QStringLiteral("abc")), Outcome::Fail},
        {"equal flags", false, Equals(false), Outcome::Pass},
        {"flag against number", 0.0, Equals(false), Outcome::Fail},
        {"whole text matches", QStringLiteral("202612080001"), Matches(QStringLiteral("\\d{12}")), Outcome::Pass},
        {"a longer text does not", QStringLiteral("2026120800012"), Matches(QStringLiteral("\\d{12}")), Outcome::Fail},
        {"anchors kept", QStringLiteral("x202612080001"), Matches(QStringLiteral("^\\d{12}$")), Outcome::Fail},
        {"alternation is whole", QStringLiteral("ab"), Matches(QStringLiteral("a|ab")), Outcome::Pass},
        {"no masked bit set", double(0x0100), Mask(0x00FF), Outcome::Pass},
        {"a masked bit set", double(0x0140), Mask(0x00FF), Outcome::Fail},
        {"fraction under a mask", 0.5, Mask(0xFFFF), Outcome::Fail},
        {"negative under a mask", -1.0, Mask(0xFFFF), Outcome::Fail},
    };
    for (const LimitCase& c : cases) {
        const Evaluation e = Evaluate(QStringLiteral("q"), c.value, c.limits);
        EXPECT_EQ(e.verdict, c.verdict) << c.name << ": " << e.reason.toStdString();
        EXPECT_EQ(e.reason.isEmpty(), c.verdict != Outcome::Fail) << c.name;
    }
    EXPECT_EQ(Evaluate(QStringLiteral("cell_spread"), 42.0, Range(0, 30)).reason,
              QStringLiteral("cell_spread 42 mV above its high limit 30 mV"));
    EXPECT_EQ(Evaluate(QStringLiteral("alarm"), double(0x0041), Mask(0xFFFF)).reason,
              QStringLiteral("alarm 0x0041 has bits 0x0041 of its mask 0xFFFF set"));
}

TEST(StationSerialTemplate, ExpandsPerDayAndRefusesWhatThePackCannotHold)
{
    QString error;
    int column = -1;
    const auto t = SerialTemplate::parse(QStringLiteral("QX{yyyyMMdd}{seq:05}"), error, column);
    ASSERT_TRUE(t) << error.toStdString();
    const QDate day(2026, 12, 9);
    EXPECT_EQ(t->key(day), QStringLiteral("QX20261209"));
    EXPECT_EQ(t->value(day, 17), QStringLiteral("QX2026120900017"));
    EXPECT_EQ(t->value(day, 99999), QStringLiteral("QX2026120999999"));
    EXPECT_TRUE(t->value(day, 100000).isEmpty());
    EXPECT_EQ(SerialTemplate::parse(QStringLiteral("SN-{seq:03}-{yy}"), error, column)->value(day, 4),
              QStringLiteral("SN-004-26"));

    struct Bad {
        const char* text;
        int column;
    };
    const Bad bad[] = {
        {"QX{yyyyMMdd}", 0},               // no sequence
        {"{seq:02}{seq:02}", 0},           // two sequences
        {"QX{hh}{seq:02}", 2},             // not a date field
        {"QX{seq:02", 2},                  // unclosed
        {"QX}{seq:02}", 2},                // unopened
        {"QX {seq:02}", 2},                // blank
        {"QXÄ{seq:02}", 2},                // not ASCII
        {"QX{yyyyMMdd}{seq:011}", 0},      // 21 characters
        {"QX{seq:00}", 2},                 // no digits
    };
    for (const Bad& b : bad) {
        column = -1;
        EXPECT_FALSE(SerialTemplate::parse(QString::fromUtf8(b.text), error, column)) << b.text;
        EXPECT_EQ(column, b.column) << b.text << ": " << error.toStdString();
    }
}

TEST(StationRecord, WrittenWholeWithItsTraceAndNoTemporaryFile)
{
    QTemporaryDir dir;
    RunRecord r;
    r.runId = QStringLiteral("0b8e5e3c-7a51-4d7e-9a3e-5b8f1d2c4a10");
    r.outcome = Outcome::Pass;
    for (int i = 0; i < 500; ++i)
        r.trace.add(QStringLiteral("12:00:00.000 TX 06 04 00 0A 00 1E 51 B7   read block %1").arg(i));
    QString path, error;
    ASSERT_TRUE(WriteRecord(dir.filePath(QStringLiteral("results")), r.toJson(), path, error)) << error.toStdString();
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("results"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{r.runId + QStringLiteral(".json")});
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
    EXPECT_EQ(o.value("failure_code"), QJsonValue());
    const QByteArray trace = TraceLog::Decode(o.value("trace").toObject());
    EXPECT_EQ(trace.count('\n'), 500);
    EXPECT_TRUE(trace.endsWith("read block 499\n"));
    EXPECT_LT(o.value("trace").toObject().value("data").toString().size(), trace.size() / 4);
}

namespace {

// A recipe with one bad line, and where the loader must point.
struct BadRecipe {
    const char* name;
    const char* text;
    int line;
    int column;
    const char* message;
};

const char kHead[] = "name = \"t\"\nversion = \"1\"\n";

} // namespace

TEST(StationRecipe, ExampleLoadsAndEveryFaultIsRefusedAtItsLineAndColumn)
{
    RecipeError error;
    const auto example = LoadRecipe(QStringLiteral(STATION_RECIPES "/virtual-pack-eol.toml"), error);
    ASSERT_TRUE(example) << error.text().toStdString();
    EXPECT_EQ(example->steps.size(), 9u);
    EXPECT_EQ(example->steps[5].name, QStringLiteral("calibrate_current"));
    EXPECT_EQ(example->steps[8].limits.front().name, QStringLiteral("pack_voltage")) << "the recipe's order";

    QTemporaryDir dir;
    QFile image(dir.filePath(QStringLiteral("fw.hex")));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    image.write(":00000001FF\n");
    image.close();
    const QByteArray sha = QCryptographicHash::hash(":00000001FF\n", QCryptographicHash::Sha256).toHex();
    const QByteArray upgrade = "[[steps]]\nkind = \"upgrade\"\nimage = \"fw.hex\"\nversion = \"1.5.4\"\nsha256 = \"";

    const BadRecipe cases[] = {
        {"TOML syntax", "name = \"t\"\nversion = \n", 2, 11, "expected"},
        {"unknown key", "name = \"t\"\nversion = \"1\"\ncolour = \"red\"\n[[steps]]\nkind = \"identify\"\n", 3, 1, "unknown key 'colour'"},
        {"no steps", kHead, 1, 1, "needs its steps"},
        {"unknown kind", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"dance\"\n", 4, 8, "'kind' must be"},
        {"wrong type", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"identify\"\nretries = \"two\"\n", 5, 11, "'retries'"},
        {"low above high", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"check\"\nlimits.current = { low = 5, high = 1 }\n", 5, 26,
         "the low limit 5 of current is above its high limit 1"},
        {"unknown quantity", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"check\"\nlimits.cell_17 = { low = 1 }\n", 5, 8,
         "cell_17 is not a quantity"},
        {"wrong unit", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"check\"\nlimits.pack_voltage = { low = 48, unit = \"V\" }\n", 5, 42,
         "measured in mV"},
        {"bad expression", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"scan\"\npattern = \"(\\\\d\"\n", 5, 11, "not a regular expression"},
        {"limit of no kind", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"identify\"\nlimits.uid = { unit = \"\" }\n", 5, 14, "name no low"},
        {"two sequences", "name = \"t\"\nversion = 1\n[serial_number]\ntemplate = \"A{seq:02}{seq:03}\"\n[[steps]]\nkind = \"identify\"\n", 4, 13,
         "exactly one {seq:0N}"},
        {"serial without template", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"scan\"\npattern = \".*\"\n[[steps]]\nkind = \"write_identity\"\n", 6, 1,
         "needs [serial_number]"},
        {"barcode never scanned", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"write_identity\"\nserial = false\n", 3, 1, "needs a scan step"},
        {"reference out of range", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"calibrate\"\nquantity = \"voltage\"\nreference = 5000\ntolerance = 5\n", 6, 13,
         "from 1001 to 4999"},
        {"two steps one name", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"identify\"\n[[steps]]\nkind = \"identify\"\n", 5, 1, "named 'identify' comes before"},
        {"setting refused", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"settings\"\nwrites = [\"sleep 1 3600\", \"frobnicate 3\"]\n", 5, 27, "frobnicate"},
        {"setting short of an argument", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"settings\"\nwrites = [\"sleep 1\"]\n", 5, 11,
         "sleep: arguments MULTIPLIER BASE"},
        {"setting of no number", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"settings\"\nwrites = [\"sleep 1 1h\"]\n", 5, 11,
         "sleep: '1h' is not a whole number"},
        {"parameter index of no number", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"settings\"\nwrites = [\"param cell-volt 3650 --index\"]\n",
         5, 11, "--index: '' is not an index"},
        {"setting the driver refuses", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"settings\"\nwrites = [\"role captain\"]\n", 5, 11,
         "not a role"},
        // A limit of the other kind than its quantity would fail every pack.
        {"a number held to a text", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"identify\"\nlimits.cell_count = { equals = \"16\" }\n", 5, 32,
         "cell_count is a number: 'equals' must be a number"},
        {"a text held to a number", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"identify\"\nlimits.barcode = { equals = 202612080001 }\n", 5, 29,
         "barcode is a text: 'equals' must be a text in quotes"},
        {"a text held to a bound", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"identify\"\nlimits.hw_version = { low = 2 }\n", 5, 29,
         "hw_version is a text"},
        {"missing image", "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"upgrade\"\nimage = \"none.hex\"\nversion = \"1.5.4\"\nsha256 = \"" 
                          "0000000000000000000000000000000000000000000000000000000000000000\"\n", 5, 9, "does not exist"},
        {"image of another SHA-256", nullptr, 7, 10, "has the SHA-256"},
        {"image the upgrade refuses", nullptr, 5, 9, "no data record"},
        {"bad target version", nullptr, 6, 11, "not a version"},
        {"name holding NUL", "name = \"a\\u0000b\"\nversion = 1\n", 1, 8, "name 'a\\x00b' holds control characters"},
        {"version turning the line", "name = \"t\"\nversion = \"1\\u202E2\"\n", 2, 11, "holds control characters"},
        {"rated_cap in mAh, the uid in none",
         "name = \"t\"\nversion = 1\n[[steps]]\nkind = \"identify\"\nlimits.rated_cap = { low = 1, unit = \"mAh\" }\n"
         "limits.uid = { matches = 'x', unit = \"mAh\" }\n", 6, 38, "uid is measured in no unit"},
    };
    RecipeChecks checks;
    checks.setting = [](const PackWrite& w) {
        return std::holds_alternative<RoleWrite>(w) ? QStringLiteral("'%1' is not a role").arg(std::get<RoleWrite>(w).role) : QString();
    };
    checks.image = [](const QString&, bool) { return QStringLiteral("the image holds no data record"); };
    for (const BadRecipe& c : cases) {
        QByteArray text = c.text ? QByteArray(c.text) : QByteArray("name = \"t\"\nversion = 1\n");
        RecipeChecks used = checks;
        if (!c.text) {
            const QByteArray hash = QLatin1String(c.name).contains(QLatin1String("SHA")) ? QByteArray(64, 'a') : sha;
            const QByteArray version = QLatin1String(c.name).contains(QLatin1String("version")) ? "1.5" : "1.5.4";
            text += QByteArray(upgrade).replace("1.5.4", version) + hash + "\"\n";
            if (!QLatin1String(c.name).contains(QLatin1String("refuses")))
                used.image = nullptr;
        }
        const QString path = dir.filePath(QStringLiteral("r.toml"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        EXPECT_FALSE(LoadRecipe(path, error, used)) << c.name;
        EXPECT_EQ(error.at.line, c.line) << c.name << ": " << error.text().toStdString();
        EXPECT_EQ(error.at.column, c.column) << c.name << ": " << error.text().toStdString();
        EXPECT_TRUE(error.message.contains(QLatin1String(c.message))) << c.name << ": " << error.text().toStdString();
        EXPECT_TRUE(error.text().startsWith(path + QStringLiteral(":%1:%2: ").arg(c.line).arg(c.column))) << c.name;
    }
}

// A recipe nested beyond sixteen levels is refused before the TOML parser
// recurses into it, in each form nesting takes; sixteen levels and text that
// only looks nested pass on to the usual checks.
TEST(StationRecipe, DeepNestingIsRefusedInEveryFormBeforeItIsParsed)
{
    const auto repeat = [](const char* part, int n, const char* glue) {
        QByteArray out;
        for (int i = 0; i < n; ++i)
            out += (i ? QByteArray(glue) : QByteArray()) + part;
        return out;
    };
    struct Case {
        const char* name;
        QByteArray body; // after the name and version lines
        int line;        // 0: not refused for its nesting
        int column;
    };
    const Case cases[] = {
        {"40,000 dotted keys", repeat("x", 40000, ".") + " = 1\n", 3, 33},
        {"a deep table header", "[" + repeat("a", 40000, ".") + "]\n", 3, 34},
        {"an array of tables", "[[" + repeat("a", 17, ".") + "]]\n", 3, 35},
        {"a header and a dotted key", "[" + repeat("a", 10, ".") + "]\n" + repeat("b", 7, ".") + " = 1\n", 4, 13},
        {"inline tables", "y = " + repeat("{a=", 20000, "") + "1" + repeat("}", 20000, "") + "\n", 3, 51},
        {"arrays of arrays", "z = " + repeat("[", 40000, "") + repeat("]", 40000, "") + "\n", 3, 20},
        {"arrays over lines", "z = [\n" + repeat("[", 20, "\n") + "\n", 18, 1},
        {"sixteen levels", repeat("x", 16, ".") + " = 1\n", 0, 0},
        {"nesting in strings", "s = \"[[[[[[[[[[[[[[[[[[[[\"\nm = '''\n{{{{{{{{{{{{{{{{{{{{\n'''\n"
                               "\"q.q.q.q.q.q.q.q.q.q.q.q.q.q.q.q.q\" = 1\n", 0, 0},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("deep.toml"));
    for (const Case& c : cases) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray(kHead) + c.body);
        file.close();
        RecipeError error;
        EXPECT_FALSE(LoadRecipe(path, error)) << c.name;
        const bool deep = error.message.contains(QStringLiteral("nested deeper than 16 levels"));
        EXPECT_EQ(deep, c.line != 0) << c.name << ": " << error.text().toStdString();
        if (c.line) {
            EXPECT_EQ(error.text().toStdString(), (path + QStringLiteral(":%1:%2: nested deeper than 16 levels").arg(c.line).arg(c.column)).toStdString())
                << c.name;
        }
    }
}
