// The command line of quorlex-bms-cli: the options every command shares, the
// command with its arguments and the options of the command. Parsing checks
// only the shape of the line and the numbers of the shared options; what a
// command's arguments mean is the command's business.
#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <optional>

namespace bms::cli {

struct Options {
    // Shared by every command.
    QString port;
    uint32_t baud = 19200;
    uint8_t addr = 0x06;
    QString product = QStringLiteral("Q-Serial");
    int timeoutMs = 500;
    bool timeoutGiven = false; // --timeout was on the line
    bool json = false;
    bool trace = false;
    bool yes = false;
    bool help = false;

    // The command and what follows it.
    QString command;
    QStringList args;
    // Options of the command, by name without the leading "--"; flags map to "".
    std::map<QString, QString> extra;

    bool has(const QString& name) const { return extra.count(name) != 0; }
    QString value(const QString& name) const
    {
        const auto it = extra.find(name);
        return it == extra.end() ? QString() : it->second;
    }
};

// Parses the arguments after the program name. On a malformed line returns
// nothing and leaves the reason (the first problem found) in `error`. `seen`,
// when given, receives what could be read of the line either way (--json and
// the command for the report of a malformed line).
std::optional<Options> ParseOptions(const QStringList& arguments, QString& error, Options* seen = nullptr);

// The commands, in the order the help lists them.
const QStringList& CommandNames();

// Help of the program (empty command) or of one command; empty text for an
// unknown command.
QString HelpText(const QString& command);

// Parses a whole decimal number within [lo, hi]; nothing when the text is
// not one.
std::optional<qint64> ParseDecimal(const QString& text, qint64 lo, qint64 hi);

} // namespace bms::cli
