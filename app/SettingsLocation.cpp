#include "app/SettingsLocation.h"
#include "app/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace settings {

namespace {
QString g_override;
}

bool IsSystemProgramFolder(const QString &folder)
{
    const QString clean = QDir::cleanPath(folder);
    for (const char *root : {"/usr", "/bin", "/sbin"}) {
        const QString r = QString::fromLatin1(root);
        if (clean == r || clean.startsWith(r + QLatin1Char('/')))
            return true;
    }
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

    QString base = in.xdgConfigHome;
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = in.home + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/voltrak/voltrak.ini"));
}

void SetIniFilePathOverride(const QString &path)
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
    in.folderWritable = [](const QString &folder) {
        return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
    };
    return in;
}

QString IniFilePath()
{
    return ChooseIniPath(CurrentIniPlaceInputs());
}

} // namespace settings
