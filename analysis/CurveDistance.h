#pragma once
// How far apart two cells' discharge curves lie: for each voltage level both
// tables hold, how many minutes apart the two cells fell to it.
#include "analysis/DischargeTable.h"

#include <QList>

#include <optional>

namespace analysis {

struct CurvePoint {
    int millivolts = 0; // the row's level, rounded to the millivolt so "1.2" and "1.20" meet
    double minutes = 0.0; // when the cell fell to it
};

// Ascending levels, each once.
using Curve = QList<CurvePoint>;

// The curve of bay (0..3) in a table's converted rows, its counts in minutes by
// the table's own time base htime (0 one minute, 1 ten seconds, 2 one second).
// Rows without the bay's column are skipped; a level repeated lower down keeps
// its first time, the moment the cell first fell to it.
Curve CurveOf(const QList<TableRow> &rows, int bay, qint32 htime);

// The largest difference of the two times over the shared levels, in minutes;
// none when fewer than two levels are shared.
std::optional<double> CurveDistance(const Curve &a, const Curve &b);

} // namespace analysis
