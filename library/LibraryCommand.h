#pragma once
// The cell library from the command line: import files, print cells or runs
// as CSV. No window and no display.
#include "analysis/Capacity.h"
#include "library/Grade.h"
#include "library/Records.h"

#include <QStringList>

class QIODevice;
class QTextStream;

namespace library {

// Imports the files into the library at libraryPath with the given settings and
// writes the summary to out. Returns 0, or 1 when the library could not be
// opened for writing or a file could not be read.
int RunImport(const QString &libraryPath, const QStringList &files, const analysis::CapacityParameters &parameters,
    QTextStream &out, QTextStream &err);

enum class Export { Cells, Runs };
// Writes the cells or the runs as CSV (UTF-8, CR LF, header first) to out.
// Returns 0, or 1 when the library could not be opened or read.
int RunExport(const QString &libraryPath, Export what, QIODevice &out, QTextStream &err);

// The cells and the grade limits of a library that exists, for a command that only reads them: a missing file
// is not made ("セル台帳がありません: <path>"). Returns 0, or 1 with the message on err.
int ReadExistingCells(const QString &libraryPath, QList<CellSummary> &cells, GradeLimits &limits, QTextStream &err);

} // namespace library
