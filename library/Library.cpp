#include "library/Library.h"
#include "analysis/DischargeTable.h"
#include "cells/CellList.h"
#include "core/FileReason.h"
#include "core/LogFile.h"
#include "core/SafeWrite.h"
#include "core/SjisText.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <cerrno>
#include <chrono>

namespace library {

QString CannotOpenTitle()
{
    return QStringLiteral("セル台帳を開けません");
}

namespace {

std::atomic<int> g_connections{0};

// Another process holds the file longer than the busy time-out: the whole
// transaction is tried again.
class BusyError : public LibraryError
{
public:
    using LibraryError::LibraryError;
};

// A table that cannot be stored (a voltage that is not a number, no rows);
// an import leaves it out and goes on with the file.
class TableError : public LibraryError
{
public:
    using LibraryError::LibraryError;
};

bool IsBusy(const QSqlError &e)
{
    const QString code = e.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6");
}

[[noreturn]] void Fail(const QSqlError &e)
{
    const QString text = QStringLiteral("セル台帳の操作に失敗しました: %1").arg(e.databaseText());
    if (IsBusy(e))
        throw BusyError(text);
    throw LibraryError(text);
}

void Exec(QSqlQuery &q)
{
    if (!q.exec())
        Fail(q.lastError());
}

QSqlQuery Prepare(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.prepare(sql))
        Fail(q.lastError());
    return q;
}

void ExecText(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql))
        Fail(q.lastError());
}

// Times are stored as seconds since the epoch; they sort as numbers.
qint64 ToStored(const QDateTime &t)
{
    return t.isValid() ? t.toSecsSinceEpoch() : 0;
}

QDateTime FromStored(qint64 s)
{
    return QDateTime::fromSecsSinceEpoch(s);
}

QVariant NullableDouble(bool has, double v)
{
    return has ? QVariant(v) : QVariant(QMetaType(QMetaType::Double));
}

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

// The text columns are NOT NULL; a null QString would be bound as NULL.
QVariant Text(const QString &s)
{
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}

QVariant NullableId(qint64 id)
{
    return id ? QVariant(id) : QVariant(QMetaType(QMetaType::LongLong));
}

QByteArray JoinRows(const QList<QByteArray> &rows)
{
    QByteArray out;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (i > 0)
            out += '\n';
        out += rows.at(i);
    }
    return out;
}

QList<QByteArray> SplitRows(const QByteArray &blob)
{
    return blob.isEmpty() ? QList<QByteArray>() : blob.split('\n');
}

// The figures of a table, as the cell list computes them; throws for a voltage
// that is not a number.
cells::TableFigures Figures(const QList<QByteArray> &rows, const analysis::CapacityParameters &p)
{
    analysis::TDischargeTable table;
    table.rows = rows;
    table.rowCount = qint32(rows.size());
    try {
        return cells::FiguresOf(analysis::ConvertTable(table), p);
    } catch (const analysis::VoltageFormatError &e) {
        throw TableError(QString::fromUtf8(e.what()));
    }
}

// The schema, one step per version: step i takes a file from version i to i + 1.
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
    };
    static_assert(SchemaVersion == 1, "one migration step per schema version");
    return steps.at(from);
}

QString ReadOnlyText()
{
    return QStringLiteral("セル台帳は読み取り専用です");
}

} // namespace

struct Library::Impl {
    QString name;
    int busyMs = 5000;
    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }

    // Runs fn in one write transaction, again when another process held the
    // file for longer than the busy time-out.
    template <typename Fn> auto write(Fn fn) -> decltype(fn())
    {
        // Another writer may hold the file again and again; what is to be
        // written (a captured run) is worth waiting a long time for.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (int attempt = 0;; ++attempt) {
            try {
                ExecText(db(), QStringLiteral("BEGIN IMMEDIATE"));
            } catch (const BusyError &) {
                if (std::chrono::steady_clock::now() > giveUp)
                    throw;
                QThread::msleep(20 + 10 * (attempt % 5));
                continue;
            }
            try {
                if constexpr (std::is_void_v<decltype(fn())>) {
                    fn();
                    ExecText(db(), QStringLiteral("COMMIT"));
                    return;
                } else {
                    auto result = fn();
                    ExecText(db(), QStringLiteral("COMMIT"));
                    return result;
                }
            } catch (const BusyError &) {
                QSqlQuery(db()).exec(QStringLiteral("ROLLBACK"));
                if (std::chrono::steady_clock::now() > giveUp)
                    throw;
                QThread::msleep(20);
            } catch (...) {
                QSqlQuery(db()).exec(QStringLiteral("ROLLBACK"));
                throw;
            }
        }
    }

    // The statements a record runs, prepared once per connection: preparing
    // them for each run took a good part of an import's time.
    mutable QHash<QString, QSqlQuery> statements;
    QSqlQuery &statement(const QString &sql) const
    {
        auto it = statements.find(sql);
        if (it == statements.end()) {
            it = statements.insert(sql, Prepare(db(), sql));
        }
        return it.value();
    }

    qint64 cellIdOf(const QString &label) const
    {
        QSqlQuery &q = statement(QStringLiteral("SELECT id FROM cells WHERE label = ?"));
        q.bindValue(0, label.trimmed());
        Exec(q);
        const qint64 id = q.next() ? q.value(0).toLongLong() : 0;
        q.finish();
        return id;
    }

    // Inside a write transaction.
    qint64 ensureCell(const QString &label)
    {
        const QString l = label.trimmed();
        if (l.isEmpty())
            return 0;
        if (const qint64 id = cellIdOf(l))
            return id;
        QSqlQuery &q = statement(QStringLiteral("INSERT INTO cells(label) VALUES (?)"));
        q.bindValue(0, l);
        Exec(q);
        return q.lastInsertId().toLongLong();
    }

    // Inside a write transaction.
    RecordResult record(const RunInput &run, bool fillEmptyBays)
    {
        RecordResult r;
        const QByteArray key = RowsKey(run.rows);
        QSqlQuery &find = statement(QStringLiteral("SELECT id FROM runs WHERE row_key = ?"));
        find.bindValue(0, key);
        Exec(find);
        const bool known = find.next();
        r.runId = known ? find.value(0).toLongLong() : 0;
        find.finish();
        if (known) {
            if (fillEmptyBays) {
                // Labels written in a log name bays left unassigned when it was captured.
                QSqlQuery &open
                    = statement(QStringLiteral("SELECT bay FROM run_bays WHERE run_id = ? AND cell_id IS NULL"));
                open.bindValue(0, r.runId);
                Exec(open);
                QList<int> unassigned;
                while (open.next())
                    unassigned.append(open.value(0).toInt());
                open.finish();
                for (int bay : std::as_const(unassigned)) {
                    if (bay < 1 || bay > BayCount || run.labels[bay - 1].trimmed().isEmpty())
                        continue;
                    const qint64 cell = ensureCell(run.labels[bay - 1]);
                    QSqlQuery &u
                        = statement(QStringLiteral("UPDATE run_bays SET cell_id = ? WHERE run_id = ? AND bay = ?"));
                    u.bindValue(0, cell);
                    u.bindValue(1, r.runId);
                    u.bindValue(2, bay);
                    Exec(u);
                }
            }
            return r;
        }
        if (run.rows.isEmpty())
            throw TableError(QStringLiteral("表に行がありません"));
        const cells::TableFigures f = Figures(run.rows, run.parameters);
        QSqlQuery &ins
            = statement(QStringLiteral("INSERT INTO runs(recorded_at, source, rows, row_key, htime, hteiko, hvds) "
                                       "VALUES (?, ?, ?, ?, ?, ?, ?)"));
        ins.bindValue(0, ToStored(run.when));
        ins.bindValue(1, run.source);
        ins.bindValue(2, JoinRows(run.rows));
        ins.bindValue(3, key);
        ins.bindValue(4, run.parameters.Htime);
        ins.bindValue(5, run.parameters.Hteiko);
        ins.bindValue(6, run.parameters.Hvds);
        Exec(ins);
        r.runId = ins.lastInsertId().toLongLong();
        r.isNew = true;
        for (int j = 0; j < f.cellCount && j < BayCount; ++j) {
            const qint64 cell = ensureCell(run.labels[j]);
            QSqlQuery &bay = statement(QStringLiteral(
                "INSERT INTO run_bays(run_id, bay, recorded_at, cell_id, capacity, mean_voltage, last_time) "
                "VALUES (?, ?, ?, ?, ?, ?, ?)"));
            bay.bindValue(0, r.runId);
            bay.bindValue(1, j + 1);
            bay.bindValue(2, ToStored(run.when));
            bay.bindValue(3, NullableId(cell));
            bay.bindValue(4, f.capacity[j]);
            bay.bindValue(5, NullableDouble(f.hasMeanVoltage[j], f.meanVoltage[j]));
            bay.bindValue(6, f.lastTime[j]);
            Exec(bay);
        }
        return r;
    }

    void readBays(qint64 runId, BayFigures (&bays)[BayCount]) const
    {
        QSqlQuery q = Prepare(db(),
            QStringLiteral("SELECT b.bay, b.cell_id, c.label, b.capacity, b.mean_voltage, b.last_time "
                           "FROM run_bays b LEFT JOIN cells c ON c.id = b.cell_id WHERE b.run_id = ?"));
        q.addBindValue(runId);
        Exec(q);
        while (q.next()) {
            const int b = q.value(0).toInt() - 1;
            if (b < 0 || b >= BayCount)
                continue;
            BayFigures &f = bays[b];
            f.present = true;
            f.cellId = q.value(1).toLongLong();
            f.label = q.value(2).toString();
            f.capacity = q.value(3).toDouble();
            f.hasMeanVoltage = !q.value(4).isNull();
            f.meanVoltage = q.value(4).toDouble();
            f.lastTime = q.value(5).toInt();
        }
    }
};

namespace {

// What the file is, read without writing it.
struct Inspection {
    bool ok = false;
    bool fresh = false; // no VOLTRAK schema yet (a new or empty file)
    int version = 0;
    QString reason;
};

Inspection Inspect(const QString &path)
{
    Inspection in;
    const QString display = QDir::toNativeSeparators(path);
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            in.reason = QStringLiteral("%1 を読めません（%2）").arg(display, f.errorString());
            return in;
        }
        if (f.size() == 0) {
            in.ok = in.fresh = true;
            return in;
        }
        if (f.read(16) != QByteArray("SQLite format 3\0", 16)) {
            in.reason = QStringLiteral("%1 はデータベースではないか、壊れています").arg(display);
            return in;
        }
    }
    const QString name = QStringLiteral("voltrak-inspect-%1").arg(++g_connections);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            in.reason = QStringLiteral("%1 を開けません（%2）").arg(display, db.lastError().databaseText());
        } else {
            QSqlQuery q(db);
            qint64 appId = 0, tables = 0;
            bool read = q.exec(QStringLiteral("PRAGMA application_id")) && q.next();
            if (read)
                appId = q.value(0).toLongLong();
            read = read && q.exec(QStringLiteral("PRAGMA user_version")) && q.next();
            if (read)
                in.version = q.value(0).toInt();
            read = read && q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) && q.next();
            if (read)
                tables = q.value(0).toLongLong();
            if (!read) {
                in.reason = QStringLiteral("%1 はデータベースではないか、壊れています（%2）")
                                .arg(display, q.lastError().databaseText());
            } else if (appId == 0 && tables == 0) {
                in.ok = in.fresh = true;
            } else if (appId != ApplicationId) {
                in.reason = QStringLiteral("%1 は VOLTRAK のセル台帳ではありません").arg(display);
            } else {
                in.ok = true;
            }
            q.finish();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return in;
}

} // namespace

Library::Library(const QString &path, int busyTimeoutMs)
    : d(new Impl)
    , m_path(QFileInfo(path).absoluteFilePath())
{
    d->name = QStringLiteral("voltrak-library-%1").arg(++g_connections);
    d->busyMs = busyTimeoutMs;
    const QString display = QDir::toNativeSeparators(m_path);
    const QFileInfo info(m_path);
    const QString folder = info.absolutePath();

    if (info.isDir()) {
        m_reason = QStringLiteral("%1 はフォルダです").arg(display);
        return;
    }
    if (!info.exists() && !QDir().mkpath(folder)) {
        m_reason = QStringLiteral("フォルダ %1 を作成できません").arg(QDir::toNativeSeparators(folder));
        return;
    }
    // Before the file is looked into: even reading a library needs its
    // companions beside it (-wal, -shm), which only a writable folder takes.
    if (!filereason::FolderTakesNewFiles(folder)) {
        m_reason = QStringLiteral("フォルダ %1 に書き込めません").arg(QDir::toNativeSeparators(folder));
        return;
    }
    if (info.exists() && !filereason::OpensForWriting(m_path)) {
        m_reason = QStringLiteral("%1 に書き込めません").arg(display);
        return;
    }
    Inspection in;
    if (info.exists()) {
        in = Inspect(m_path);
        if (!in.ok) {
            m_reason = in.reason;
            return;
        }
    } else {
        in.ok = in.fresh = true;
    }
    const bool newer = !in.fresh && in.version > SchemaVersion;

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), d->name);
    db.setDatabaseName(m_path);
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs);
    if (newer)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    db.setConnectOptions(options);
    if (!db.open()) {
        m_reason = QStringLiteral("%1 を開けません（%2）").arg(display, db.lastError().databaseText());
        return;
    }
    if (newer) {
        m_state = State::ReadOnly;
        m_reason = QStringLiteral("%1 はこの版より新しい VOLTRAK のセル台帳です（版 %2）。読み取り専用で開きます")
                       .arg(display)
                       .arg(in.version);
        return;
    }
    try {
        ExecText(db, QStringLiteral("PRAGMA foreign_keys = ON"));
        ExecText(db, QStringLiteral("PRAGMA synchronous = FULL"));
        // The history index of a library of years fits; the summaries read all of it.
        ExecText(db, QStringLiteral("PRAGMA cache_size = -32768"));
        // Switching to WAL needs a moment alone with the file; another copy
        // may be writing it.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            QSqlQuery mode(db);
            if (mode.exec(QStringLiteral("PRAGMA journal_mode = WAL")) && mode.next()) {
                if (mode.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
                    throw LibraryError(QStringLiteral("%1 を WAL で開けません").arg(display));
                break;
            }
            if (!IsBusy(mode.lastError()) || std::chrono::steady_clock::now() > giveUp)
                Fail(mode.lastError());
            QThread::msleep(20);
        }
        const auto pragma = [&](const char *name) {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("PRAGMA ") + QLatin1String(name)) || !q.next())
                Fail(q.lastError());
            return q.value(0).toLongLong();
        };
        // Up to date, the usual case: no write at all.
        const bool current = pragma("user_version") == SchemaVersion && pragma("application_id") == ApplicationId;
        if (!current)
            d->write([&] {
                // Read again under the write lock: another copy may have migrated it meanwhile.
                QSqlQuery q(d->db());
                int version = 0;
                qint64 appId = 0;
                if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
                    Fail(q.lastError());
                version = q.value(0).toInt();
                if (!q.exec(QStringLiteral("PRAGMA application_id")) || !q.next())
                    Fail(q.lastError());
                appId = q.value(0).toLongLong();
                q.finish();
                if (appId != 0 && appId != ApplicationId)
                    throw LibraryError(QStringLiteral("%1 は VOLTRAK のセル台帳ではありません").arg(display));
                if (version > SchemaVersion)
                    throw LibraryError(QStringLiteral("%1 はこの版より新しい VOLTRAK のセル台帳です（版 %2）")
                                           .arg(display)
                                           .arg(version));
                for (int v = version; v < SchemaVersion; ++v) {
                    for (const QString &sql : MigrationStep(v))
                        ExecText(d->db(), sql);
                }
                if (version < SchemaVersion || appId == 0) {
                    ExecText(d->db(), QStringLiteral("PRAGMA application_id = %1").arg(ApplicationId));
                    ExecText(d->db(), QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion));
                }
            });
    } catch (const LibraryError &e) {
        m_reason = e.text();
        db.close();
        return;
    }
    m_state = State::Open;
}

Library::~Library()
{
    d->statements.clear();
    {
        QSqlDatabase db = QSqlDatabase::database(d->name, false);
        if (db.isValid())
            db.close();
    }
    if (QSqlDatabase::contains(d->name))
        QSqlDatabase::removeDatabase(d->name);
    delete d;
}

namespace {
void RequireOpen(Library::State s)
{
    if (s == Library::State::Failed)
        throw LibraryError(CannotOpenTitle());
}
void RequireWritable(Library::State s)
{
    RequireOpen(s);
    if (s != Library::State::Open)
        throw LibraryError(ReadOnlyText());
}
} // namespace

QString Library::setting(const QString &key, const QString &fallback) const
{
    RequireOpen(m_state);
    QSqlQuery q = Prepare(d->db(), QStringLiteral("SELECT value FROM settings WHERE key = ?"));
    q.addBindValue(key);
    Exec(q);
    return q.next() ? q.value(0).toString() : fallback;
}

void Library::setSetting(const QString &key, const QString &value)
{
    RequireWritable(m_state);
    d->write([&] {
        QSqlQuery q = Prepare(d->db(), QStringLiteral("INSERT OR REPLACE INTO settings(key, value) VALUES (?, ?)"));
        q.addBindValue(key);
        q.addBindValue(value);
        Exec(q);
    });
}

RecordResult Library::recordRun(const RunInput &run)
{
    RequireWritable(m_state);
    return d->write([&] { return d->record(run, false); });
}

namespace {

// "セル: a b c d" or "CELLS: a b c d" ("-" = empty bay); false for any other line.
bool ParseCellsLine(const QByteArray &line, QString (&labels)[BayCount])
{
    static const QRegularExpression form(
        QStringLiteral(R"(^\s*(?:セル|CELLS)\s*[:：]\s*(.*)$)"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(sjis::decode(line));
    if (!m.hasMatch())
        return false;
    static const QRegularExpression blanks(QStringLiteral(R"(\s+)"));
    const QStringList words = m.captured(1).split(blanks, Qt::SkipEmptyParts);
    for (int b = 0; b < BayCount; ++b) {
        const QString w = b < words.size() ? words.at(b) : QString();
        labels[b] = w == QLatin1String("-") ? QString() : w;
    }
    return true;
}

QDateTime StampTime(const QByteArray &stamp)
{
    return QDateTime::fromString(QString::fromLatin1(stamp.left(16)), QStringLiteral("yyyy/MM/dd HH:mm"));
}

QString ReadFailure(const QString &path, const std::exception &e)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("ファイルがありません");
    if (info.isDir())
        return QStringLiteral("フォルダです");
    // By opening it: root passes every access() test.
    if (const int err = filereason::ReadProblem(path)) {
        if (err == EACCES || err == EPERM)
            return QStringLiteral("読み取りが許可されていません");
        return filereason::ReasonText(err);
    }
    return QString::fromUtf8(e.what());
}

} // namespace

ImportSummary Library::importFiles(const QStringList &paths, const analysis::CapacityParameters &parameters,
    const std::function<void(int, int, const QString &)> &progress, const std::atomic<bool> *cancel)
{
    ImportSummary s;
    // The files read so far and not yet written. Several whole files go into
    // one transaction (each file still wholly in or not at all): a commit
    // waits for the disk, which would otherwise be most of an import's time.
    struct Pending {
        QString path;
        QList<RunInput> inputs;
        int newRuns = 0, knownRuns = 0, bad = 0;
    };
    QList<Pending> batch;
    QElapsedTimer batchAge;
    const auto writeFiles = [&](QList<Pending> &files) {
        d->write([&] {
            for (Pending &f : files) {
                f.newRuns = f.knownRuns = f.bad = 0;
                for (const RunInput &run : std::as_const(f.inputs)) {
                    try {
                        const RecordResult r = d->record(run, true);
                        (r.isNew ? f.newRuns : f.knownRuns)++;
                    } catch (const TableError &) {
                        // Only a table's own fault is left out; a failing database fails the file.
                        ++f.bad;
                    }
                }
            }
        });
    };
    const auto count = [&s](const Pending &f) {
        ++s.files;
        s.tables += int(f.inputs.size());
        s.newRuns += f.newRuns;
        s.knownRuns += f.knownRuns;
        s.badTables += f.bad;
    };
    const auto flush = [&] {
        if (batch.isEmpty())
            return;
        try {
            writeFiles(batch);
            for (const Pending &f : std::as_const(batch))
                count(f);
        } catch (const LibraryError &) {
            // Which file could not be written: each again on its own.
            for (const Pending &f : std::as_const(batch)) {
                QList<Pending> one{f};
                try {
                    writeFiles(one);
                    count(one.first());
                } catch (const LibraryError &e) {
                    s.failures.append({f.path, e.text()});
                }
            }
        }
        batch.clear();
    };

    const int total = int(paths.size());
    for (int i = 0; i < total; ++i) {
        if (cancel && cancel->load()) {
            s.cancelled = true;
            break;
        }
        const QString &path = paths.at(i);
        if (progress)
            progress(i, total, path);
        if (m_state != State::Open) {
            s.failures.append({path, m_reason.isEmpty() ? CannotOpenTitle() : m_reason});
            continue;
        }
        ByteLines lines;
        try {
            if (QFileInfo(path).isDir())
                throw std::runtime_error("");
            lines = ReadLogFileLines(path);
        } catch (const std::exception &e) {
            s.failures.append({path, ReadFailure(path, e)});
            continue;
        }
        const QList<analysis::FoundTable> tables = analysis::FindAllTables(lines);
        const QFileInfo info(path);
        const QDateTime fileTime = info.lastModified();
        Pending file;
        file.path = path;
        int scanFrom = 0;
        for (const analysis::FoundTable &t : tables) {
            RunInput run;
            QString labels[BayCount];
            for (int k = scanFrom; k < t.headerLine; ++k) {
                QString found[BayCount];
                if (ParseCellsLine(lines.line(k), found))
                    std::copy(std::begin(found), std::end(found), std::begin(labels));
            }
            scanFrom = qMax(t.headerLine, 0) + 1 + int(t.rows.size());
            if (t.rows.isEmpty())
                continue;
            const QDateTime stamp = StampTime(t.stamp);
            run.when = stamp.isValid() ? stamp : fileTime;
            run.source = info.fileName();
            run.rows = t.rows;
            run.parameters = parameters;
            std::copy(std::begin(labels), std::end(labels), std::begin(run.labels));
            file.inputs.append(std::move(run));
        }
        if (batch.isEmpty())
            batchAge.start();
        batch.append(std::move(file));
        if (batch.size() >= 64 || batchAge.elapsed() >= 250)
            flush();
    }
    flush();
    if (progress && !s.cancelled)
        progress(total, total, QString());
    return s;
}

QList<CellSummary> Library::cellSummaries() const
{
    RequireOpen(m_state);
    QSqlQuery q(d->db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT c.id, c.label, c.model, c.nominal_mah, c.memo, c.state, c.pack, s.n, s.max_mah, "
                               "s.latest_mah, s.latest_mv, s.latest_at, s.first_mah "
                               "FROM cells c LEFT JOIN cell_stats s ON s.cell_id = c.id ORDER BY c.label")))
        Fail(q.lastError());
    QList<CellSummary> out;
    while (q.next()) {
        CellSummary s;
        s.info.id = q.value(0).toLongLong();
        s.info.label = q.value(1).toString();
        s.info.model = q.value(2).toString();
        s.info.hasNominal = !q.value(3).isNull();
        s.info.nominalMah = q.value(3).toDouble();
        s.info.memo = q.value(4).toString();
        s.info.state = CellState(q.value(5).toInt());
        s.info.pack = q.value(6).toString();
        s.runCount = q.value(7).toInt();
        if (s.runCount > 0) {
            s.maxMah = q.value(8).toDouble();
            s.latestMah = q.value(9).toDouble();
            s.hasMeanVoltage = !q.value(10).isNull();
            s.meanVoltage = q.value(10).toDouble();
            s.lastMeasured = FromStored(q.value(11).toLongLong());
            s.firstMah = q.value(12).toDouble();
        }
        out.append(std::move(s));
    }
    return out;
}

QList<HistoryPoint> Library::cellHistory(qint64 cellId) const
{
    RequireOpen(m_state);
    QSqlQuery q = Prepare(d->db(),
        QStringLiteral("SELECT run_id, bay, recorded_at, capacity, mean_voltage FROM run_bays WHERE cell_id = ? "
                       "ORDER BY recorded_at, run_id"));
    q.addBindValue(cellId);
    Exec(q);
    QList<HistoryPoint> out;
    while (q.next()) {
        HistoryPoint p;
        p.runId = q.value(0).toLongLong();
        p.bay = q.value(1).toInt();
        p.when = FromStored(q.value(2).toLongLong());
        p.capacity = q.value(3).toDouble();
        p.hasMeanVoltage = !q.value(4).isNull();
        p.meanVoltage = q.value(4).toDouble();
        out.append(p);
    }
    return out;
}

QList<RunRow> Library::runs(int limit) const
{
    RequireOpen(m_state);
    QSqlQuery q(d->db());
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT r.id, r.recorded_at, r.source, r.htime, r.hteiko, r.hvds, "
                                  "b.bay, b.cell_id, c.label, b.capacity, b.mean_voltage, b.last_time "
                                  "FROM (SELECT * FROM runs ORDER BY recorded_at DESC, id DESC LIMIT ?) r "
                                  "LEFT JOIN run_bays b ON b.run_id = r.id LEFT JOIN cells c ON c.id = b.cell_id "
                                  "ORDER BY r.recorded_at DESC, r.id DESC, b.bay")))
        Fail(q.lastError());
    q.addBindValue(limit < 0 ? -1 : limit);
    Exec(q);
    QList<RunRow> out;
    while (q.next()) {
        const qint64 id = q.value(0).toLongLong();
        if (out.isEmpty() || out.constLast().id != id) {
            RunRow r;
            r.id = id;
            r.when = FromStored(q.value(1).toLongLong());
            r.source = q.value(2).toString();
            r.parameters.Htime = q.value(3).toInt();
            r.parameters.Hteiko = q.value(4).toInt();
            r.parameters.Hvds = q.value(5).toInt();
            out.append(r);
        }
        const int b = q.value(6).toInt() - 1;
        if (b < 0 || b >= BayCount)
            continue;
        BayFigures &f = out.last().bays[b];
        f.present = true;
        f.cellId = q.value(7).toLongLong();
        f.label = q.value(8).toString();
        f.capacity = q.value(9).toDouble();
        f.hasMeanVoltage = !q.value(10).isNull();
        f.meanVoltage = q.value(10).toDouble();
        f.lastTime = q.value(11).toInt();
    }
    return out;
}

RunTable Library::runTable(qint64 runId) const
{
    RequireOpen(m_state);
    QSqlQuery q = Prepare(
        d->db(), QStringLiteral("SELECT recorded_at, source, htime, hteiko, hvds, rows FROM runs WHERE id = ?"));
    q.addBindValue(runId);
    Exec(q);
    if (!q.next())
        throw LibraryError(QStringLiteral("放電記録 %1 はありません").arg(runId));
    RunTable t;
    t.id = runId;
    t.when = FromStored(q.value(0).toLongLong());
    t.source = q.value(1).toString();
    t.parameters.Htime = q.value(2).toInt();
    t.parameters.Hteiko = q.value(3).toInt();
    t.parameters.Hvds = q.value(4).toInt();
    t.rows = SplitRows(q.value(5).toByteArray());
    d->readBays(runId, t.bays);
    return t;
}

QList<RunTable> Library::recentRunsOf(qint64 cellId, int limit) const
{
    RequireOpen(m_state);
    QSqlQuery q = Prepare(d->db(),
        QStringLiteral("SELECT run_id FROM run_bays WHERE cell_id = ? ORDER BY recorded_at DESC, run_id DESC LIMIT ?"));
    q.addBindValue(cellId);
    q.addBindValue(limit);
    Exec(q);
    QList<qint64> ids;
    while (q.next())
        ids.append(q.value(0).toLongLong());
    QList<RunTable> out;
    for (qint64 id : ids)
        out.append(runTable(id));
    return out;
}

QStringList Library::labels() const
{
    RequireOpen(m_state);
    QSqlQuery q(d->db());
    if (!q.exec(QStringLiteral("SELECT label FROM cells ORDER BY label")))
        Fail(q.lastError());
    QStringList out;
    while (q.next())
        out.append(q.value(0).toString());
    return out;
}

qint64 Library::cellIdOf(const QString &label) const
{
    RequireOpen(m_state);
    return d->cellIdOf(label);
}

CellInfo Library::cell(qint64 cellId) const
{
    RequireOpen(m_state);
    QSqlQuery q = Prepare(
        d->db(), QStringLiteral("SELECT label, model, nominal_mah, memo, state, pack FROM cells WHERE id = ?"));
    q.addBindValue(cellId);
    Exec(q);
    if (!q.next())
        throw LibraryError(QStringLiteral("セル %1 はありません").arg(cellId));
    CellInfo c;
    c.id = cellId;
    c.label = q.value(0).toString();
    c.model = q.value(1).toString();
    c.hasNominal = !q.value(2).isNull();
    c.nominalMah = q.value(2).toDouble();
    c.memo = q.value(3).toString();
    c.state = CellState(q.value(4).toInt());
    c.pack = q.value(5).toString();
    return c;
}

qint64 Library::ensureCell(const QString &label)
{
    RequireWritable(m_state);
    if (label.trimmed().isEmpty())
        throw LibraryError(QStringLiteral("ラベルが空です"));
    return d->write([&] { return d->ensureCell(label); });
}

void Library::updateCell(const CellInfo &info)
{
    RequireWritable(m_state);
    const QString label = info.label.trimmed();
    if (label.isEmpty())
        throw LibraryError(QStringLiteral("ラベルが空です"));
    d->write([&] {
        const qint64 other = d->cellIdOf(label);
        if (other && other != info.id)
            throw LibraryError(QStringLiteral("ラベル %1 のセルはすでにあります").arg(label));
        QSqlQuery q = Prepare(d->db(),
            QStringLiteral("UPDATE cells SET label = ?, model = ?, nominal_mah = ?, memo = ?, state = ?, pack = ? "
                           "WHERE id = ?"));
        q.addBindValue(label);
        q.addBindValue(Text(info.model));
        q.addBindValue(NullableDouble(info.hasNominal, info.nominalMah));
        q.addBindValue(Text(info.memo));
        q.addBindValue(int(info.state));
        q.addBindValue(Text(info.pack));
        q.addBindValue(info.id);
        Exec(q);
        if (q.numRowsAffected() != 1)
            throw LibraryError(QStringLiteral("セル %1 はありません").arg(info.id));
    });
}

void Library::setBayLabel(qint64 runId, int bay, const QString &label)
{
    RequireWritable(m_state);
    d->write([&] {
        QSqlQuery q = Prepare(d->db(), QStringLiteral("UPDATE run_bays SET cell_id = ? WHERE run_id = ? AND bay = ?"));
        q.addBindValue(NullableId(d->ensureCell(label)));
        q.addBindValue(runId);
        q.addBindValue(bay);
        Exec(q);
        if (q.numRowsAffected() != 1)
            throw LibraryError(QStringLiteral("放電記録 %1 にベイ %2 はありません").arg(runId).arg(bay));
    });
}

void Library::deleteRuns(const QList<qint64> &runIds)
{
    RequireWritable(m_state);
    d->write([&] {
        QSqlQuery q = Prepare(d->db(), QStringLiteral("DELETE FROM runs WHERE id = ?"));
        for (qint64 id : runIds) {
            q.bindValue(0, id);
            Exec(q);
        }
    });
}

void Library::setRunParameters(qint64 runId, const analysis::CapacityParameters &p)
{
    RequireWritable(m_state);
    d->write([&] {
        QSqlQuery q = Prepare(d->db(), QStringLiteral("SELECT rows FROM runs WHERE id = ?"));
        q.addBindValue(runId);
        Exec(q);
        if (!q.next())
            throw LibraryError(QStringLiteral("放電記録 %1 はありません").arg(runId));
        const cells::TableFigures f = Figures(SplitRows(q.value(0).toByteArray()), p);
        q.finish();
        QSqlQuery u = Prepare(d->db(), QStringLiteral("UPDATE runs SET htime = ?, hteiko = ?, hvds = ? WHERE id = ?"));
        u.addBindValue(p.Htime);
        u.addBindValue(p.Hteiko);
        u.addBindValue(p.Hvds);
        u.addBindValue(runId);
        Exec(u);
        QSqlQuery b = Prepare(d->db(),
            QStringLiteral(
                "UPDATE run_bays SET capacity = ?, mean_voltage = ?, last_time = ? WHERE run_id = ? AND bay = ?"));
        for (int j = 0; j < BayCount; ++j) {
            b.bindValue(0, f.capacity[j]);
            b.bindValue(1, NullableDouble(f.hasMeanVoltage[j], f.meanVoltage[j]));
            b.bindValue(2, f.lastTime[j]);
            b.bindValue(3, runId);
            b.bindValue(4, j + 1);
            Exec(b);
        }
    });
}

void Library::backupTo(const QString &file) const
{
    RequireOpen(m_state);
    const QString target = QFileInfo(file).absoluteFilePath();
    const QString display = QDir::toNativeSeparators(target);
    if (target == m_path)
        throw LibraryError(QStringLiteral("%1 はセル台帳そのものです").arg(display));
    const QString part = target + QStringLiteral(".part");
    QFile::remove(part);
    QSqlQuery q(d->db());
    if (!q.prepare(QStringLiteral("VACUUM INTO ?")))
        Fail(q.lastError());
    q.addBindValue(part);
    if (!q.exec()) {
        QFile::remove(part);
        throw LibraryError(QStringLiteral("%1 を作成できません（%2）").arg(display, q.lastError().databaseText()));
    }
    // On the disk before it takes the name, so a crash leaves the old copy or the new one.
    try {
        safewrite::CommitFile(part, target);
    } catch (const safewrite::WriteError &) {
        QFile::remove(part);
        throw LibraryError(QStringLiteral("%1 を作成できません").arg(display));
    }
}

} // namespace library
