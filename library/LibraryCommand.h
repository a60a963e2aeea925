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

class Library;

// Imports the files into the library at libraryPath (made when missing) with
// the given settings and writes the summary to out, the files without a table
// or not text to err. Returns 0, or 1 when the library could not be opened for
// writing, or a file could not be read or gave nothing (the others are imported
// all the same).
int RunImport(const QString &libraryPath, const QStringList &files, const analysis::CapacityParameters &parameters,
    QTextStream &out, QTextStream &err);

// Stores the measurements of the figures CSV file in the library at
// libraryPath, which must exist (a cell is known by its label, so a new
// library would know none). columnsText ("1,2,3,4,header") chooses the columns
// and is kept in the library for the next import; empty takes those it keeps.
// The summary goes to out. Returns 0; 1 when the library could not be opened
// for writing, the file could not be read or a record was left out (the rest
// is stored all the same); 2 for columns that are not a list of four.
int RunImportFigures(
    const QString &libraryPath, const QString &file, const QString &columnsText, QTextStream &out, QTextStream &err);

enum class Export { Cells, Runs };
// Writes the cells or the runs as CSV (UTF-8, CR LF, header first) to out.
// Returns 0, or 1 when there is no library (nothing is made), or it could not
// be opened or read.
int RunExport(const QString &libraryPath, Export what, QIODevice &out, QTextStream &err);

// Copies the library at from (which must exist) into the one at to (made when
// missing; it must hold nothing yet) and prints what it copied on out.
// Returns 0, or 1 with the reason on err, to unchanged.
int RunCopy(const QString &from, const QString &to, QTextStream &out, QTextStream &err);

// The line a command prints when lib did not open: "セル台帳がありません: <path>",
// or "セル台帳を開けません: <reason>".
QString OpenFailureText(const Library &lib);
// The cells and the grade limits of a library that exists, for a command that only reads them: a missing file
// is not made ("セル台帳がありません: <path>"). Returns 0, or 1 with the message on err.
int ReadExistingCells(const QString &libraryPath, QList<CellSummary> &cells, GradeLimits &limits, QTextStream &err);

} // namespace library
