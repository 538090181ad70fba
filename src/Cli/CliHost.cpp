#include "CliHost.h"

namespace bms::cli {

namespace {

// The texts of the window's form that the core reads before anything has
// written them.
struct DesignText {
    const char* control;
    const char* text;
};
constexpr DesignText kDesignTexts[] = {
    {"cbb2", "19200"},         {"cbb3", "500"},    {"cbb_addr", "06"},
    {"cbb_pdType", "Q-Serial"}, {"cbb_pretype", "0"}, {"cbb_protocol_type", "0"},
    {"Edit3", "10"},           {"edt_firmware_packpag", "1"}, {"cbb_cell_volt_param", "1"},
    {"cbb_cell_temp_param", "1"},
};

} // namespace

CliHost::CliHost()
{
    for (const DesignText& t : kDesignTexts)
        texts_.insert(QString::fromLatin1(t.control), QString::fromLatin1(t.text));
    // The series/parallel reset indicator starts lime ("Reset").
    colours_.insert(QStringLiteral("shp_sp_reset"), ColLime);
}

void CliHost::setText(const QString& control, const QString& value)
{
    texts_[control] = value;
    written_.insert(control);
    if (onText)
        onText(control, value);
}

void CliHost::setCell(const QString& grid, int col, int row, const QString& value)
{
    cells_[CellAt{grid, col, row}] = value;
}

QString CliHost::cell(const QString& grid, int col, int row) const
{
    return cells_.value(CellAt{grid, col, row});
}

void CliHost::appendLine(const QString& memo, const QString& line)
{
    if (onLine)
        onLine(memo, line);
}

void CliHost::showMessage(const QString& message)
{
    if (onMessage)
        onMessage(message);
}

bool CliHost::askYesNo(const QString& caption, const QString& question)
{
    return onQuestion && onQuestion(caption, question);
}

void CliHost::showError(const QString& message)
{
    if (onError)
        onError(message);
}

} // namespace bms::cli
