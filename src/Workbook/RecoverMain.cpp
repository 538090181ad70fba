// workbook-recover JOURNAL [OUTPUT.xlsx]: writes the .xlsx of a workbook
// journal, e.g. one left behind by a crash.
#include "Recover.h"
#include "WorkbookError.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <new>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2 || args.size() > 3 || args[1] == QStringLiteral("--help")) {
        std::fprintf(stderr,
                     "usage: workbook-recover JOURNAL [OUTPUT.xlsx]\n"
                     "Writes the .xlsx of a workbook journal. The tool keeps its journals in\n"
                     "$QUORLEX_BMS_WORKBOOK_DIR, else $XDG_DATA_HOME/quorlex-bms/workbooks,\n"
                     "else ~/.local/share/quorlex-bms/workbooks.\n");
        return 2;
    }
    try {
        const bms::RecoveryResult r = bms::RecoverWorkbook(args[1], args.size() == 3 ? args[2] : QString());
        const QString notes = r.notes.describe();
        std::printf("%s: %d rows%s%s%s%s\n", qPrintable(r.xlsxPath), r.rows,
                    r.complete ? "" : " (the journal was not closed: the tool ended without saving)",
                    r.badLines ? ", some unreadable lines skipped" : "", notes.isEmpty() ? "" : ", ",
                    qPrintable(notes));
        return 0;
    } catch (const bms::Error& e) {
        std::fprintf(stderr, "workbook-recover: %s\n", e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "workbook-recover: not enough memory to read %s\n", qPrintable(args[1]));
        return 1;
    }
}
