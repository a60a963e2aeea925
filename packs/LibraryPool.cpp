#include "packs/LibraryPool.h"

#include "library/Library.h"

namespace packs {

namespace {
const QString GoodKey = QStringLiteral("grade.good");
const QString FairKey = QStringLiteral("grade.fair");
} // namespace

GradeLimits ReadGradeLimits(const library::Library &lib)
{
    const GradeLimits defaults;
    bool goodOk = false, fairOk = false;
    GradeLimits limits;
    limits.good = lib.setting(GoodKey, QString::number(defaults.good)).toDouble(&goodOk);
    limits.fair = lib.setting(FairKey, QString::number(defaults.fair)).toDouble(&fairOk);
    if (!goodOk || !fairOk || !library::LimitsAreValid(limits))
        return defaults;
    return limits;
}

void WriteGradeLimits(library::Library &lib, const GradeLimits &limits)
{
    if (!library::LimitsAreValid(limits))
        throw library::LibraryError(QStringLiteral("判定の基準が正しくありません（良 %1、可 %2）")
                                        .arg(QString::number(limits.good), QString::number(limits.fair)));
    lib.setSetting(GoodKey, QString::number(limits.good, 'g', 17));
    lib.setSetting(FairKey, QString::number(limits.fair, 'g', 17));
}

Grade GradeOfCell(const library::CellSummary &cell, const GradeLimits &limits)
{
    if (!cell.hasHealth())
        return Grade::None;
    return library::GradeOf(cell.healthPercent(), limits);
}

LibraryPool PoolOf(const QList<library::CellSummary> &cells, const GradeLimits &limits, std::optional<Grade> grade)
{
    LibraryPool pool;
    for (const library::CellSummary &s : cells) {
        if (s.info.state != library::CellState::InUse || s.runCount < 1)
            continue;
        if (grade && GradeOfCell(s, limits) != *grade)
            continue;
        PoolCell c;
        c.label = s.info.label;
        c.capacity = s.latestMah;
        pool.cells.append(c);
        pool.cellIds.append(s.info.id);
    }
    return pool;
}

void AddLatestCurves(const library::Library &lib, LibraryPool &pool)
{
    for (qsizetype i = 0; i < pool.cells.size(); ++i) {
        const QList<library::RunTable> latest = lib.recentRunsOf(pool.cellIds.at(i), 1);
        if (latest.isEmpty())
            continue;
        const library::RunTable &run = latest.first();
        for (int bay = 0; bay < library::BayCount; ++bay) {
            if (run.bays[bay].cellId != pool.cellIds.at(i))
                continue;
            analysis::TDischargeTable table;
            table.rows = run.rows;
            table.rowCount = qint32(run.rows.size());
            try {
                pool.cells[i].curve = CurveOf(analysis::ConvertTable(table), bay, run.parameters.Htime);
            } catch (const analysis::VoltageFormatError &) {
                // A table the library could not figure has no curve to match.
            }
            break;
        }
    }
}

QList<CurveNeighbour> CurveNeighbours(const library::Library &lib, qint64 referenceCellId)
{
    LibraryPool all;
    QStringList labels;
    for (const library::CellSummary &s : lib.cellSummaries()) {
        if (s.runCount < 1)
            continue;
        PoolCell c;
        c.label = s.info.label;
        all.cells.append(c);
        all.cellIds.append(s.info.id);
    }
    AddLatestCurves(lib, all);
    const qsizetype self = all.cellIds.indexOf(referenceCellId);
    if (self < 0 || all.cells.at(self).curve.isEmpty())
        return {};
    const Curve &reference = all.cells.at(self).curve;
    QList<std::pair<CurveNeighbour, QString>> found;
    for (qsizetype i = 0; i < all.cells.size(); ++i) {
        CurveNeighbour n;
        n.cellId = all.cellIds.at(i);
        n.minutes = i == self ? std::optional<double>(0.0) : CurveDistance(reference, all.cells.at(i).curve);
        found.append({n, all.cells.at(i).label});
    }
    std::stable_sort(found.begin(), found.end(), [self, &all](const auto &a, const auto &b) {
        // The reference leads even when another curve lies at 0 from it.
        const bool aSelf = a.first.cellId == all.cellIds.at(self), bSelf = b.first.cellId == all.cellIds.at(self);
        if (aSelf != bSelf)
            return aSelf;
        if (a.first.minutes.has_value() != b.first.minutes.has_value())
            return a.first.minutes.has_value();
        if (a.first.minutes && *a.first.minutes != *b.first.minutes)
            return *a.first.minutes < *b.first.minutes;
        return a.second < b.second;
    });
    QList<CurveNeighbour> out;
    for (const auto &f : found)
        out.append(f.first);
    return out;
}

void RecordBuiltIn(library::Library &lib, const QList<qint64> &cellIds, const QString &name)
{
    const QString pack = name.trimmed();
    if (pack.isEmpty())
        throw library::LibraryError(QStringLiteral("パックの名前がありません"));
    // Every cell is read first, so a cell that has gone, or that another
    // window has meanwhile retired or built in elsewhere, leaves none recorded
    // and no earlier record is written over.
    QList<library::CellInfo> infos;
    for (qint64 id : cellIds) {
        infos.append(lib.cell(id));
        if (infos.last().state != library::CellState::InUse)
            throw library::LibraryError(
                QStringLiteral("セル %1 は%2です")
                    .arg(infos.last().label, library::CellStateText(infos.last().state, infos.last().pack)));
    }
    for (library::CellInfo &info : infos) {
        info.state = library::CellState::BuiltIn;
        info.pack = pack;
        lib.updateCell(info);
    }
}

void UndoBuiltIn(library::Library &lib, qint64 cellId)
{
    library::CellInfo info = lib.cell(cellId);
    if (info.state != library::CellState::BuiltIn)
        return;
    info.state = library::CellState::InUse;
    // Empty, not null: the library stores no NULL for a pack's name.
    info.pack = QStringLiteral("");
    lib.updateCell(info);
}

} // namespace packs
