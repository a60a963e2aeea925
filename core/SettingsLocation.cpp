#include "core/SettingsLocation.h"
#include "core/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QTemporaryFile>
#else
#include <unistd.h>
#endif

namespace settings {

namespace {
QString g_override;
}

bool IsSystemProgramFolder(const QString &folder)
{
    // Only the folders programs are installed into: a build folder under
    // /usr/src or /usr/local/src is still the user's own.
    static const char *const folders[] = {"/bin", "/sbin", "/usr/bin", "/usr/sbin", "/usr/games", "/usr/local/bin",
        "/usr/local/sbin", "/usr/local/games"};
    const QString clean = QDir::cleanPath(folder);
    for (const char *f : folders)
        if (clean == QLatin1String(f))
            return true;
    return false;
}

QString ChooseIniPath(const IniPlaceInputs &in)
{
    if (!in.explicitPath.isEmpty())
        return QFileInfo(in.explicitPath).absoluteFilePath();

    const QFileInfo program(in.programPath);
    const QString folder = program.absolutePath();
    const bool writable = in.folderWritable ? in.folderWritable(folder) : false;
    if (writable && !IsSystemProgramFolder(folder))
        return folder + QLatin1Char('/') + program.completeBaseName() + QStringLiteral(".ini");
    if (!in.appData.isEmpty())
        return QDir::cleanPath(in.appData + QStringLiteral("/VOLTRAK/voltrak.ini"));

    QString base = in.xdgConfigHome;
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = in.home + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/voltrak/voltrak.ini"));
}

void SetIniFilePath(const QString &path)
{
    g_override = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}

IniPlaceInputs CurrentIniPlaceInputs()
{
    IniPlaceInputs in;
    in.programPath = QCoreApplication::applicationFilePath();
    in.explicitPath = g_override;
    in.xdgConfigHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    in.home = QDir::homePath();
#ifdef Q_OS_WIN
    in.appData = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
    // The folder's access list decides, which only an attempt tells (Program Files says no to a user).
    in.folderWritable = [](const QString &folder) {
        QTemporaryFile probe(folder + QStringLiteral("/.voltrak-probe-XXXXXX"));
        return probe.open();
    };
#else
    in.folderWritable
        = [](const QString &folder) { return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0; };
#endif
    return in;
}

QString IniFilePath()
{
    return ChooseIniPath(CurrentIniPlaceInputs());
}

} // namespace settings
