#pragma once
// What the import makes of a log file or a receive journal, before any
// database sees it: each table as a run to record, with the labels a line
// "セル: a b c d" above it names and the time of the nearest date stamp or
// 再開 line, else of the journal's start, else of the file.
#include "core/JournalCells.h"
#include "core/LogLines.h"
#include "library/Records.h"

#include <QDateTime>

#include <exception>
#include <optional>

namespace library {

// "セル: a b c d" or "CELLS: a b c d" (full-width colon too, "-" = empty
// bay); false for any other line, labels then untouched.
bool ParseCellsLine(const QByteArray &line, QString (&labels)[BayCount]);

// The line ParseCellsLine reads back as labels: "セル: a b - d" ("-" for an
// empty bay). Empty when no bay has a label, or when a label holds a blank
// (it would read back as two).
QString CellsLineText(const QString (&labels)[BayCount]);

// The header line of the last table above line before (exclusive) whose first
// row is firstRow; -1 when there is none.
int HeaderAbove(const LineSource &lines, const QByteArray &firstRow, int before);

// Where a captured run's cells line goes in the log that holds its table: the
// line to put it above (its header) and the text. None when the run has no
// labels, its table is not in the lines, or the line is there already.
struct CellsLinePlace {
    int line = -1;
    QString text;
};
std::optional<CellsLinePlace> PlaceCellsLine(const LineSource &lines, const RunInput &run);

// The time of a date stamp "yyyy/MM/dd HH:mm..."; invalid when it is none.
QDateTime StampTime(const QByteArray &stamp);

// The time of a date stamp or of a 再開 line; invalid for any other line.
QDateTime LineTime(const QByteArray &line);

// Every table of the lines as a run: rows as they stand, the labels of the
// last "セル:" line between the previous table and its header; the time of the
// nearest date stamp or 再開 line above it, else journalStart when valid, else
// fileTime, with the dating that says which. source names the file. Tables
// without rows are left out.
QList<RunInput> RunsInLog(const LineSource &lines, const QDateTime &fileTime, const QString &source,
    const analysis::CapacityParameters &parameters, const QDateTime &journalStart = QDateTime());

// The runs of one file, or why it could not be read.
struct FileRuns {
    QList<RunInput> runs;
    QString failure; // empty when read
    bool notText = false; // not read: the file does not look like text
};
// Reads path as the open command does. A file named as a receive journal is
// dated by its start and read whatever bytes the line brought, and a table
// its cells file (core/JournalCells) names by its rows takes the time and bays
// it was captured with; any other file must look like text.
FileRuns ReadRunsOfFile(const QString &path, const analysis::CapacityParameters &parameters);

// The runs whose rows an entry names get its time (RunDating::Received) and its bays.
void ApplyJournalCells(QList<RunInput> &runs, const QList<journalcells::Entry> &entries);

} // namespace library
