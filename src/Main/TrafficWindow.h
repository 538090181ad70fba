// The "Traffic" window: every frame the tool sends and every frame, fragment
// or run of noise it receives, as the frame record reports them (time with
// milliseconds, direction, length, the bytes, CRC, meaning, time since the
// request). Pause, clear, errors only, copy the selection, save everything to
// a text file. It listens to the frame record only while it is shown, so a
// closed window costs sampling nothing.
#pragma once

#include "TrafficModel.h"

#include <QWidget>
#include <functional>

class QCheckBox;
class QLabel;
class QMainWindow;
class QPushButton;
class QStatusBar;
class QTreeView;

namespace bms {

class TrafficWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrafficWindow(QWidget* parent = nullptr);
    ~TrafficWindow() override;

    TrafficModel& model() { return model_; }
    // The selected rows (in list order) as text lines, as Copy puts them on
    // the clipboard.
    QString selectedText() const;
    // Writes every row (the errors-only filter does not apply; events waiting
    // behind a pause are included) with a header line; false and `error` set
    // when the file cannot be written.
    bool saveTo(const QString& path, QString* error) const;
    // Asks for a file name (tests replace it); empty: cancelled.
    std::function<QString()> chooseSaveFile;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void listen(bool on);
    void copySelection();
    void save();
    void rowsAdded();
    void updateCount();

    TrafficModel model_;
    TrafficErrorFilter filter_;
    QTreeView* view_ = nullptr;
    QPushButton* pause_ = nullptr;
    QCheckBox* errorsOnly_ = nullptr;
    QLabel* count_ = nullptr;
    int observer_ = 0;
    bool follow_ = true;
};

// Puts a small "Traffic" button (btn_traffic) at the right of `bar`; it opens
// the Traffic window of `owner`, made on the first click and kept (with its
// rows) while the owner lives.
void AddTrafficButton(QMainWindow* owner, QStatusBar* bar);

} // namespace bms
