// Labels without a printer: ZPL filled and escaped byte for byte, and
// recipes whose label files name placeholders that do not exist refused at
// load with the place in that file.
#include "Recipe.h"
#include "Zpl.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace bms::labels;

namespace {

QJsonObject Record(const QString& barcode, const QString& serial)
{
    return QJsonObject{
        {QStringLiteral("run_id"), QStringLiteral("0b8e5e3c-7a51-4d7e-9a3e-5b8f1d2c4a10")},
        {QStringLiteral("station_id"), QStringLiteral("EOL-1")},
        {QStringLiteral("outcome"), QStringLiteral("FAIL")},
        {QStringLiteral("failure_code"), QStringLiteral("check.cell_spread")},
        {QStringLiteral("ended_at"), QStringLiteral("2026-12-09T14:04:02.877+01:00")},
        {QStringLiteral("pack"),
         QJsonObject{{QStringLiteral("barcode"), barcode},
                     {QStringLiteral("serial_number"), serial},
                     {QStringLiteral("sw_version_before"), QStringLiteral("1.5.3")},
                     {QStringLiteral("sw_version_after"), QJsonValue()}}},
        {QStringLiteral("measurements"),
         QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("cell_spread")}, {QStringLiteral("value"), 12}},
                    QJsonObject{{QStringLiteral("name"), QStringLiteral("cell_spread")}, {QStringLiteral("value"), 42}},
                    QJsonObject{{QStringLiteral("name"), QStringLiteral("rsoc")}, {QStringLiteral("value"), 51.5}}}},
    };
}

TEST(Zpl, FilledAndEscapedByteForByte)
{
    struct Case {
        const char* name;
        QString templ;
        QString barcode;
        QByteArray want;
    } cases[] = {
        {"plain values", QStringLiteral("^XA^FO10,10^FD${barcode} ${serial_number}^FS^XZ"), QStringLiteral("QB123"),
         "^XA^FO10,10^FDQB123 QX0001^FS^XZ"},
        {"fixed fields", QStringLiteral("^XA^FD${date} ${outcome} ${failure_code} ${station} ${sw_version}^FS^XZ"),
         QStringLiteral("B"), "^XA^FD2026-12-09 FAIL check.cell_spread EOL-1 1.5.3^FS^XZ"},
        {"last measurement, numbers as measured", QStringLiteral("^XA^FD${m.cell_spread}/${m.rsoc}^FS^XZ"), QStringLiteral("B"),
         "^XA^FD42/51.5^FS^XZ"},
        // A caret or tilde would be read as a command: hex with a ^FH of its
        // own, the field's literal '_' escaped with it.
        {"command characters", QStringLiteral("^XA^FDSN_${barcode}^FS^FD${barcode}^FS^XZ"), QStringLiteral("A^B~C"),
         "^XA^FH_^FDSN_5FA_5EB_7EC^FS^FH_^FDA_5EB_7EC^FS^XZ"},
        {"the template's own ^FH indicator", QStringLiteral("^XA^FH#^FD_${barcode}^FS^XZ"), QStringLiteral("a#b^"),
         "^XA^FH#^FD_a#23b#5E^FS^XZ"},
        {"non-ASCII: UTF-8 bytes in hex and ^CI28", QStringLiteral("^XA^FD${barcode}^FS^XZ"), QStringLiteral("Zürich"),
         "^XA^CI28^FH_^FDZ_C3_BCrich^FS^XZ"},
        {"a control character", QStringLiteral("^XA^FD${barcode}^FS^XZ"), QStringLiteral("a\nb"), "^XA^FH_^FDa_0Ab^FS^XZ"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FillZpl(c.templ, Record(c.barcode, QStringLiteral("QX0001"))), c.want) << c.name;
}

void Write(const QString& path, const QByteArray& text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

TEST(Labels, RecipeRefusesWhatALabelCannotFill)
{
    QTemporaryDir dir;
    const QByteArray recipe = "name = \"r\"\nversion = \"1\"\n"
                              "[[steps]]\nkind = \"scan\"\npattern = '\\d+'\n"
                              "[[steps]]\nkind = \"check\"\nlimits.cells = { low = 2500 }\n";
    struct Case {
        const char* name;
        QByteArray section, file, fileText;
        QString where; // "file:line:column" expected, file relative to the folder
        QString words;
    } cases[] = {
        {"unknown placeholder", "[label]\ntemplate = \"pass.zpl\"\n", "pass.zpl", "^XA\n^FO1,1^FD${serial}^FS^XZ\n",
         QStringLiteral("pass.zpl:2:10"), QStringLiteral("'${serial}'")},
        {"a measurement the recipe never makes", "[label]\ntemplate = \"pass.zpl\"\n", "pass.zpl",
         "^XA^FD${m.cell_1} ${m.soh}^FS^XZ\n", QStringLiteral("pass.zpl:1:19"), QStringLiteral("'${m.soh}'")},
        {"outside a field", "[label]\ntemplate = \"pass.zpl\"\n", "pass.zpl", "^XA^PQ${barcode}^XZ\n",
         QStringLiteral("pass.zpl:1:7"), QStringLiteral("outside")},
        {"unknown in a layout", "[label]\nlayout = \"l.toml\"\n", "l.toml",
         "width = 50\nheight = 20\n[[text]]\nx = 1\ny = 1\ntext = \"${uuid}\"\n", QStringLiteral("l.toml:6:8"),
         QStringLiteral("'${uuid}'")},
        {"a barcode beyond the label", "[label]\nlayout = \"l.toml\"\n", "l.toml",
         "width = 50\nheight = 20\n[[barcode]]\ntype = \"qr\"\nx = 40\ny = 1\nwidth = 15\nheight = 15\ndata = \"${barcode}\"\n",
         QStringLiteral("l.toml:3:1"), QStringLiteral("beyond")},
        {"both template and layout", "[label]\ntemplate = \"pass.zpl\"\nlayout = \"l.toml\"\n", "pass.zpl", "^XA^XZ",
         QStringLiteral("r.toml:9:1"), QStringLiteral("either")},
    };
    for (const Case& c : cases) {
        Write(dir.filePath(QString::fromLatin1(c.file)), c.fileText);
        const QString path = dir.filePath(QStringLiteral("r.toml"));
        Write(path, recipe + c.section);
        bms::station::RecipeError error;
        EXPECT_FALSE(bms::station::LoadRecipe(path, error)) << c.name;
        EXPECT_TRUE(error.text().startsWith(dir.filePath(c.where) + QStringLiteral(": "))) << c.name << ": " << qPrintable(error.text());
        EXPECT_TRUE(error.message.contains(c.words)) << c.name << ": " << qPrintable(error.message);
    }
    // What a recipe's steps record is there to be printed.
    Write(dir.filePath(QStringLiteral("pass.zpl")), "^XA^FD${barcode} ${m.cell_16} ${m.already_passed}^FS^XZ");
    Write(dir.filePath(QStringLiteral("r.toml")), recipe + "[label]\ntemplate = \"pass.zpl\"\n[report]\nsave = \"always\"\n");
    bms::station::RecipeError error;
    const auto loaded = bms::station::LoadRecipe(dir.filePath(QStringLiteral("r.toml")), error);
    ASSERT_TRUE(loaded) << qPrintable(error.text());
    EXPECT_EQ(loaded->label->templateFile, dir.filePath(QStringLiteral("pass.zpl")));
    EXPECT_TRUE(loaded->report->wanted(QStringLiteral("FAIL")));
}

} // namespace
