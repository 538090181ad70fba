// One fixture's panel on the Station tab, drawn from its model: the port,
// the pack's barcode and UID, a large banner (READY, TESTING, then PASS in
// green, FAIL in red, ERROR, ABORTED, which stays until the next pack
// starts), the reason of a failure with the failing measurements in red
// and their limits, the current step with a progress bar, the steps done
// with their outcomes, a prompt of the run with its value box and OK, words
// about a refused scan, and "Abort". Fonts are sized to be read from two
// metres with four panels side by side on a 1366 x 768 screen.
#pragma once

#include "FixtureModel.h"

#include <QFrame>

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpacerItem;

namespace bms::stationtab {

class FitLabel;

class FixturePanel : public QFrame {
    Q_OBJECT
public:
    FixturePanel(int fixture, QWidget* parent = nullptr);

    // Shows the model; `port` as configured, `selected` when the next scan
    // goes here, `portMissing` when the port's device is not there.
    void show(const FixtureModel& model, const QString& port, bool selected, bool portMissing = false);
    // The label of the last run under the banner: "queued", "printed" or
    // "failed" (with the reason and "Print again"); empty hides it.
    void showLabel(const QString& state, const QString& reason = {});
    QString labelText() const;
    // Fewer lines for small panels (more than four fixtures).
    void setCompact(bool compact);

    QString bannerText() const;
    QString reasonText() const;
    QString messageText() const;
    QLineEdit* promptBox() const { return promptValue_; }
    // A question of the run waits for a typed answer (a value, a barcode).
    bool asksForValue() const;
    QString promptKind() const { return promptKind_; }

Q_SIGNALS:
    void answered(const QString& text);
    void abortClicked();
    void printAgainClicked();
    // The operator clicked the panel: the next scan goes to this fixture.
    void selectClicked();
    // A question of the run opened or closed (shown by show()).
    void promptOpenedOrClosed();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void submitPrompt();
    void pressed(const QMouseEvent* event);
    // The port's path, shortened in the middle to the room there is.
    void elidePort();

    int fixture_;
    QLabel* title_;
    QLabel* port_;
    FitLabel* barcode_;
    FitLabel* identity_;
    QLabel* banner_;
    FitLabel* reason_;
    FitLabel* label_;
    QPushButton* printAgain_;
    FitLabel* step_;
    QProgressBar* progress_;
    QListWidget* steps_;
    QSpacerItem* filler_;
    QFrame* prompt_;
    FitLabel* promptText_;
    QLineEdit* promptValue_;
    QPushButton* promptOk_;
    FitLabel* message_;
    QPushButton* abort_;
    QString portText_;
    QString promptId_;
    QString promptKind_;
    bool selected_ = false;
    bool compact_ = false;
    int refusals_ = 0;
    quint64 lastPress_ = 0;
};

} // namespace bms::stationtab
