// libFuzzer target of the recipe loader: any bytes as a recipe file, through
// the nesting scan, the TOML parser and every check of the recipe, as the
// Station tab loads recipes in the window's process. A recipe it accepts has
// steps, each with a name and a time-out; one it refuses says why.
#include "Recipe.h"

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // One file per fuzzing process, rewritten for every input.
    static const QString path = QDir::temp().filePath(QStringLiteral("fuzz-recipe-%1.toml").arg(getpid()));
    static const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) < 0)
        std::abort();
    bms::station::RecipeError error;
    const std::optional<bms::station::Recipe> recipe = bms::station::LoadRecipe(path, error);
    if (!recipe) {
        if (error.message.isEmpty())
            std::abort();
        return 0;
    }
    if (recipe->steps.empty())
        std::abort();
    for (const bms::station::RecipeStep& s : recipe->steps)
        if (s.name.isEmpty() || !(s.timeoutS > 0))
            std::abort();
    return 0;
}
