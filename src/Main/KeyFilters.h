// Keystroke filters of the input boxes: a rejected key is discarded while it
// is typed; the box's text is not checked again afterwards.
#pragma once

#include <QObject>

class QWidget;

namespace bms {

class KeystrokeFilter : public QObject {
    Q_OBJECT
public:
    enum Mode {
        Digits,       // Backspace, 0-9
        SignedDigits, // Backspace, '-', 0-9
        LettersDigits // Backspace, space, 0-9, A-Z, a-z
    };
    KeystrokeFilter(Mode mode, QObject* parent);
    Mode mode() const { return mode_; }
    bool accepts(QChar c) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Mode mode_;
};

// A typing limit: a character key is discarded when the box already holds
// `maxLength` characters (outside the selection). Texts put in by the
// program are not cut, unlike QLineEdit::maxLength.
class TypingLimit : public QObject {
    Q_OBJECT
public:
    TypingLimit(int maxLength, QObject* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int maxLength_;
};

// Installs the three filters on their boxes below `root`.
void InstallKeystrokeFilters(QWidget* root);
// Limits typing into the edit field of a combo box.
void LimitTyping(QWidget* comboBox, int maxLength);

} // namespace bms
