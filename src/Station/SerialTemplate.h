// The serial-number template of a recipe, such as "QX{yyyyMMdd}{seq:05}":
// literal text, date fields in braces (y, M and d letters as in QDate
// formats) and exactly one sequence field {seq:0N} (N digits, zero-padded).
// The key is the expansion without the sequence ("QX20261209"): numbers are
// counted per key, so a template with a date starts again every day.
#pragma once

#include <QDate>
#include <QString>
#include <optional>
#include <vector>

namespace bms::station {

class SerialTemplate {
public:
    // Parses `text`; on a bad template returns nothing and sets `error` and
    // the 0-based `column` of the fault.
    static std::optional<SerialTemplate> parse(const QString& text, QString& error, int& column);

    QString key(const QDate& day) const;
    // The serial number for `number`, or an empty text when the number does
    // not fit the sequence's digits.
    QString value(const QDate& day, qint64 number) const;
    // Largest number the sequence field can show.
    qint64 maxNumber() const;
    const QString& text() const { return text_; }

private:
    struct Part {
        enum Kind { Literal, Date, Sequence } kind;
        QString text; // literal text or date format
    };
    QString expand(const QDate& day, const QString& sequence) const;

    QString text_;
    std::vector<Part> parts_;
    int digits_ = 0;
};

// The longest serial number the pack's register holds.
constexpr int kSerialNumberMaxLength = 20;

} // namespace bms::station
