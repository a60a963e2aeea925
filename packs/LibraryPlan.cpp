#include "packs/LibraryPlan.h"

#include <QPointer>

#include <memory>

namespace packs {

library::PoolRequest PlanRequest::pool() const
{
    library::PoolRequest r;
    r.grade = grade;
    r.onlyCells = onlyCells;
    r.maxResistance = maxResistance;
    return r;
}

LibraryPlan PlanFromLibrary(const QList<library::PoolCandidate> &candidates, const PlanRequest &request)
{
    LibraryPlan out;
    for (const library::PoolCandidate &c : candidates) {
        if (c.builtIn) {
            ++out.builtIn;
            continue;
        }
        if (c.aboveResistance) {
            ++out.aboveResistance;
            continue;
        }
        PoolCell cell;
        cell.label = c.label;
        cell.capacity = c.capacity;
        cell.curve = c.curve;
        cell.resistanceMilliohm = c.resistanceMilliohm;
        out.pool.append(std::move(cell));
        out.cellIds.append(c.cellId);
    }
    out.result = MakePlan(out.pool, request.shape, request.criterion, request.aim);
    // "候補 3" alone does not tell that the other cells are in packs.
    if (!out.result.plan && out.builtIn > 0)
        out.result.error += QStringLiteral("（ほかに組込み済み %1）").arg(out.builtIn);
    if (!out.result.plan && out.aboveResistance > 0)
        out.result.error += QStringLiteral("（ほかに内部抵抗が上限を超えるもの %1）").arg(out.aboveResistance);
    return out;
}

void Planner::plan(const QList<library::PoolCandidate> &candidates, const PlanRequest &request, QObject *context,
    std::function<void(const LibraryPlan &)> done)
{
    QPointer<QObject> guard(context);
    m_thread.post([this, candidates, request, guard, done = std::move(done)] {
        auto plan = std::make_shared<LibraryPlan>(PlanFromLibrary(candidates, request));
        m_mailbox.post([guard, done, plan] {
            if (guard && done)
                done(*plan);
        });
    });
}

} // namespace packs
