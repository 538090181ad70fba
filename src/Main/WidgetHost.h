// The window interface of the core over the real widgets: controls are found
// by their design names (object names) below the window and cached; message
// boxes are modal Qt boxes, or go to a hook that records them (tests).
#pragma once

#include "UiHost.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>

class QLabel;

namespace bms {

inline constexpr char kApplicationTitle[] = "Zanthelor RQM+ Update Tool V04";

// One message box as it would be shown.
struct MessageBoxInfo {
    enum Kind { Information, Question, Warning, Critical };
    Kind kind;
    QString title;
    QString text;
    // Yes and No (questions), or OK.
    bool asks = false;
};

class WidgetHost : public UiHost {
public:
    // `root` is the window; `panels` are the status-bar panels 0..n-1.
    WidgetHost(QWidget* root, QList<QLabel*> panels);
    ~WidgetHost() override;

    QString text(const QString& control) const override;
    void setText(const QString& control, const QString& value) override;
    void setEnabled(const QString& control, bool on) override;
    bool isEnabled(const QString& control) const override;
    void setVisible(const QString& control, bool on) override;
    bool isVisible(const QString& control) const override;
    void setItems(const QString& control, const QStringList& items) override;
    QStringList items(const QString& control) const override;
    void setColour(const QString& control, uint32_t bgr) override;
    uint32_t colour(const QString& control) const override;
    void setPanel(int index, const QString& value) override;
    void setCell(const QString& grid, int col, int row, const QString& value) override;
    // Stale values are drawn grey (ColGrey); the tip is the item's
    // tooltip.
    void setCellState(const QString& grid, int col, int row, bool stale, const QString& tip) override;
    void appendLine(const QString& memo, const QString& line) override;
    void clearMemo(const QString& memo) override;
    void showMessage(const QString& message) override;
    void showWarning(const QString& message) override;
    bool askYesNo(const QString& caption, const QString& question) override;
    void showError(const QString& message) override;
    // Busy cursor and text in `busyLabel` (see setBusyLabel); message boxes
    // shown meanwhile get the normal cursor.
    void setBusy(const QString& text) override;

    // The control of that design name, or null.
    QWidget* control(const QString& name) const;
    // Design names asked for that no control carries (each once).
    QStringList unknownControls() const;
    QString panel(int index) const;

    // The status-bar label for busy texts.
    void setBusyLabel(QLabel* label);
    QString busyText() const;

    // Click handlers: one that is still running a second after it started
    // (it waits with events going on) shows the busy cursor and "Working:
    // <caption>..." until it ends, unless it has shown a busy text of its own.
    void handlerStarted(const QString& caption);
    void handlerEnded();
    static constexpr int kBusyAfterMs = 1000;

    // When set, message boxes are handed to the hook instead of being shown;
    // its result answers Yes/No questions (true = Yes).
    std::function<bool(const MessageBoxInfo&)> messageHook;

private:
    bool show(const MessageBoxInfo& box);
    void updateCursor();

    QPointer<QWidget> root_;
    QPointer<QLabel> busyLabel_;
    bool busy_ = false;
    bool cursorOn_ = false;
    int asking_ = 0; // message boxes open
    int handlersRunning_ = 0;
    bool busyFromWatch_ = false;
    QTimer handlerWatch_;
    QString watchedCaption_;
    QList<QLabel*> panels_;
    mutable QHash<QString, QPointer<QWidget>> cache_;
    mutable QSet<QString> unknown_;
};

} // namespace bms
