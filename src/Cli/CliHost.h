// The window interface of the core for the command line: controls are
// entries in maps, starting with the window's design-time texts; message
// boxes, the general error handler, memo lines and questions go to the
// callbacks that the session connects to its report.
#pragma once

#include "UiHost.h"

#include <QHash>
#include <QSet>
#include <functional>

namespace bms::cli {

class CliHost : public UiHost {
public:
    CliHost();

    QString text(const QString& control) const override { return texts_.value(control); }
    void setText(const QString& control, const QString& value) override;
    void setEnabled(const QString& control, bool on) override { enabled_[control] = on; }
    bool isEnabled(const QString& control) const override { return enabled_.value(control, true); }
    void setVisible(const QString& control, bool on) override { visible_[control] = on; }
    bool isVisible(const QString& control) const override { return visible_.value(control, true); }
    void setItems(const QString& control, const QStringList& items) override { items_[control] = items; }
    QStringList items(const QString& control) const override { return items_.value(control); }
    void setColour(const QString& control, uint32_t bgr) override { colours_[control] = bgr; }
    uint32_t colour(const QString& control) const override { return colours_.value(control, ColGrey); }
    void setPanel(int, const QString&) override {}
    void setCell(const QString& grid, int col, int row, const QString& value) override;
    void appendLine(const QString& memo, const QString& line) override;
    void clearMemo(const QString&) override {}
    void showMessage(const QString& message) override;
    bool askYesNo(const QString& caption, const QString& question) override;
    void showError(const QString& message) override;

    // A grid cell as the window would show it.
    QString cell(const QString& grid, int col, int row) const;
    // Whether `control` got a text since the last forgetWrites().
    bool written(const QString& control) const { return written_.contains(control); }
    void forgetWrites() { written_.clear(); }

    std::function<void(const QString& message)> onMessage;
    std::function<void(const QString& message)> onError;
    std::function<void(const QString& memo, const QString& line)> onLine;
    std::function<void(const QString& control, const QString& value)> onText;
    std::function<bool(const QString& caption, const QString& question)> onQuestion;

private:
    // A grid cell's place: every answer of the pack writes some sixty of
    // them, so the key is not a string made for each.
    struct CellAt {
        QString grid;
        int col;
        int row;
        friend bool operator==(const CellAt&, const CellAt&) = default;
        friend size_t qHash(const CellAt& c, size_t seed = 0) { return qHashMulti(seed, c.grid, c.col, c.row); }
    };

    QHash<QString, QString> texts_;
    QSet<QString> written_;
    QHash<QString, bool> enabled_;
    QHash<QString, bool> visible_;
    QHash<QString, QStringList> items_;
    QHash<QString, uint32_t> colours_;
    QHash<CellAt, QString> cells_;
};

} // namespace bms::cli
