#include "analysis/CurveDistance.h"

#include "analysis/Capacity.h"

#include <algorithm>
#include <cmath>

namespace analysis {

Curve CurveOf(const QList<TableRow> &rows, int bay, qint32 htime)
{
    Curve curve;
    if (bay < 0 || bay > 3)
        return curve;
    const double minutesPerCount = 60.0 / CountsPerHour(htime);
    for (const TableRow &row : rows) {
        if (bay >= row.cellCount || !std::isfinite(row.voltage))
            continue;
        CurvePoint p;
        p.millivolts = int(std::lround(row.voltage * 1000.0));
        p.minutes = row.times[bay] * minutesPerCount;
        curve.append(p);
    }
    // Stable, so the first of equal levels stays in front and survives unique.
    std::stable_sort(curve.begin(), curve.end(),
        [](const CurvePoint &x, const CurvePoint &y) { return x.millivolts < y.millivolts; });
    curve.erase(std::unique(curve.begin(), curve.end(),
                    [](const CurvePoint &x, const CurvePoint &y) { return x.millivolts == y.millivolts; }),
        curve.end());
    return curve;
}

std::optional<double> CurveDistance(const Curve &a, const Curve &b)
{
    int shared = 0;
    double largest = 0.0;
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).millivolts < b.at(j).millivolts) {
            ++i;
        } else if (b.at(j).millivolts < a.at(i).millivolts) {
            ++j;
        } else {
            largest = std::max(largest, std::fabs(a.at(i).minutes - b.at(j).minutes));
            ++shared;
            ++i;
            ++j;
        }
    }
    if (shared < 2)
        return std::nullopt;
    return largest;
}

} // namespace analysis
