// The Station tab's settings, chosen by the engineer and locked for the
// operator: the recipe, the station id, the operator's name, the line
// database (its password shown as "****") and the port of each fixture. With an engineer password set
// (its salted hash is in the settings file) the fields are read-only until
// the password unlocks them; "Lock" (or leaving the page unlocked and
// switching tabs) locks them again. Without a password they are open, and
// the page says so.
#pragma once

#include "StationConfig.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace bms::stationtab {

class SettingsPage : public QWidget {
    Q_OBJECT
public:
    explicit SettingsPage(QWidget* parent = nullptr);

    // Fills the fields from `config`; locks them when it has a password.
    void load(const StationConfig& config, const QStringList& portList);
    // `base` with the fields' values.
    StationConfig edited(const StationConfig& base) const;

    bool unlocked() const { return unlocked_; }
    void setUnlocked(bool on);
    void setStatus(const QString& text);
    // The CUPS queues to choose from (the text typed stays).
    void setPrinters(const QStringList& queues);

Q_SIGNALS:
    void unlockRequested(const QString& password);
    void saveRequested();
    void setPasswordRequested(const QString& password);
    void newShiftRequested();
    // A test label to the printer chosen.
    void testPrintRequested(const QString& printer);

private:
    void showFixtureRows(int count);

    QLineEdit* recipe_;
    QPushButton* browse_;
    QLineEdit* stationId_;
    QLineEdit* operator_;
    QLineEdit* lineDb_;
    QSpinBox* fixtures_;
    QComboBox* printer_;
    QPushButton* testPrint_;
    QList<QComboBox*> ports_;
    QList<QLabel*> portLabels_;
    QPushButton* save_;
    QLabel* passwordLabel_;
    QLineEdit* password_;
    QPushButton* unlock_;
    QLineEdit* newPassword_;
    QLineEdit* newPasswordAgain_;
    QPushButton* setPassword_;
    QPushButton* newShift_;
    QLabel* lockState_;
    QLabel* status_;
    bool unlocked_ = false;
    bool hasPassword_ = false;
};

} // namespace bms::stationtab
