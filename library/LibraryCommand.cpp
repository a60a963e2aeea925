#include "library/LibraryCommand.h"
#include "library/Library.h"

#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QTextStream>

namespace library {

namespace {
void Warn(const Library &lib, QTextStream &err)
{
    err << CannotOpenTitle() << ": " << lib.reason() << '\n';
    err.flush();
}
} // namespace

int RunImport(const QString &libraryPath, const QStringList &files, const analysis::CapacityParameters &parameters,
    QTextStream &out, QTextStream &err)
{
    Library lib(libraryPath);
    if (!lib.isWritable()) {
        Warn(lib, err);
        return 1;
    }
    const ImportSummary s = lib.importFiles(files, parameters);
    out << SummaryText(s);
    out.flush();
    return s.failures.isEmpty() ? 0 : 1;
}

int RunExport(const QString &libraryPath, Export what, QIODevice &out, QTextStream &err)
{
    Library lib(libraryPath);
    if (!lib.isOpen()) {
        Warn(lib, err);
        return 1;
    }
    if (lib.state() == Library::State::ReadOnly)
        Warn(lib, err);
    try {
        const QByteArray csv = what == Export::Cells ? CellsCsv(lib.cellSummaries()) : RunsCsv(lib.runs());
        if (out.write(csv) != csv.size())
            return 1;
    } catch (const LibraryError &e) {
        err << e.text() << '\n';
        return 1;
    }
    return 0;
}

int ReadExistingCells(const QString &libraryPath, QList<CellSummary> &cells, GradeLimits &limits, QTextStream &err)
{
    // Library's constructor makes a missing file (and its folder): a command that only reads must not.
    const QFileInfo file(libraryPath);
    if (!file.exists()) {
        err << QStringLiteral("セル台帳がありません: ") << QDir::toNativeSeparators(file.absoluteFilePath()) << '\n';
        err.flush();
        return 1;
    }
    Library lib(libraryPath);
    if (!lib.isOpen()) {
        Warn(lib, err);
        return 1;
    }
    try {
        cells = lib.cellSummaries();
        limits = lib.gradeLimits();
    } catch (const LibraryError &e) {
        err << e.text() << '\n';
        err.flush();
        return 1;
    }
    return 0;
}

} // namespace library
