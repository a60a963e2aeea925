// The pack planner on seeded pools drawn from a normal distribution (mean
// 2,500 mAh, standard deviation 100 mAh), for both aims and both criteria:
// the pack capacity (the weakest group's total) beside the bound no plan can
// beat, the spread of group totals (with P = 1 the worst range inside a
// pack), the curve distance and the time; then what the capacity aim gains
// over the closest cells. Strings also show the exact optimum of the worst
// range that a dynamic programme finds.
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

struct Case {
    const char *name;
    int series, parallel, packs, poolSize;
};

// The plan's pack capacity, after printing its figures.
double report(const Case &c, const QList<packs::PoolCell> &pool, packs::Aim aim, packs::Criterion criterion)
{
    packs::PackShape shape;
    shape.series = c.series;
    shape.parallel = c.parallel;
    shape.packs = c.packs;
    packs::PlanResult r;
    const double ms = medianMs(5, [&] { r = packs::MakePlan(pool, shape, criterion, aim); });
    const packs::PlanFigures &f = r.plan->figures;
    std::printf("%-16s from %4d  %-8s %-10s pack capacity %10.3f mAh, bound %10.3f mAh, gap %.5f %%;"
                " %s %.3f mAh = %.5f %%; curve distance %4.1f min  %8.2f ms (target < 1000)\n",
        c.name, c.poolSize, qPrintable(packs::AimText(aim)), qPrintable(packs::CriterionText(criterion)),
        f.packCapacity, f.capacityBound, f.boundGapPercent, c.parallel > 1 ? "spread" : "worst range in a pack",
        f.totalSpread, f.totalSpreadPercent, f.curveDistance.value_or(-1), ms);
    return f.packCapacity;
}

} // namespace

int main()
{
    const Case cases[] = {
        {"10S20P", 10, 20, 1, 250},
        {"10S20P", 10, 20, 1, 300},
        {"14S10P", 14, 10, 1, 500},
        {"100S50P", 100, 50, 1, 5000},
        {"12S1P x 5 packs", 12, 1, 5, 100},
    };
    for (const auto criterion : {packs::Criterion::Capacity, packs::Criterion::CapacityAndCurve}) {
        for (const Case &c : cases) {
            const auto pool = normalPool(c.poolSize, 2026);
            const double strong = report(c, pool, packs::Aim::Capacity, criterion);
            const double even = report(c, pool, packs::Aim::Even, criterion);
            std::printf("%-16s from %4d  %s over %s: pack capacity %+.3f %%\n", c.name, c.poolSize,
                qPrintable(packs::AimText(packs::Aim::Capacity)), qPrintable(packs::AimText(packs::Aim::Even)),
                (strong - even) / even * 100.0);
            if (c.parallel == 1) {
                QList<double> capacities;
                for (const auto &cell : pool)
                    capacities.append(cell.capacity);
                double exact = 0;
                const double ms = medianMs(5, [&] { exact = packs::OptimalWorstRange(capacities, c.series, c.packs); });
                std::printf("%-16s from %4d  exact optimum of the worst range of any %d packs: %.3f mAh (%.3f ms)\n",
                    c.name, c.poolSize, c.packs, exact, ms);
            }
        }
    }
    return 0;
}
