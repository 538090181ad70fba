// The help of `station`, and the checks a recipe gets when it loads (its
// settings' names and ranges, its images); the command itself is made by
// MakeStationCommand (Command.h).
#pragma once

#include "Recipe.h"

#include <QString>

namespace bms::cli {

QString StationHelpText();

// Pure: loading a recipe with them touches no control and sends nothing.
station::RecipeChecks StationRecipeChecks();

} // namespace bms::cli
