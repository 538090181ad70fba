#include "ScanCheck.h"

#include "Limits.h"
#include "PortName.h"
#include "RuntimePorts.h"

#include <QDir>
#include <QFileInfo>

namespace bms::stationtab {

bool RecipeGate::load(const QString& path)
{
    const QFileInfo info(path);
    if (path == path_ && recipe_ && info.exists() && info.lastModified() == modified_ && info.size() == size_)
        return true;
    path_ = path;
    modified_ = info.lastModified();
    size_ = info.size();
    station::RecipeError error;
    recipe_ = station::LoadRecipe(path, error);
    error_ = recipe_ ? QString() : QStringLiteral("The recipe cannot be used: ") + error.text();
    return recipe_.has_value();
}

QString RecipeGate::refusal(const QString& path, const QString& barcode)
{
    if (barcode.isEmpty())
        return QStringLiteral("An empty barcode starts nothing");
    if (!load(path))
        return error_;
    for (const station::RecipeStep& step : recipe_->steps) {
        if (step.kind != station::StepKind::Scan)
            continue;
        station::Limits pattern;
        pattern.matches = step.pattern;
        const station::Evaluation verdict = station::Evaluate(QStringLiteral("barcode"), barcode, pattern);
        if (verdict.verdict == station::Verdict::Fail)
            return QStringLiteral("Refused: ") + verdict.reason;
    }
    return {};
}

QString RecipeGate::serialKey(const QDate& day) const
{
    if (!recipe_ || !recipe_->serial)
        return {};
    for (const station::RecipeStep& step : recipe_->steps)
        if (step.kind == station::StepKind::WriteIdentity && step.writeSerial)
            return recipe_->serial->key(day);
    return {};
}

QString PortIdentity(const QString& name)
{
    QString path;
    if (!name.isEmpty() && !name.contains(QLatin1Char('/'))) {
        const QDir runtime(QString::fromStdString(RuntimePortDir()));
        for (const QString& candidate : {name, QStringLiteral("virtual-pack-") + name}) {
            if (QFileInfo::exists(runtime.filePath(candidate))) {
                path = runtime.filePath(candidate);
                break;
            }
        }
    }
    if (path.isEmpty())
        path = CommDevicePath(NormaliseCommName(name));
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

} // namespace bms::stationtab
