#pragma once
// The planner's side of the cell library: the grade limits it keeps, the pool
// of cells a plan may use, and the record of cells built into a pack.
#include "library/Grade.h"
#include "library/Records.h"
#include "packs/PackPlan.h"

#include <QList>
#include <QString>

#include <optional>

namespace library {
class Library;
}

namespace packs {

using library::Grade;
using library::GradeLimits;

// The limits stored in the library; the defaults when none are stored or the
// stored ones do not make sense.
GradeLimits ReadGradeLimits(const library::Library &lib);
// Throws library::LibraryError for limits that are not valid.
void WriteGradeLimits(library::Library &lib, const GradeLimits &limits);

// A cell's grade from its latest capacity and its nominal one.
Grade GradeOfCell(const library::CellSummary &cell, const GradeLimits &limits);

struct LibraryPool {
    QList<PoolCell> cells;
    QList<qint64> cellIds; // the library's id of each cell, same order
};

// The cells a plan may use: in use (neither retired nor built in), measured at
// least once, of the grade when one is given; in the order given.
LibraryPool PoolOf(const QList<library::CellSummary> &cells, const GradeLimits &limits, std::optional<Grade> grade);

// Gives each pool cell the curve of its latest run (none when that run's table
// cannot be read).
void AddLatestCurves(const library::Library &lib, LibraryPool &pool);

// The curve distance of each measured cell's latest curve from the reference
// cell's latest curve, the reference itself first with 0; none for a cell
// whose curve shares too few levels or cannot be read. Nearest first, the
// cells without a distance last, by label among equals. Empty when the
// reference has no curve.
struct CurveNeighbour {
    qint64 cellId = 0;
    std::optional<double> minutes;
};
QList<CurveNeighbour> CurveNeighbours(const library::Library &lib, qint64 referenceCellId);

// Marks each cell as built into the pack named name (trimmed), which takes
// them out of later pools. Throws library::LibraryError, also for an empty name
// and for a cell no longer in use (then none is marked).
void RecordBuiltIn(library::Library &lib, const QList<qint64> &cellIds, const QString &name);
// Puts a built-in cell back in use.
void UndoBuiltIn(library::Library &lib, qint64 cellId);

} // namespace packs
