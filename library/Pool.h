#pragma once
// The cells a pack plan may use, as the library gives them: in use, measured,
// of the grade asked for, each with its latest capacity and curve. And the
// cells whose latest curves lie nearest a chosen cell's. No database here.
#include "analysis/CurveDistance.h"
#include "library/Grade.h"
#include "library/Records.h"

#include <QList>

#include <optional>

namespace library {

// A cell's grade from its latest capacity and its nominal one, lowered by its
// latest figures of other meters where limits are set (GradeWithFigures).
Grade GradeOfCell(const CellSummary &cell, const GradeLimits &limits);

struct PoolRequest {
    std::optional<Grade> grade; // only cells of this grade
    std::optional<QList<qint64>> onlyCells; // only these cells (those a filtered list shows)
    // Not the cells whose latest internal resistance is above this (mΩ); a
    // cell whose resistance was never measured stays in.
    std::optional<double> maxResistance;
};

struct PoolCandidate {
    qint64 cellId = 0;
    QString label;
    double capacity = 0.0; // mAh, the latest
    analysis::Curve curve; // the latest run's; empty when it cannot be read
    // Built into a pack: not for a plan, but counted so the plan can say why
    // the pool is smaller. Has no curve.
    bool builtIn = false;
    // Above the request's internal-resistance limit: not for a plan, counted
    // as builtIn is. Has no curve.
    bool aboveResistance = false;
    std::optional<double> resistanceMilliohm; // the latest internal resistance, when measured
};

// The cells a plan may use: in use (not retired), measured at least once, of
// the grade and among the cells when asked; in the order given. Cells built
// into a pack are in it marked builtIn, those above the resistance limit marked
// aboveResistance. Without curves.
QList<PoolCandidate> PoolOf(const QList<CellSummary> &cells, const GradeLimits &limits, const PoolRequest &request);

// The curve distance of a measured cell's latest curve from a reference
// cell's: the reference itself first with 0, then nearest first, the cells
// without a distance (too few shared levels, no readable table) last, by
// label among equals.
struct CurveNeighbour {
    qint64 cellId = 0;
    std::optional<double> minutes;
};

// The curve of bay (1 to 4) of a stored run, for its cell's curve distance;
// empty when the table cannot be converted.
analysis::Curve BayCurve(const RunTable &run, int bay);

} // namespace library
