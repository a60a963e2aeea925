#pragma once
// Packs built from a pool of measured cells: series strings of single cells
// whose capacities lie closest together, or series of parallel groups whose
// totals are as equal as the cells allow, optionally also matched on the
// discharge curve. No widgets.
#include "analysis/CurveDistance.h"

#include <QList>
#include <QString>

#include <optional>

namespace packs {

// The planner matches curves as the analysis measures them.
using analysis::Curve;
using analysis::CurveDistance;
using analysis::CurvePoint;

// One cell the plan may use.
struct PoolCell {
    QString label;
    double capacity = 0.0; // mAh, the latest
    Curve curve; // the latest curve; empty when none is known
};

// S in series, P in parallel, K packs.
struct PackShape {
    int series = 1; // 1 to 100
    int parallel = 1; // 1 to 50
    int packs = 1; // 1 to 20
    int cellsNeeded() const { return series * parallel * packs; }
};

constexpr int MaxSeries = 100;
constexpr int MaxParallel = 50;
constexpr int MaxPacks = 20;

bool ShapeIsValid(const PackShape &shape);
// "10S20P" or "4S" (P = 1), either case, full-width digits and letters as
// well ("２Ｓ２Ｐ"), into a shape of one pack; none when the text is not of that
// form or outside the limits.
std::optional<PackShape> ParseShape(const QString &text);
// "10S20P"
QString ShapeText(const PackShape &shape);

enum class Criterion {
    Capacity, // "容量"
    CapacityAndCurve, // "容量＋曲線"
};
QString CriterionText(Criterion criterion);

struct Group {
    QList<int> cells; // indices into the pool, largest capacity first
    double total = 0.0; // mAh
};

struct Pack {
    QList<Group> groups; // S groups, largest total first
};

struct PlanFigures {
    // Over every pack: the largest max minus min of its group totals, and the
    // same in percent of that pack's mean group total. With P = 1 this is the
    // worst capacity range of a pack.
    double totalSpread = 0.0;
    double totalSpreadPercent = 0.0;
    // Standard deviation of the group totals of the pack where it is largest,
    // in percent of that pack's mean.
    double totalDeviationPercent = 0.0;
    // The largest max minus min of capacities inside one group (0 with P = 1).
    double groupRange = 0.0;
    // The largest curve distance between two cells that work side by side:
    // inside one group, or inside one pack when P = 1. None when no such pair
    // has one.
    std::optional<double> curveDistance;
    int leftOver = 0; // pool cells the plan does not use
};

struct Plan {
    PackShape shape;
    Criterion criterion = Criterion::Capacity;
    QList<Pack> packs;
    QList<int> leftOver; // indices into the pool
    PlanFigures figures;
};

struct PlanResult {
    std::optional<Plan> plan;
    QString error; // set when there is no plan
};

// "セルが足りません（必要 n、候補 m）"
QString NotEnoughCellsText(int needed, int candidates);

// The plan for the pool. Deterministic: the same pool in the same order gives
// the same plan.
PlanResult MakePlan(const QList<PoolCell> &pool, const PackShape &shape, Criterion criterion);

// The figures of packs made of pool cells, as MakePlan fills them; cells of
// the pool in no pack are left over.
PlanFigures FiguresOf(const QList<PoolCell> &pool, const QList<Pack> &packs, int parallel);

// For the benchmark and the tests: the smallest worst range K disjoint sets of
// S cells can have, by a dynamic programme independent of the planner's own
// search. Capacities need not be sorted.
double OptimalWorstRange(QList<double> capacities, int series, int packs);

} // namespace packs
