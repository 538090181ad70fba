#include "RecipeOutputs.h"

#include "LabelLayout.h"
#include "Quantities.h"
#include "Zpl.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace bms::station {

using namespace recipe_toml;

namespace {

const QStringList kWhen = {QStringLiteral("pass"), QStringLiteral("always"), QStringLiteral("never")};

// A file named by the section, as an absolute path beside the recipe.
QString FileBeside(Table& t, const char* key, const Recipe& r)
{
    const std::optional<QString> name = t.text(key);
    if (!name)
        return {};
    if (name->isEmpty())
        t.fail(key, QStringLiteral("'%1' names no file").arg(QLatin1String(key)));
    return QFileInfo(QFileInfo(r.file).dir(), *name).absoluteFilePath();
}

// Reads and checks one label file; a fault points into that file.
void CheckLabelFile(Table& t, const char* key, const QString& path, const Recipe& r, bool layout)
{
    QString text, error;
    if (!labels::ReadLabelFile(path, text, error))
        t.fail(key, QStringLiteral("the label file %1: %2").arg(path, error));
    const auto measures = [&r](const QString& name) { return RecipeMeasures(r, name); };
    std::optional<labels::LabelFault> fault;
    if (layout) {
        labels::LabelFault f;
        if (!labels::ParseLayout(text, measures, f))
            fault = f;
    } else {
        fault = labels::CheckZpl(text, measures);
    }
    if (fault)
        throw Fault{{fault->at.line, fault->at.column}, fault->message, path};
}

LabelSection ReadLabel(const toml::node* n, Recipe& r)
{
    Table t(AsTable(n, QStringLiteral("[label]")), QStringLiteral("[label]"));
    LabelSection l;
    l.on = t.choice("on", kWhen, l.on);
    l.printer = t.text("printer").value_or(QString());
    l.copies = static_cast<int>(t.integer("copies", 1, 100).value_or(1));
    l.templateFile = FileBeside(t, "template", r);
    l.failTemplate = FileBeside(t, "fail_template", r);
    l.layout = FileBeside(t, "layout", r);
    if (l.templateFile.isEmpty() == l.layout.isEmpty())
        throw Fault{t.at(), QStringLiteral("[label] needs either 'template' (ZPL) or 'layout'")};
    if (!l.failTemplate.isEmpty() && l.templateFile.isEmpty())
        t.fail("fail_template", QStringLiteral("'fail_template' goes with 'template'"));
    t.finish();
    if (!l.templateFile.isEmpty())
        CheckLabelFile(t, "template", l.templateFile, r, false);
    if (!l.failTemplate.isEmpty())
        CheckLabelFile(t, "fail_template", l.failTemplate, r, false);
    if (!l.layout.isEmpty())
        CheckLabelFile(t, "layout", l.layout, r, true);
    return l;
}

ReportSection ReadReport(const toml::node* n, const Recipe& r)
{
    Table t(AsTable(n, QStringLiteral("[report]")), QStringLiteral("[report]"));
    ReportSection s;
    s.save = t.choice("save", kWhen, s.save);
    if (const std::optional<QString> folder = t.text("folder"))
        s.folder = QFileInfo(QFileInfo(r.file).dir(), *folder).absoluteFilePath();
    s.print = t.boolean("print", false);
    s.printer = t.text("printer").value_or(QString());
    t.finish();
    return s;
}

// The members of a group of check quantities ("cells": cell_1 .. cell_16).
bool InGroup(const QString& name, const QString& group)
{
    static const QRegularExpression cell(QStringLiteral("^cell_\\d+$")), cellTemp(QStringLiteral("^cell_temp_\\d+$")),
        mosTemp(QStringLiteral("^mos_temp_\\d+$"));
    return (group == QLatin1String("cells") && cell.match(name).hasMatch())
           || (group == QLatin1String("cell_temps") && cellTemp.match(name).hasMatch())
           || (group == QLatin1String("mos_temps") && mosTemp.match(name).hasMatch());
}

} // namespace

bool RecipeMeasures(const Recipe& r, const QString& name)
{
    for (const RecipeStep& s : r.steps) {
        QStringList names;
        switch (s.kind) {
        case StepKind::Identify: names = IdentifyQuantities(); break;
        case StepKind::Check:
            for (const NamedLimits& l : s.limits)
                if (l.name == name || InGroup(name, l.name))
                    return true;
            break;
        case StepKind::Scan: names = {QStringLiteral("barcode"), QStringLiteral("already_passed")}; break;
        case StepKind::Upgrade:
            names = {QStringLiteral("sw_version_before"), QStringLiteral("sw_version_after"), QStringLiteral("ending")};
            break;
        case StepKind::WriteIdentity:
            if (s.writeBarcode)
                names << QStringLiteral("barcode");
            if (s.writeSerial)
                names << QStringLiteral("serial_number");
            if (s.writeRtc)
                names << QStringLiteral("rtc_offset") << QStringLiteral("rtc_weekday");
            break;
        case StepKind::Calibrate:
            names = {QStringLiteral("reference"), QStringLiteral("error_before"), QStringLiteral("error_after")};
            break;
        case StepKind::Settings:
            for (const PackWrite& w : s.writes)
                names += SettingsMeasurementNames(w);
            break;
        case StepKind::Prompt: break;
        }
        if (names.contains(name))
            return true;
    }
    return false;
}

void ReadOutputs(Table& root, Recipe& r)
{
    if (const toml::node* n = root.node("label"))
        r.label = ReadLabel(n, r);
    if (const toml::node* n = root.node("report"))
        r.report = ReadReport(n, r);
}

} // namespace bms::station
