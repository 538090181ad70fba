// Reads an .xlsx back through openpyxl (dump_xlsx.py) for the tests: cells
// with their types and number formats, and the column widths.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <optional>

namespace bms::test {

struct XlsxDump {
    QJsonObject json;

    int maxRow() const { return json.value("max_row").toInt(); }
    int maxColumn() const { return json.value("max_column").toInt(); }
    // Cells of row `row` from 1, up to its last written cell.
    int rowLength(int row) const
    {
        QJsonArray cells = json.value("rows").toArray().at(row - 1).toArray();
        int n = int(cells.size());
        while (n > 0 && cells.at(n - 1).isNull())
            --n;
        return n;
    }
    QJsonArray cell(int row, int column) const
    {
        return json.value("rows").toArray().at(row - 1).toArray().at(column - 1).toArray();
    }
    bool isText(int row, int column) const { return cell(row, column).at(0).toString() == "s"; }
    bool isNumber(int row, int column) const { return cell(row, column).at(0).toString() == "n"; }
    QString text(int row, int column) const { return cell(row, column).at(1).toString(); }
    double number(int row, int column) const { return cell(row, column).at(1).toDouble(); }
    QString format(int row, int column) const { return cell(row, column).at(2).toString(); }
    // Width in characters as set (the file stores it with the padding of
    // 5 pixels at 7 pixels a character, as a spreadsheet saves it).
    double width(int column) const
    {
        for (const QJsonValue& d : json.value("widths").toArray()) {
            const QJsonArray a = d.toArray();
            if (a.at(0).toInt() <= column && column <= a.at(1).toInt())
                return a.at(2).toDouble() - 5.0 / 7.0;
        }
        return -1;
    }
};

inline std::optional<XlsxDump> ReadXlsx(const QString& path, QString* error = nullptr)
{
    QProcess p;
    p.start(QStringLiteral(WORKBOOK_PYTHON), {QStringLiteral(WORKBOOK_TEST_DIR "/dump_xlsx.py"), path});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        if (error)
            *error = QString::fromUtf8(p.readAllStandardError());
        return std::nullopt;
    }
    return XlsxDump{QJsonDocument::fromJson(p.readAllStandardOutput()).object()};
}

} // namespace bms::test
