#include "BootLoaderNote.h"

#include "App.h"
#include "RuntimePorts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTime>
#include <sys/stat.h>
#include <unistd.h>

namespace bms {

namespace {

// One file per port in a folder of the runtime port folder (the port list
// shows the folder's files, not its folders). The folder exists only while
// it holds notes.
std::string NoteFolder()
{
    return RuntimePortDir() + "/boot-loader";
}

QString NotePath(const QString& port)
{
    const QString canonical = QFileInfo(port).canonicalFilePath();
    QString name = canonical.isEmpty() ? port : canonical;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QString::fromStdString(NoteFolder()) + QLatin1Char('/') + name;
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
    const std::string folder = NoteFolder();
    LastNote.invalidate();
    const QString path = NotePath(port);
    // Another program that removes the last note takes the folder with it;
    // a note that finds the folder gone just then is written again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        ::mkdir(runtime.c_str(), 0700);
        ::mkdir(folder.c_str(), 0700);
        QFile note(path);
        if (note.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            note.write(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")).toLatin1() + ' ' + port.toUtf8() + '\n');
            return;
        }
    }
}

void RemoveBootLoaderNote(const QString& port)
{
    if (port.isEmpty())
        return;
    // Every answer of the pack's firmware comes here; with no note of any
    // port (no folder) one look at the folder is all it costs, not the
    // links of the port's path resolved and a file removed each time.
    const std::string folder = NoteFolder();
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0)
        return;
    QFile::remove(NotePath(port));
    (void)::rmdir(folder.c_str()); // refused while notes of other ports are left
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
