// The one narrow interface through which the core talks to the window: control
// texts and states by design name, memo lines, colours, grid cells and every
// message box. The window implements it over its widgets; tests replace it
// with a recorder.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace bms {

// Colour words as 0xBBGGRR.
enum Colour : uint32_t {
    ColLime = 0x00FF00,
    ColRed = 0x0000FF,
    ColYellow = 0x00FFFF,
    ColGrey = 0x808080,
};

class UiHost {
public:
    virtual ~UiHost() = default;

    // Text of an edit box, combo box, label, button caption or group caption.
    virtual QString text(const QString& control) const = 0;
    virtual void setText(const QString& control, const QString& value) = 0;
    virtual void setEnabled(const QString& control, bool on) = 0;
    virtual bool isEnabled(const QString& control) const = 0;
    virtual void setVisible(const QString& control, bool on) = 0;
    virtual bool isVisible(const QString& control) const = 0;
    // Items of a combo box (replacing them leaves the box's text to the caller).
    virtual void setItems(const QString& control, const QStringList& items) = 0;
    virtual QStringList items(const QString& control) const = 0;
    // Fill colour of a shape (indicator square or circle).
    virtual void setColour(const QString& control, uint32_t bgr) = 0;
    virtual uint32_t colour(const QString& control) const = 0;
    // Status-bar panel text.
    virtual void setPanel(int index, const QString& value) = 0;
    // A cell of a grid.
    virtual void setCell(const QString& grid, int col, int row, const QString& value) = 0;
    // How a grid value is shown beside its text: greyed (`stale`) when its
    // register block was not refreshed in the last rotation, and a tooltip
    // with the value in engineering units (empty: none). Front ends without
    // a grid may ignore it.
    virtual void setCellState(const QString& grid, int col, int row, bool stale, const QString& tip)
    {
        (void)grid, (void)col, (void)row, (void)stale, (void)tip;
    }
    // Memo lines.
    virtual void appendLine(const QString& memo, const QString& line) = 0;
    virtual void clearMemo(const QString& memo) = 0;

    // A handler that takes long (the series/parallel sweep) says so: a busy
    // cursor and `text` in the status bar until it is called with an empty
    // text. Front ends without a window may ignore it.
    virtual void setBusy(const QString& text) { (void)text; }

    // Modal message boxes. Each keeps the event loop running while it is open.
    virtual void showMessage(const QString& message) = 0;                       // information, OK
    virtual void showWarning(const QString& message) { showMessage(message); }  // warning, OK
    virtual bool askYesNo(const QString& caption, const QString& question) = 0; // true on Yes
    virtual void showError(const QString& message) = 0;                         // general error handler
};

} // namespace bms
