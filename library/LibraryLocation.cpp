#include "library/LibraryLocation.h"
#include "core/IniFile.h"
#include "core/Settings.h"
#include "library/Library.h"
#include "library/OpenCheck.h"
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
    if (IsServerLocation(in.storedLocation))
        return in.storedLocation.trimmed();
    if (!in.storedLocation.trimmed().isEmpty())
        return QFileInfo(in.storedLocation.trimmed()).absoluteFilePath();
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

namespace {
const QString LocationSection = QStringLiteral("Library");
const QString LocationKey = QStringLiteral("Location");
} // namespace

QString StoredLocation(const IniFile &ini)
{
    return ini.readString(LocationSection, LocationKey).trimmed();
}

void StoreLocation(IniFile &ini, const QString &location)
{
    ini.writeString(LocationSection, LocationKey, location.trimmed());
}

QString DescribeLocation(const QString &location)
{
    const bool server = IsServerLocation(location);
    if (!server && !QFileInfo::exists(location)) {
        const OpenCheck check = CheckBeforeOpening(location, OpenMode::ExistingOnly);
        if (!check.missing)
            throw LibraryError(check.reason);
        // Whether the folder would take it, without making it.
        const QFileInfo info(location);
        if (info.isDir())
            throw LibraryError(QStringLiteral("%1 はフォルダです").arg(QDir::toNativeSeparators(location)));
        return QStringLiteral("新しいセル台帳を作ります: %1").arg(QDir::toNativeSeparators(location));
    }
    Library lib(location, OpenMode::ExistingOnly);
    if (lib.isMissing())
        return server ? QStringLiteral("接続できました。空のデータベースに、次の起動でセル台帳を作ります")
                      : QStringLiteral("新しいセル台帳を作ります: %1").arg(QDir::toNativeSeparators(location));
    if (!lib.isOpen())
        throw LibraryError(lib.reason());
    QString text = QStringLiteral("%1: セル %2")
                       .arg(server ? QStringLiteral("接続できました") : QStringLiteral("開けます"))
                       .arg(lib.cellSummaries().size());
    if (!lib.isWritable())
        text += QStringLiteral("（") + lib.reason() + QStringLiteral("）");
    return text;
}

QString OutboxPathBeside(const QString &iniPath)
{
    return QFileInfo(iniPath).absolutePath() + QStringLiteral("/outbox.sqlite");
}

QString CurrentLibraryPath(const QString &explicitPath)
{
    LibraryPlaceInputs in;
    in.ini = settings::CurrentIniPlaceInputs();
    in.explicitPath = explicitPath;
    in.storedLocation = StoredLocation(IniFile(settings::IniFilePath()));
    in.xdgDataHome = qEnvironmentVariable("XDG_DATA_HOME");
    return ChooseLibraryPath(in);
}

} // namespace library
