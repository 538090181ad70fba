#include "KeyFilters.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QWidget>

namespace bms {

namespace {

const char* const kDigitBoxes[] = {
    "edt_interval", "edt4", "edt_rcap", "Edit1", "edt1", "edtc", "edtv1", "edtv2",
    "edt_sleep_time_mul", "edt_sleep_time_base", "Edit3",
    // value boxes of the simulator tab, all but the temperature
    "edt_cell_volt_param", "edt_current_param", "edt_rsoc", "edt_cycle_param",
    "edt_lifetime_charge_energy_param", "edt_lifetime_discharge_energy_param", "edt_fullChargeTime",
    "edt_max_charge_volt_param", "edt_min_discharge_volt_param", "edt_max_charge_current_param",
    "edt_max_discharge_current_param",
};
const char* const kSignedDigitBoxes[] = {"edt_cell_temp_param"};
const char* const kLetterDigitBoxes[] = {"edt_pack_id", "Customer_code_edit"};

} // namespace

KeystrokeFilter::KeystrokeFilter(Mode mode, QObject* parent) : QObject(parent), mode_(mode) {}

bool KeystrokeFilter::accepts(QChar c) const
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return true;
    switch (mode_) {
    case Digits:
        return false;
    case SignedDigits:
        return u == '-';
    case LettersDigits:
        return u == ' ' || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
    }
    return false;
}

bool KeystrokeFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    // Pasting would bring in any character at all.
    if (key->matches(QKeySequence::Paste))
        return true;
    const QString text = key->text();
    if (key->key() == Qt::Key_Backspace || text.isEmpty())
        return false;
    // Editing and navigation keys that type no character (Delete, Tab,
    // Return, Ctrl+C ...) pass; printable characters must be accepted.
    for (QChar c : text) {
        if (c.isPrint() && !accepts(c))
            return true;
    }
    return false;
}

TypingLimit::TypingLimit(int maxLength, QObject* parent) : QObject(parent), maxLength_(maxLength) {}

bool TypingLimit::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto* edit = qobject_cast<QLineEdit*>(watched);
    const QString text = static_cast<QKeyEvent*>(event)->text();
    if (!edit || text.isEmpty() || !text.front().isPrint())
        return false;
    return edit->text().size() - edit->selectedText().size() + text.size() > maxLength_;
}

void LimitTyping(QWidget* comboBox, int maxLength)
{
    auto* box = qobject_cast<QComboBox*>(comboBox);
    if (box && box->lineEdit())
        box->lineEdit()->installEventFilter(new TypingLimit(maxLength, box));
}

void InstallKeystrokeFilters(QWidget* root)
{
    auto install = [root](KeystrokeFilter::Mode mode, auto& names) {
        auto* filter = new KeystrokeFilter(mode, root);
        for (const char* name : names) {
            if (auto* box = root->findChild<QLineEdit*>(QString::fromLatin1(name)))
                box->installEventFilter(filter);
        }
    };
    install(KeystrokeFilter::Digits, kDigitBoxes);
    install(KeystrokeFilter::SignedDigits, kSignedDigitBoxes);
    install(KeystrokeFilter::LettersDigits, kLetterDigitBoxes);
}

} // namespace bms
