#include "library/LibraryLocation.h"
#include "library/ServerLocation.h"

#include <QDir>
#include <QFileInfo>

namespace library {

QString ChooseLibraryPath(const LibraryPlaceInputs &in)
{
    if (IsServerLocation(in.explicitPath))
        return in.explicitPath.trimmed();
    if (!in.explicitPath.isEmpty())
        return QFileInfo(in.explicitPath).absoluteFilePath();
    // A portable copy (or one told where its ini file is) keeps everything together.
    const QString ini = settings::ChooseIniPath(in.ini);
    const QString programFolder = QFileInfo(in.ini.programPath).absolutePath();
    const bool besideIni = !in.ini.explicitPath.isEmpty() || QFileInfo(ini).absolutePath() == programFolder;
    if (besideIni)
        return QFileInfo(ini).absolutePath() + QStringLiteral("/library.sqlite");
    QString base = in.xdgDataHome;
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = in.ini.home + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QStringLiteral("/voltrak/library.sqlite"));
}

QString CurrentLibraryPath(const QString &explicitPath)
{
    LibraryPlaceInputs in;
    in.ini = settings::CurrentIniPlaceInputs();
    in.explicitPath = explicitPath;
    in.xdgDataHome = qEnvironmentVariable("XDG_DATA_HOME");
    return ChooseLibraryPath(in);
}

} // namespace library
