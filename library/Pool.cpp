#include "library/Pool.h"
#include "analysis/DischargeTable.h"

namespace library {

Grade GradeOfCell(const CellSummary &cell, const GradeLimits &limits)
{
    if (!cell.hasHealth())
        return Grade::None;
    const auto known = [](bool has, double v) { return has ? std::optional<double>(v) : std::nullopt; };
    return GradeWithFigures(GradeOf(cell.healthPercent(), limits), known(cell.hasResistance, cell.resistanceMilliohm),
        known(cell.hasSelfDischarge, cell.selfDischargeMvPerDay), limits);
}

QList<PoolCandidate> PoolOf(const QList<CellSummary> &cells, const GradeLimits &limits, const PoolRequest &request)
{
    QList<PoolCandidate> pool;
    for (const CellSummary &s : cells) {
        if (s.info.state == CellState::Retired || s.runCount < 1)
            continue;
        if (request.grade && GradeOfCell(s, limits) != *request.grade)
            continue;
        if (request.onlyCells && !request.onlyCells->contains(s.info.id))
            continue;
        PoolCandidate c;
        c.cellId = s.info.id;
        c.label = s.info.label;
        c.capacity = s.latestMah;
        c.builtIn = s.info.state == CellState::BuiltIn;
        if (s.hasResistance) {
            c.resistanceMilliohm = s.resistanceMilliohm;
            c.aboveResistance = request.maxResistance && s.resistanceMilliohm > *request.maxResistance;
        }
        pool.append(c);
    }
    return pool;
}

analysis::Curve BayCurve(const RunTable &run, int bay)
{
    analysis::TDischargeTable table;
    table.rows = run.rows;
    table.rowCount = qint32(run.rows.size());
    try {
        return analysis::CurveOf(analysis::ConvertTable(table), bay - 1, run.parameters.Htime);
    } catch (const analysis::VoltageFormatError &) {
        // A table the library could not figure has no curve to match.
        return {};
    }
}

} // namespace library
