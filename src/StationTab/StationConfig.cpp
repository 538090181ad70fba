#include "StationConfig.h"

#include "DataFolders.h"
#include "StationRecords.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>

namespace bms::stationtab {

namespace {

QString Hash(const QString& salt, const QString& password)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::fromHex(salt.toLatin1()) + password.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool Executable(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// Makes `folder` and the levels above it that do not exist yet, each for
// its user only (0700). Folders that exist are left as they are.
void MakePrivateFolder(const QString& folder)
{
    QStringList missing;
    for (QString at = QDir::cleanPath(folder); !QFileInfo::exists(at); at = QFileInfo(at).path())
        missing.prepend(at);
    for (const QString& level : missing)
        QDir().mkdir(level, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

QString StationConfig::defaultPath()
{
    const QString set = qEnvironmentVariable("QUORLEX_BMS_STATION_CONFIG");
    if (!set.isEmpty())
        return set;
    return SettingsFolder() + QStringLiteral("/station.ini");
}

StationConfig StationConfig::load(const QString& path)
{
    StationConfig c;
    if (!QFileInfo::exists(path))
        return c;
    QSettings file(path, QSettings::IniFormat);
    c.recipe = file.value(QStringLiteral("station/recipe")).toString();
    c.stationId = file.value(QStringLiteral("station/station_id")).toString();
    c.operatorName = file.value(QStringLiteral("station/operator")).toString();
    c.printer = file.value(QStringLiteral("station/printer")).toString();
    c.lineDb = file.value(QStringLiteral("station/line_db")).toString();
    c.cli = file.value(QStringLiteral("station/cli")).toString();
    c.shiftStart = QDateTime::fromString(file.value(QStringLiteral("station/shift_start")).toString(), Qt::ISODateWithMs);
    const int fixtures = std::min(file.beginReadArray(QStringLiteral("fixtures")), kMaxFixtures);
    for (int i = 0; i < fixtures; ++i) {
        file.setArrayIndex(i);
        c.ports.append(file.value(QStringLiteral("port")).toString());
    }
    file.endArray();
    c.passwordSalt = file.value(QStringLiteral("engineer/salt")).toString();
    c.passwordHash = file.value(QStringLiteral("engineer/password_sha256")).toString();
    return c;
}

bool StationConfig::save(const QString& path, QString& error) const
{
    // The file holds the line database's URL, its password included: it is
    // its user's alone (0600), in a folder of their own when this makes it.
    MakePrivateFolder(QFileInfo(path).absolutePath());
    QSettings file(path, QSettings::IniFormat);
    file.setValue(QStringLiteral("station/recipe"), recipe);
    file.setValue(QStringLiteral("station/station_id"), stationId);
    file.setValue(QStringLiteral("station/operator"), operatorName);
    file.setValue(QStringLiteral("station/printer"), printer);
    file.setValue(QStringLiteral("station/line_db"), lineDb);
    file.setValue(QStringLiteral("station/cli"), cli);
    file.setValue(QStringLiteral("station/shift_start"), shiftStart.isValid() ? shiftStart.toString(Qt::ISODateWithMs) : QString());
    file.remove(QStringLiteral("fixtures"));
    file.beginWriteArray(QStringLiteral("fixtures"), int(ports.size()));
    for (int i = 0; i < int(ports.size()); ++i) {
        file.setArrayIndex(i);
        file.setValue(QStringLiteral("port"), ports[i]);
    }
    file.endArray();
    file.setValue(QStringLiteral("engineer/salt"), passwordSalt);
    file.setValue(QStringLiteral("engineer/password_sha256"), passwordHash);
    file.sync();
    if (file.status() != QSettings::NoError) {
        error = QStringLiteral("The station settings cannot be written to %1").arg(path);
        return false;
    }
    // QSettings writes a new file with the usual mode (readable by all):
    // tightened now, and an older file too.
    if (!QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner)) {
        error = QStringLiteral("The station settings in %1 cannot be made readable by their user only").arg(path);
        return false;
    }
    return true;
}

bool StationConfig::checkPassword(const QString& password) const
{
    return !locked() || Hash(passwordSalt, password) == passwordHash;
}

void StationConfig::setPassword(const QString& password)
{
    if (password.isEmpty()) {
        passwordSalt.clear();
        passwordHash.clear();
        return;
    }
    QByteArray salt(16, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(salt.data()), salt.size() / 4);
    passwordSalt = QString::fromLatin1(salt.toHex());
    passwordHash = Hash(passwordSalt, password);
}

QString StationConfig::lineDatabase() const
{
    return lineDb.isEmpty() ? records::LineDatabaseFromEnvironment() : lineDb;
}

QString StationConfig::incomplete() const
{
    if (recipe.isEmpty())
        return QStringLiteral("No recipe is chosen (Station settings)");
    if (ports.isEmpty())
        return QStringLiteral("No fixture has a port (Station settings)");
    return {};
}

QString FindStationCli(const QString& configured)
{
    if (!configured.isEmpty())
        return Executable(configured) ? configured : QString();
    const QString fromEnvironment = qEnvironmentVariable("QUORLEX_BMS_CLI");
    if (!fromEnvironment.isEmpty())
        return Executable(fromEnvironment) ? fromEnvironment : QString();
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString& candidate : {here.filePath(QStringLiteral("quorlex-bms-cli")),
                                     here.filePath(QStringLiteral("../Cli/quorlex-bms-cli")),
                                     here.filePath(QStringLiteral("../src/Cli/quorlex-bms-cli"))}) {
        if (Executable(candidate))
            return QFileInfo(candidate).canonicalFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("quorlex-bms-cli"));
}

} // namespace bms::stationtab
