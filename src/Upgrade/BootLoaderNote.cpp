#include "BootLoaderNote.h"

#include "App.h"
#include "RuntimePorts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTime>
#include <sys/stat.h>

namespace bms {

namespace {

// One file per port in a folder of the runtime port folder (the port list
// shows the folder's files, not its folders).
QString NotePath(const QString& port)
{
    const QString canonical = QFileInfo(port).canonicalFilePath();
    QString name = canonical.isEmpty() ? port : canonical;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QString::fromStdString(RuntimePortDir()) + QStringLiteral("/boot-loader/") + name;
}

// When the last note line went to the memo.
QElapsedTimer LastNote;

} // namespace

QString BootLoaderWaitText()
{
    return QStringLiteral("Note: the pack waits in its boot loader, the upgrade did not finish: run the upgrade again!");
}

void LeaveBootLoaderNote(const QString& port)
{
    if (port.isEmpty())
        return;
    const std::string runtime = RuntimePortDir();
    ::mkdir(runtime.c_str(), 0700);
    ::mkdir((runtime + "/boot-loader").c_str(), 0700);
    LastNote.invalidate();
    QFile note(NotePath(port));
    if (note.open(QIODevice::WriteOnly | QIODevice::Truncate))
        note.write(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")).toLatin1() + ' ' + port.toUtf8() + '\n');
}

void RemoveBootLoaderNote(const QString& port)
{
    if (!port.isEmpty())
        QFile::remove(NotePath(port));
}

bool BootLoaderNoteLeft(const QString& port)
{
    return !port.isEmpty() && QFileInfo::exists(NotePath(port));
}

QString PortBoxName()
{
    return App.ui->text(QStringLiteral("cbb1"));
}

void NoteBootLoaderWaitOnTimeout()
{
    // Sampling a pack that waits in its boot loader times out every period:
    // the note is repeated now and then, not after every line.
    if (LastNote.isValid() && LastNote.elapsed() < 10000)
        return;
    if (!BootLoaderNoteLeft(PortBoxName()))
        return;
    LastNote.start();
    App.ui->appendLine(QStringLiteral("mmo1"), BootLoaderWaitText() + QStringLiteral("(") +
                                                   QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) +
                                                   QLatin1Char(')'));
}

} // namespace bms
