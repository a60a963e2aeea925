#include "library/Schema.h"
#include "library/Sql.h"

namespace library::schema {

using namespace sql;

namespace {

// The statement the triggers run to bring one cell's figures up to date;
// row is NEW or OLD, the run_bays row whose cell changed.
QString RefreshStats(const char *row)
{
    return QStringLiteral(
        "INSERT OR REPLACE INTO cell_stats SELECT c.id, "
        "(SELECT count(*) FROM run_bays WHERE cell_id = c.id), "
        "(SELECT max(capacity) FROM run_bays WHERE cell_id = c.id), "
        "(SELECT capacity FROM run_bays WHERE cell_id = c.id ORDER BY recorded_at DESC, run_id DESC LIMIT 1), "
        "(SELECT mean_voltage FROM run_bays WHERE cell_id = c.id ORDER BY recorded_at DESC, run_id DESC LIMIT 1), "
        "(SELECT recorded_at FROM run_bays WHERE cell_id = c.id ORDER BY recorded_at DESC, run_id DESC LIMIT 1), "
        "(SELECT capacity FROM run_bays WHERE cell_id = c.id ORDER BY recorded_at, run_id LIMIT 1) "
        "FROM cells c WHERE c.id = %1.cell_id;")
        .arg(QLatin1String(row));
}

qint64 Pragma(const QSqlDatabase &db, const char *name)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA ") + QLatin1String(name)) || !q.next())
        Fail(q.lastError());
    return q.value(0).toLongLong();
}

} // namespace

const QStringList &MigrationStep(int from)
{
    static const QList<QStringList> steps{
        {
            QStringLiteral("CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL)"),
            QStringLiteral("CREATE TABLE cells("
                           "id INTEGER PRIMARY KEY,"
                           "label TEXT NOT NULL UNIQUE CHECK(label <> '' AND label = trim(label)),"
                           "model TEXT NOT NULL DEFAULT '',"
                           "nominal_mah REAL,"
                           "memo TEXT NOT NULL DEFAULT '',"
                           "state INTEGER NOT NULL DEFAULT 0 CHECK(state BETWEEN 0 AND 2),"
                           "pack TEXT NOT NULL DEFAULT '')"),
            QStringLiteral("CREATE TABLE runs("
                           "id INTEGER PRIMARY KEY,"
                           "recorded_at INTEGER NOT NULL,"
                           "source TEXT NOT NULL,"
                           "rows BLOB NOT NULL,"
                           "row_key BLOB NOT NULL UNIQUE,"
                           "htime INTEGER NOT NULL,"
                           "hteiko INTEGER NOT NULL,"
                           "hvds INTEGER NOT NULL)"),
            QStringLiteral("CREATE TABLE run_bays("
                           "run_id INTEGER NOT NULL REFERENCES runs(id) ON DELETE CASCADE,"
                           "bay INTEGER NOT NULL CHECK(bay BETWEEN 1 AND 4),"
                           "recorded_at INTEGER NOT NULL,"
                           "cell_id INTEGER REFERENCES cells(id) ON DELETE SET NULL,"
                           "capacity REAL NOT NULL,"
                           "mean_voltage REAL,"
                           "last_time INTEGER NOT NULL,"
                           "PRIMARY KEY(run_id, bay)) WITHOUT ROWID"),
            // A cell's runs in time order with their figures, read without the
            // tables themselves: the cells' summaries and histories come from it.
            QStringLiteral("CREATE INDEX run_bays_history "
                           "ON run_bays(cell_id, recorded_at, run_id, capacity, mean_voltage)"),
            QStringLiteral("CREATE INDEX runs_time ON runs(recorded_at)"),
            // Each cell's figures over its runs, kept by the database itself
            // whatever changes a bay, so the cells' list is read at once.
            QStringLiteral("CREATE TABLE cell_stats("
                           "cell_id INTEGER PRIMARY KEY,"
                           "n INTEGER NOT NULL, max_mah REAL, latest_mah REAL, latest_mv REAL, latest_at INTEGER,"
                           "first_mah REAL)"),
            // (A cell that is gone or a bay without a cell gives no row.)
            QStringLiteral("CREATE TRIGGER run_bays_added AFTER INSERT ON run_bays BEGIN ") + RefreshStats("NEW")
                + QStringLiteral("END"),
            QStringLiteral("CREATE TRIGGER run_bays_removed AFTER DELETE ON run_bays BEGIN ") + RefreshStats("OLD")
                + QStringLiteral("END"),
            QStringLiteral("CREATE TRIGGER run_bays_changed AFTER UPDATE ON run_bays BEGIN ") + RefreshStats("OLD")
                + RefreshStats("NEW") + QStringLiteral("END"),
            QStringLiteral("CREATE TRIGGER cells_removed AFTER DELETE ON cells BEGIN "
                           "DELETE FROM cell_stats WHERE cell_id = OLD.id; END"),
        },
        // 1 -> 2: the figures of other meters. Plain statements only (no
        // trigger, no WITHOUT ROWID), so they read the same to another database.
        {
            QStringLiteral("CREATE TABLE measurements("
                           "id INTEGER PRIMARY KEY,"
                           "cell_id INTEGER NOT NULL REFERENCES cells(id) ON DELETE CASCADE,"
                           "measured_on TEXT NOT NULL,"
                           "kind INTEGER NOT NULL CHECK(kind IN (0, 1)),"
                           "resistance_mohm REAL,"
                           "charged_v REAL,"
                           "rested_v REAL,"
                           "rest_days INTEGER,"
                           "CHECK(kind <> 0 OR resistance_mohm IS NOT NULL),"
                           "CHECK(kind <> 1 OR (charged_v IS NOT NULL AND rested_v IS NOT NULL "
                           "AND rest_days IS NOT NULL)))"),
            // A cell's figures by kind and date: its list and its latest of each kind.
            QStringLiteral("CREATE INDEX measurements_cell ON measurements(cell_id, kind, measured_on, id)"),
        },
    };
    static_assert(SchemaVersion == 2, "one migration step per schema version");
    return steps.at(from);
}

bool IsCurrent(const QSqlDatabase &db)
{
    return Pragma(db, "user_version") == SchemaVersion && Pragma(db, "application_id") == ApplicationId;
}

void Migrate(const QSqlDatabase &db, const QString &display)
{
    Write(db, [&] {
        const int version = int(Pragma(db, "user_version"));
        const qint64 appId = Pragma(db, "application_id");
        if (appId != 0 && appId != ApplicationId)
            throw LibraryError(QStringLiteral("%1 は VOLTRAK のセル台帳ではありません").arg(display));
        if (version > SchemaVersion)
            throw LibraryError(
                QStringLiteral("%1 はこの版より新しい VOLTRAK のセル台帳です（版 %2）").arg(display).arg(version));
        for (int v = version; v < SchemaVersion; ++v) {
            for (const QString &sql : MigrationStep(v))
                ExecText(db, sql);
        }
        if (version < SchemaVersion || appId == 0) {
            ExecText(db, QStringLiteral("PRAGMA application_id = %1").arg(ApplicationId));
            ExecText(db, QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion));
        }
    });
}

} // namespace library::schema
