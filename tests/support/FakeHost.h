// Test doubles for the window interface and the serial port: FakeHost keeps
// every control state in maps and records every message box; FakeLink records
// every frame sent. TestApp wires them and four timers into the core.
#pragma once

#include "App.h"
#include "CommRecord.h"
#include "Hooks.h"
#include "Link.h"
#include "UiHost.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

namespace bms::test {

class FakeHost : public UiHost {
public:
    QString text(const QString& control) const override { return texts.value(control); }
    void setText(const QString& control, const QString& value) override { texts[control] = value; }
    void setEnabled(const QString& control, bool on) override { enabled[control] = on; }
    bool isEnabled(const QString& control) const override { return enabled.value(control, true); }
    void setVisible(const QString& control, bool on) override { visible[control] = on; }
    bool isVisible(const QString& control) const override { return visible.value(control, true); }
    void setItems(const QString& control, const QStringList& list) override { comboItems[control] = list; }
    QStringList items(const QString& control) const override { return comboItems.value(control); }
    void setColour(const QString& control, uint32_t bgr) override { colours[control] = bgr; }
    uint32_t colour(const QString& control) const override { return colours.value(control, 0); }
    void setPanel(int index, const QString& value) override { panels[index] = value; }
    void setCell(const QString& grid, int col, int row, const QString& value) override
    {
        cells[grid + QStringLiteral("/%1/%2").arg(col).arg(row)] = value;
    }
    QString cell(const QString& grid, int col, int row) const
    {
        return cells.value(grid + QStringLiteral("/%1/%2").arg(col).arg(row));
    }
    void setCellState(const QString& grid, int col, int row, bool stale, const QString& tip) override
    {
        const QString key = grid + QStringLiteral("/%1/%2").arg(col).arg(row);
        staleCells[key] = stale;
        cellTips[key] = tip;
    }
    bool cellStale(const QString& grid, int col, int row) const
    {
        return staleCells.value(grid + QStringLiteral("/%1/%2").arg(col).arg(row));
    }
    QString cellTip(const QString& grid, int col, int row) const
    {
        return cellTips.value(grid + QStringLiteral("/%1/%2").arg(col).arg(row));
    }
    void appendLine(const QString& memo, const QString& line) override { memos[memo].append(line); }
    void clearMemo(const QString& memo) override { memos[memo].clear(); }
    void showMessage(const QString& message) override
    {
        messages.append(message);
        if (onMessage)
            onMessage(message);
    }
    void showWarning(const QString& message) override { warnings.append(message); }
    bool askYesNo(const QString& caption, const QString& question) override
    {
        questions.append(caption + QLatin1Char('|') + question);
        return answerYes;
    }
    void showError(const QString& message) override { errors.append(message); }
    void setBusy(const QString& text) override { busyTexts.append(text); }

    QMap<QString, QString> texts;
    QMap<QString, bool> enabled;
    QMap<QString, bool> visible;
    QMap<QString, QStringList> comboItems;
    QMap<QString, uint32_t> colours;
    QMap<int, QString> panels;
    QMap<QString, QString> cells;
    QMap<QString, bool> staleCells;
    QMap<QString, QString> cellTips;
    QMap<QString, QStringList> memos;
    QStringList messages;
    QStringList warnings;
    QStringList questions;
    QStringList errors;
    QStringList busyTexts; // every busy text, "" for the end
    bool answerYes = true;
    std::function<void(const QString&)> onMessage;
};

class FakeLink : public Link {
public:
    bool SendData(const uint8_t* data, uint16_t length) override
    {
        if (!open || length == 0)
            return false;
        frames.emplace_back(data, data + length);
        if (onSend)
            onSend(frames.back());
        return true;
    }
    bool open = true;
    std::vector<std::vector<uint8_t>> frames;
    std::function<void(const std::vector<uint8_t>&)> onSend;
};

// Resets the protocol state and wires a FakeHost, a FakeLink and four real
// timers into the core for the lifetime of the object. Blocking pauses are
// recorded instead of slept unless realPauses is set.
class TestApp {
public:
    explicit TestApp(bool realPauses = false)
    {
        ResetProtocolState();
        Hooks = DispatchHooks{};
        App.ui = &host;
        App.cm1 = &link;
        App.tmr1 = &tmr1;
        App.tmr2 = &tmr2;
        App.tmr3 = &tmr3;
        App.tmr4 = &tmr4;
        if (!realPauses)
            App.blockingPause = [this](int ms) { pauses.push_back(ms); };
    }
    ~TestApp()
    {
        App = AppContext{};
        Hooks = DispatchHooks{};
    }
    FakeHost host;
    FakeLink link;
    Timer tmr1, tmr2, tmr3, tmr4;
    std::vector<int> pauses;
};

} // namespace bms::test
