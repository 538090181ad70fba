// Tells a barcode scanner from a person at the keyboard. A keyboard-wedge
// scanner is a keyboard: it types a line's keys a few milliseconds apart
// and ends the line with Return (or Tab); a person types some ten times
// slower. So a line typed into another box than the scan box (the history's
// search, a question's value box) can still be known for a scan.
#pragma once

#include <QString>
#include <optional>

namespace bms::stationtab {

class KeyBurst {
public:
    // The longest pause between two keys of a scanner, and the shortest
    // line it types.
    static constexpr qint64 kGapMs = 30;
    static constexpr int kMinKeys = 4;

    // A key typing `text` at `ms` (a steady clock); true when it begins a
    // new burst: the box it goes to holds what was there before the scan.
    bool key(const QString& text, qint64 ms);
    // The end of a line at `ms`: the line when its keys came as a scanner
    // types them, else nothing. Ends the burst either way.
    std::optional<QString> end(qint64 ms);
    // A key that edits (Backspace, an arrow): a person is typing.
    void reset();

private:
    QString keys_;
    qint64 last_ = -1;
};

} // namespace bms::stationtab
