// The pack planner on seeded pools drawn from a normal distribution (mean
// 2,500 mAh, standard deviation 100 mAh): the spread of group totals of
// series-of-parallel packs, and the worst range of series strings beside the
// optimum that a dynamic programme finds, each with its time.
#include "bench/BenchTiming.h"
#include "packs/PackPlan.h"

#include <cstdio>
#include <random>

namespace {

QList<packs::PoolCell> normalPool(int count, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> capacity(2500.0, 100.0);
    QList<packs::PoolCell> pool;
    for (int i = 0; i < count; ++i) {
        packs::PoolCell c;
        c.label = QStringLiteral("C-%1").arg(i + 1);
        c.capacity = capacity(random);
        // Curves a few minutes apart, so the curve criterion has work to do.
        const double shift = (capacity(random) - 2500.0) / 20.0;
        c.curve = {{1000, 150 + shift}, {1100, 120 + shift * 0.8}, {1200, 60 + shift * 0.5}, {1300, 5 + shift * 0.1}};
        pool.append(c);
    }
    return pool;
}

void groups(const char *name, int series, int parallel, int poolSize, packs::Criterion criterion)
{
    packs::PackShape shape;
    shape.series = series;
    shape.parallel = parallel;
    const auto pool = normalPool(poolSize, 2026);
    packs::PlanResult r;
    const double ms = medianMs(5, [&] { r = packs::MakePlan(pool, shape, criterion); });
    const packs::PlanFigures &f = r.plan->figures;
    std::printf("%-26s %-10s from %4d cells: group totals sd %.4f %%, max-min %.2f mAh = %.4f %% (target < 0.05 %% on "
                "capacity alone; the curves may use up to 0.1 %%),"
                " curve distance %.1f min  %8.2f ms (target < 1000)\n",
        name, qPrintable(packs::CriterionText(criterion)), poolSize, f.totalDeviationPercent, f.totalSpread,
        f.totalSpreadPercent, f.curveDistance.value_or(-1), ms);
}

void strings(const char *name, int series, int packCount, int poolSize, packs::Criterion criterion)
{
    packs::PackShape shape;
    shape.series = series;
    shape.packs = packCount;
    const auto pool = normalPool(poolSize, 2026);
    QList<double> capacities;
    for (const auto &c : pool)
        capacities.append(c.capacity);
    packs::PlanResult r;
    const double ms = medianMs(5, [&] { r = packs::MakePlan(pool, shape, criterion); });
    double exact = 0;
    const double exactMs = medianMs(5, [&] { exact = packs::OptimalWorstRange(capacities, series, packCount); });
    std::printf("%-26s %-10s from %4d cells: worst range %.3f mAh, exact optimum %.3f mAh (%.3f ms),"
                " curve distance %.1f min  %8.2f ms (target < 1000)\n",
        name, qPrintable(packs::CriterionText(criterion)), poolSize, r.plan->figures.totalSpread, exact, exactMs,
        r.plan->figures.curveDistance.value_or(-1), ms);
}

} // namespace

int main()
{
    for (const auto criterion : {packs::Criterion::Capacity, packs::Criterion::CapacityAndCurve}) {
        groups("10S20P", 10, 20, 250, criterion);
        groups("14S10P", 14, 10, 500, criterion);
        strings("12S1P x 5 packs", 12, 5, 100, criterion);
    }
    return 0;
}
