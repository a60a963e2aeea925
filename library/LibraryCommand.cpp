#include "library/LibraryCommand.h"
#include "library/Library.h"
#include "library/LibraryCopy.h"
#include "library/ServerLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QTextStream>

namespace library {

namespace {
void Warn(const Library &lib, QTextStream &err)
{
    err << OpenFailureText(lib) << '\n';
    err.flush();
}
} // namespace

QString OpenFailureText(const Library &lib)
{
    // A missing library is no failure to open: the reason says it all.
    return lib.isMissing() ? lib.reason() : CannotOpenTitle() + QStringLiteral(": ") + lib.reason();
}

int RunImport(const QString &libraryPath, const QStringList &files, const analysis::CapacityParameters &parameters,
    QTextStream &out, QTextStream &err)
{
    Library lib(libraryPath);
    if (!lib.isWritable()) {
        Warn(lib, err);
        return 1;
    }
    const ImportSummary s = lib.importFiles(files, parameters);
    out << SummaryText(s, FileProblems::Left);
    out.flush();
    err << FileProblemsText(s);
    err.flush();
    return s.failures.isEmpty() && s.problems.isEmpty() ? 0 : 1;
}

int RunImportFigures(
    const QString &libraryPath, const QString &file, const QString &columnsText, QTextStream &out, QTextStream &err)
{
    std::optional<FigureColumns> columns;
    if (!columnsText.isEmpty()) {
        columns = FigureColumnsFromText(columnsText);
        if (!columns) {
            err << QStringLiteral("voltrak: --figure-columns takes four column numbers from 1 to %1, then "
                                  "\"header\" when the first record is one (1,2,3,4,header)\n")
                       .arg(MaxFigureColumn);
            err.flush();
            return 2;
        }
    }
    Library lib(libraryPath, OpenMode::ExistingOnly);
    if (!lib.isWritable()) {
        Warn(lib, err);
        return 1;
    }
    try {
        if (columns)
            lib.setFigureColumns(*columns);
        else
            columns = lib.figureColumns();
    } catch (const LibraryError &e) {
        err << e.text() << '\n';
        err.flush();
        return 1;
    }
    const FigureImportSummary s = lib.importFigures(file, *columns);
    out << FigureSummaryText(s);
    out.flush();
    return s.failure.isEmpty() && s.bad.isEmpty() ? 0 : 1;
}

int RunExport(const QString &libraryPath, Export what, QIODevice &out, QTextStream &err)
{
    Library lib(libraryPath, OpenMode::ExistingOnly);
    if (!lib.isOpen()) {
        Warn(lib, err);
        return 1;
    }
    if (lib.state() == Library::State::ReadOnly)
        Warn(lib, err);
    try {
        const QByteArray csv
            = what == Export::Cells ? CellsCsv(lib.cellSummaries(), lib.gradeLimits()) : RunsCsv(lib.runs());
        if (out.write(csv) != csv.size())
            return 1;
    } catch (const LibraryError &e) {
        err << e.text() << '\n';
        return 1;
    }
    return 0;
}

int RunCopy(const QString &from, const QString &to, QTextStream &out, QTextStream &err)
{
    Library source(from, OpenMode::ExistingOnly);
    if (!source.isOpen()) {
        Warn(source, err);
        return 1;
    }
    // A file that is not there yet is made; a server database must exist (an empty one).
    Library target(to);
    if (!target.isWritable()) {
        Warn(target, err);
        return 1;
    }
    try {
        const CopySummary s = CopyLibrary(source, target);
        out << CopySummaryText(s) << QStringLiteral("（%1 → %2）").arg(source.path(), target.path()) << '\n';
        out.flush();
    } catch (const LibraryError &e) {
        err << e.text() << '\n';
        err.flush();
        return 1;
    }
    return 0;
}

int ReadExistingCells(const QString &libraryPath, QList<CellSummary> &cells, GradeLimits &limits, QTextStream &err)
{
    // A command that only reads never makes a library (nor its folder).
    Library lib(libraryPath, OpenMode::ExistingOnly);
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
