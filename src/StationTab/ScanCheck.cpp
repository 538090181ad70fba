#include "ScanCheck.h"

#include "Limits.h"
#include "PortName.h"

#include "TextChecks.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace bms::stationtab {

QString PatternRefusal(const station::RecipeStep& scan, const QString& barcode)
{
    const QString shown = station::Printable(barcode);
    if (!scan.patternHint.isEmpty())
        return QStringLiteral("Refused: %1 needs %2, %3 characters scanned").arg(shown, scan.patternHint).arg(barcode.size());
    // The patterns lines use most, in words.
    static const QRegularExpression digits(QStringLiteral("^(?:\\\\d|\\[0-9\\])\\{(\\d+)\\}$"));
    if (const auto m = digits.match(scan.pattern); m.hasMatch()) {
        const qsizetype scanned = std::count_if(barcode.begin(), barcode.end(), [](QChar c) { return c.isDigit(); });
        return scanned == barcode.size()
                   ? QStringLiteral("Refused: %1 needs %2 digits, %3 scanned").arg(shown, m.captured(1)).arg(barcode.size())
                   : QStringLiteral("Refused: %1 needs %2 digits and nothing else").arg(shown, m.captured(1));
    }
    return QStringLiteral("Refused: %1 is not a barcode of the form this recipe tests").arg(shown);
}

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
        if (verdict.verdict == station::Outcome::Fail)
            return PatternRefusal(step, barcode);
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
    const QString path = CommDevicePath(NormaliseCommName(ResolvePortName(name)));
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

bool PortPresent(const QString& name)
{
    return !name.isEmpty() && QFileInfo::exists(PortIdentity(name));
}

} // namespace bms::stationtab
