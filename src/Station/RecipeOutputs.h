// Reads a recipe's [label] and [report] sections. A label's template or
// layout is read and checked with the recipe: a placeholder that names
// nothing a run of this recipe records is refused at its line and column in
// that file, before any pack is tested.
#pragma once

#include "RecipeTable.h"

namespace bms::station {

// Reads the sections into `r` (its steps read already). Throws a Fault.
void ReadOutputs(recipe_toml::Table& root, Recipe& r);

// Whether a run of `r` may record a measurement called `name`.
bool RecipeMeasures(const Recipe& r, const QString& name);

// The measurements a settings write records ("sleep 1 3600":
// sleep_multiplier and sleep_base).
QStringList SettingsMeasurementNames(const PackWrite& write);

} // namespace bms::station
