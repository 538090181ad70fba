// A recipe loaded with the checks of the command line's station run: every
// example and hostile recipe, good or refused, leaves the stand-in controls
// (texts, the role indicator) as they were; the checks refuse a setting the
// window's box would refuse.
#include "SetCommands.h"
#include "Session.h"
#include "StationCommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace bms;

TEST(CliRecipes, loadingARecipeTouchesNoControl)
{
    static int argc = 1;
    static char name[] = "tst_cli_recipes";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    cli::Options options;
    cli::Report report(true);
    cli::Session session(options, report);
    QStringList touched;
    session.host.onText = [&](const QString& control, const QString& value) { touched << control + QLatin1Char('=') + value; };
    const uint32_t indicator = session.host.colour(QStringLiteral("shp_sp_reset"));

    QTemporaryDir dir;
    QStringList recipes;
    for (const QString& folder : {QStringLiteral(STATION_RECIPES), QStringLiteral(RECIPE_SEEDS)})
        for (const QString& file : QDir(folder).entryList({QStringLiteral("*.toml")}))
            recipes << QDir(folder).filePath(file);
    const char* const writes[] = {
        R"(["role reset", "role stand-alone", "param cell-volt 3650 --index 2", "param recover", "sleep 1 3600",
            "barcode 202612080001", "serial QX1", "rated-capacity 0x186A0", "upload-interval 60", "protocol 1"])",
        R"(["role captain"])",
        R"(["param cell-volt 3650 --index 17"])",
        R"(["param cycle-life 6000 --index 2"])",
        R"(["rated-capacity 1000"])",
        R"(["barcode 12345"])",
    };
    for (const char* w : writes) {
        const QString path = dir.filePath(QStringLiteral("r%1.toml").arg(recipes.size()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("name = \"t\"\nversion = 1\n[[steps]]\nkind = \"settings\"\nwrites = ") + w + "\n");
        recipes << path;
    }
    int loaded = 0;
    for (const QString& path : recipes) {
        station::RecipeError error;
        loaded += station::LoadRecipe(path, error, cli::StationRecipeChecks()).has_value();
    }
    EXPECT_EQ(loaded, recipes.size() - 5) << "the last five writes are refused";
    EXPECT_TRUE(touched.isEmpty()) << touched.join(QStringLiteral(", ")).toStdString();
    EXPECT_EQ(session.host.colour(QStringLiteral("shp_sp_reset")), indicator);
}
