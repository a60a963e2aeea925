#include "library/FigureTable.h"
#include "library/Sql.h"

namespace library::figuretable {

using namespace sql;

namespace {

// Dates are stored as ISO text: they sort as text and read the same everywhere.
QString DateText(const QDate &d)
{
    return d.toString(Qt::ISODate);
}

QVariant Value(FigureKind kind, FigureKind wanted, double v)
{
    return NullableDouble(kind == wanted, v);
}

} // namespace

QList<Measurement> Read(const QSqlDatabase &db, qint64 cellId)
{
    QSqlQuery q = Prepare(db,
        QStringLiteral("SELECT id, measured_on, kind, resistance_mohm, charged_v, rested_v, rest_days "
                       "FROM measurements WHERE cell_id = ? ORDER BY measured_on DESC, id DESC"));
    q.addBindValue(cellId);
    Exec(q);
    QList<Measurement> out;
    while (q.next()) {
        Measurement m;
        m.id = q.value(0).toLongLong();
        m.cellId = cellId;
        m.date = QDate::fromString(q.value(1).toString(), Qt::ISODate);
        m.kind
            = q.value(2).toInt() == int(FigureKind::SelfDischarge) ? FigureKind::SelfDischarge : FigureKind::Resistance;
        m.resistanceMilliohm = q.value(3).toDouble();
        m.chargedVolts = q.value(4).toDouble();
        m.restedVolts = q.value(5).toDouble();
        m.restDays = q.value(6).toInt();
        out.append(m);
    }
    return out;
}

qint64 Add(const QSqlDatabase &db, const Measurement &m)
{
    const QString problem = MeasurementProblem(m);
    if (!problem.isEmpty())
        throw LibraryError(problem);
    QSqlQuery q = Prepare(db,
        QStringLiteral("INSERT INTO measurements(cell_id, measured_on, kind, resistance_mohm, charged_v, rested_v, "
                       "rest_days) VALUES (?, ?, ?, ?, ?, ?, ?) RETURNING id"));
    const bool sd = m.kind == FigureKind::SelfDischarge;
    q.addBindValue(m.cellId);
    q.addBindValue(DateText(m.date));
    q.addBindValue(int(m.kind));
    q.addBindValue(Value(m.kind, FigureKind::Resistance, m.resistanceMilliohm));
    q.addBindValue(Value(m.kind, FigureKind::SelfDischarge, m.chargedVolts));
    q.addBindValue(Value(m.kind, FigureKind::SelfDischarge, m.restedVolts));
    q.addBindValue(sd ? QVariant(m.restDays) : QVariant(QMetaType(QMetaType::Int)));
    Exec(q);
    if (!q.next())
        Fail(q.lastError());
    const qint64 id = q.value(0).toLongLong();
    q.finish();
    return id;
}

bool IsStored(const QSqlDatabase &db, const Measurement &m)
{
    const bool sd = m.kind == FigureKind::SelfDischarge;
    QSqlQuery q = Prepare(db,
        sd ? QStringLiteral("SELECT 1 FROM measurements WHERE cell_id = ? AND measured_on = ? AND kind = ? "
                            "AND charged_v = ? AND rested_v = ? AND rest_days = ?")
           : QStringLiteral("SELECT 1 FROM measurements WHERE cell_id = ? AND measured_on = ? AND kind = ? "
                            "AND resistance_mohm = ?"));
    q.addBindValue(m.cellId);
    q.addBindValue(DateText(m.date));
    q.addBindValue(int(m.kind));
    if (sd) {
        q.addBindValue(m.chargedVolts);
        q.addBindValue(m.restedVolts);
        q.addBindValue(m.restDays);
    } else {
        q.addBindValue(m.resistanceMilliohm);
    }
    Exec(q);
    return q.next();
}

void Remove(const QSqlDatabase &db, qint64 id)
{
    QSqlQuery q = Prepare(db, QStringLiteral("DELETE FROM measurements WHERE id = ?"));
    q.addBindValue(id);
    Exec(q);
    if (q.numRowsAffected() != 1)
        throw LibraryError(QStringLiteral("測定 %1 はありません").arg(id));
}

Latest ReadLatest(const QSqlDatabase &db)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // The latest of each cell and kind: the newest date, the later stored within it.
    if (!q.exec(QStringLiteral(
            "SELECT m.cell_id, m.kind, m.resistance_mohm, m.charged_v, m.rested_v, m.rest_days FROM measurements m "
            "WHERE m.id = (SELECT l.id FROM measurements l WHERE l.cell_id = m.cell_id AND l.kind = m.kind "
            "ORDER BY l.measured_on DESC, l.id DESC LIMIT 1)")))
        Fail(q.lastError());
    Latest out;
    while (q.next()) {
        const qint64 cell = q.value(0).toLongLong();
        if (q.value(1).toInt() == int(FigureKind::Resistance)) {
            out.resistance.insert(cell, q.value(2).toDouble());
        } else {
            Measurement m;
            m.kind = FigureKind::SelfDischarge;
            m.chargedVolts = q.value(3).toDouble();
            m.restedVolts = q.value(4).toDouble();
            m.restDays = q.value(5).toInt();
            out.selfDischarge.insert(cell, m.dropMvPerDay());
        }
    }
    return out;
}

} // namespace library::figuretable
