#pragma once
// Packs built from a pool of measured cells, series strings of single cells or
// series of parallel groups: the strongest packs the pool allows, or packs of
// the cells closest together; then groups whose totals are as equal as the
// cells allow, optionally also matched on the discharge curve. No widgets.
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
    std::optional<double> resistanceMilliohm; // internal resistance; none when not measured
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

// What a plan puts first.
enum class Aim {
    Capacity, // "容量優先": the strongest packs the pool allows, then the most even
    Even, // "揃い優先": the cells closest together, then the most even
};
QString AimText(Aim aim);
// "capacity" or "even" in any case (as --aim takes them), or the texts; none
// for any other.
std::optional<Aim> ParseAim(const QString &text);

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
    // The weakest group total of each pack ("パック容量"), and the least of
    // them.
    QList<double> packCapacities;
    double packCapacity = 0.0;
    // "上限": the S x P strongest candidates of the pool over S groups, which
    // no pack's weakest group can beat; and how far packCapacity lies below
    // it, in percent of it.
    double capacityBound = 0.0;
    double boundGapPercent = 0.0;
    // The largest internal-resistance difference between two cells side by
    // side, as curveDistance; none when no such pair has both resistances.
    std::optional<double> resistanceDifference;
};

struct Plan {
    PackShape shape;
    Criterion criterion = Criterion::Capacity;
    Aim aim = Aim::Capacity;
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
// the same plan. A pack's capacity is its weakest group's total.
//
// Aim::Capacity: the largest capacity of the weakest pack, from any choice of
// cells; among plans within 0.05 % of it, the smallest spread of all group
// totals (with P = 1: the strongest cells, then the smallest worst range
// inside a pack); with the curve criterion, then the smallest curve distance
// inside groups (packs with P = 1) whose spread stays within the allowance
// the Even aim gives the curves. With P = 1 capacity and range are always
// the best there are, the curves too for small pools; with P > 1 the plan is
// the best of every choice and grouping of the cells for pools of up to 24
// candidates and a few million plans (every pool of up to 14 cells), above
// that the strongest cells dealt out and then exchanged between groups and
// with the spare cells while that helps.
//
// Aim::Even: the cells whose capacities lie closest together (the narrowest
// run of the sorted pool, or K such runs with P = 1), then the groups made as
// even as those cells allow.
PlanResult MakePlan(const QList<PoolCell> &pool, const PackShape &shape, Criterion criterion, Aim aim = Aim::Capacity);

// The figures of packs made of pool cells, as MakePlan fills them; cells of
// the pool in no pack are left over.
PlanFigures FiguresOf(const QList<PoolCell> &pool, const QList<Pack> &packs, int parallel);

// For the benchmark and the tests: the smallest worst range K disjoint sets of
// S cells can have, by a dynamic programme independent of the planner's own
// search. Capacities need not be sorted.
double OptimalWorstRange(QList<double> capacities, int series, int packs);

} // namespace packs
