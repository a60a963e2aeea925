#pragma once
// Pools of cells for the planner's tests.
#include "packs/PackPlan.h"

#include <QList>

#include <random>

// Cells "C-001"... with capacities drawn from a normal distribution.
inline QList<packs::PoolCell> NormalPool(int count, unsigned seed, double mean = 2500.0, double sd = 100.0)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> capacity(mean, sd);
    QList<packs::PoolCell> pool;
    for (int i = 0; i < count; ++i) {
        packs::PoolCell c;
        c.label = QStringLiteral("C-%1").arg(i + 1, 3, 10, QLatin1Char('0'));
        c.capacity = capacity(random);
        pool.append(c);
    }
    return pool;
}

// A curve falling through 1.30, 1.20 and 1.10 V at 10, 30 and 50 minutes,
// shifted by shift minutes: two such curves lie |shift1 - shift2| apart.
inline analysis::Curve ShiftedCurve(double shift)
{
    return {{1100, 50 + shift}, {1200, 30 + shift}, {1300, 10 + shift}};
}
