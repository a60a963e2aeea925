#pragma once
// The one pack plan from the cell library that both the window "組電池の設計"
// and the command line's --pack make: what is asked, the cells the library
// offers for it, the plan. And the planner's own thread, so that a window
// never waits for a large plan and the library's worker never waits for one.
#include "core/Mailbox.h"
#include "core/WorkerThread.h"
#include "library/Grade.h"
#include "library/Pool.h"
#include "packs/PackPlan.h"

#include <QList>
#include <QObject>

#include <functional>
#include <optional>

namespace packs {

struct PlanRequest {
    PackShape shape;
    Criterion criterion = Criterion::Capacity;
    Aim aim = Aim::Capacity;
    std::optional<library::Grade> grade; // only cells of this grade
    std::optional<QList<qint64>> onlyCells; // only these cells (what a filtered list shows)
    std::optional<double> maxResistance; // not the cells above this internal resistance (mΩ)

    // What to ask the library for.
    library::PoolRequest pool() const;
};

struct LibraryPlan {
    QList<PoolCell> pool; // the candidates as the planner saw them
    QList<qint64> cellIds; // the library's id of each pool cell, same order
    int builtIn = 0; // cells the request would have taken but for being built into a pack
    int aboveResistance = 0; // cells it would have taken but for their internal resistance
    PlanResult result;
};

// The plan for the request from the candidates the library gave for request.pool().
LibraryPlan PlanFromLibrary(const QList<library::PoolCandidate> &candidates, const PlanRequest &request);

// Plans on a thread of its own, one after another; the answer on this
// object's thread, unless context has gone by then.
class Planner : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    void plan(const QList<library::PoolCandidate> &candidates, const PlanRequest &request, QObject *context,
        std::function<void(const LibraryPlan &)> done);
    void waitForIdle() { m_thread.waitForIdle(); }

private:
    Mailbox m_mailbox{this}; // the plans to this object's thread
    WorkerThread m_thread; // last: it ends first
};

} // namespace packs
