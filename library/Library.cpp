#include "library/Library.h"
#include "analysis/DischargeTable.h"
#include "cells/CellList.h"
#include "core/FileReason.h"
#include "core/TextSniff.h"
#include "library/FigureTable.h"
#include "library/LogImport.h"
#include "library/OpenCheck.h"
#include "library/ServerLocation.h"
#include "library/Sql.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <chrono>
#include <limits>

namespace library {

using namespace sql;

QString CannotOpenTitle()
{
    return QStringLiteral("セル台帳を開けません");
}

namespace {

std::atomic<int> g_connections{0};

// A table that cannot be stored (a voltage that is not a number, no rows);
// an import leaves it out and goes on with the file.
class TableError : public LibraryError
{
public:
    using LibraryError::LibraryError;
};

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

// A library of a newer version, opened read-only (a file or a server alike).
QString NewerText(const QString &display, int version)
{
    return QStringLiteral("%1 はこの版より新しい VOLTRAK のセル台帳です（版 %2）。読み取り専用で開きます")
        .arg(display)
        .arg(version);
}

QString ReadOnlyText()
{
    return QStringLiteral("セル台帳は読み取り専用です");
}

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

const QString GoodKey = QStringLiteral("grade.good");
const QString FairKey = QStringLiteral("grade.fair");

} // namespace

struct Library::Impl {
    QString name;
    int busyMs = 5000;
    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }

    // One write transaction, tried again while another process holds the file.
    template <typename Fn> auto write(Fn fn) -> decltype(fn()) { return sql::Write(db(), fn); }

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
        QSqlQuery &q = statement(QStringLiteral("INSERT INTO cells(label) VALUES (?) RETURNING id"));
        q.bindValue(0, l);
        Exec(q);
        return ReturnedId(q);
    }

    // Inside a write transaction.
    bool cellExists(qint64 id) const
    {
        QSqlQuery &q = statement(QStringLiteral("SELECT 1 FROM cells WHERE id = ?"));
        q.bindValue(0, id);
        Exec(q);
        const bool found = q.next();
        q.finish();
        return found;
    }

    // The cell of each bay of a run: by its id where the bay names one that
    // still exists, else by its label (a new label makes the cell). A cell
    // already in an earlier bay is left out of the later ones (noted in r).
    // For a run stored before, only the bays in only are looked at, and the
    // cells its other bays have count as taken.
    struct Bays {
        qint64 ids[BayCount] = {0, 0, 0, 0};
    };
    Bays cellsOf(const RunInput &run, RecordResult &r, const QList<int> *only = nullptr)
    {
        Bays b;
        QSet<qint64> seen;
        if (only) {
            QSqlQuery &q
                = statement(QStringLiteral("SELECT cell_id FROM run_bays WHERE run_id = ? AND cell_id IS NOT NULL"));
            q.bindValue(0, r.runId);
            Exec(q);
            while (q.next())
                seen.insert(q.value(0).toLongLong());
            q.finish();
        }
        for (int j = 0; j < BayCount; ++j) {
            if (only && !only->contains(j + 1))
                continue;
            qint64 id = run.cellIds[j] > 0 && cellExists(run.cellIds[j]) ? run.cellIds[j] : 0;
            if (id == 0)
                id = ensureCell(run.labels[j]);
            if (id != 0 && seen.contains(id)) {
                r.repeatedBays.append(j + 1);
                id = 0;
            }
            if (id != 0)
                seen.insert(id);
            b.ids[j] = id;
        }
        return b;
    }

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
                const Bays cells = cellsOf(run, r, &unassigned);
                for (int bay : std::as_const(unassigned)) {
                    if (bay < 1 || bay > BayCount || cells.ids[bay - 1] == 0)
                        continue;
                    const qint64 cell = cells.ids[bay - 1];
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
                                       "VALUES (?, ?, ?, ?, ?, ?, ?) RETURNING id"));
        ins.bindValue(0, ToStored(run.when));
        ins.bindValue(1, run.source);
        ins.bindValue(2, JoinRows(run.rows));
        ins.bindValue(3, key);
        ins.bindValue(4, run.parameters.Htime);
        ins.bindValue(5, run.parameters.Hteiko);
        ins.bindValue(6, run.parameters.Hvds);
        Exec(ins);
        r.runId = ReturnedId(ins);
        r.isNew = true;
        const Bays cells = cellsOf(run, r);
        for (int j = 0; j < f.cellCount && j < BayCount; ++j) {
            const qint64 cell = cells.ids[j];
            r.assignedBays += cell != 0;
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

Library::Library(const QString &path, int busyTimeoutMs, OpenMode mode)
    : d(new Impl)
    , m_path(IsServerLocation(path) ? path.trimmed() : QFileInfo(path).absoluteFilePath())
{
    d->name = QStringLiteral("voltrak-library-%1").arg(++g_connections);
    d->busyMs = busyTimeoutMs;
    if (IsServerLocation(path)) {
        openServer(mode);
        return;
    }
    const QString display = QDir::toNativeSeparators(m_path);
    const OpenCheck check = CheckBeforeOpening(m_path, mode);
    if (!check.ok) {
        m_missing = check.missing;
        m_reason = check.reason;
        return;
    }
    const bool newer = !check.fresh && check.version > SchemaVersion;

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
        m_reason = NewerText(display, check.version);
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
        // Up to date, the usual case: no write at all.
        if (!schema::IsCurrent(db))
            schema::Migrate(db, display);
    } catch (const LibraryError &e) {
        m_reason = e.text();
        db.close();
        return;
    }
    m_state = State::Open;
}

void Library::openServer(OpenMode mode)
{
    const ServerLocation where = ParseServerLocation(m_path);
    if (!where.ok) {
        m_reason = where.reason;
        return;
    }
    m_path = where.display;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), d->name);
    if (!db.isValid()) {
        m_reason = QStringLiteral("%1 を開けません（PostgreSQL のドライバーがありません）").arg(m_path);
        return;
    }
    // A server that does not answer is not waited on for long: a capture goes to the outbox meanwhile.
    db.setConnectOptions(where.connectOptions + QStringLiteral(";connect_timeout='10';application_name='voltrak'"));
    if (!db.open()) {
        m_unreachable = true;
        m_reason = QStringLiteral("%1 につながりません（%2）").arg(m_path, db.lastError().databaseText().trimmed());
        return;
    }
    try {
        ExecText(db, QStringLiteral("SET client_min_messages = warning"));
        const int version = schema::ServerVersion(db);
        if (version > SchemaVersion) {
            m_state = State::ReadOnly;
            m_reason = NewerText(m_path, version);
            return;
        }
        if (version == 0 && mode == OpenMode::ExistingOnly) {
            m_missing = true;
            m_reason = MissingText(m_path);
            db.close();
            return;
        }
        if (!schema::IsCurrent(db))
            schema::Migrate(db, m_path);
        // A role that may only read (a desk that plans packs) reads and never writes.
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT has_table_privilege('runs', 'INSERT') AND "
                                   "has_table_privilege('cells', 'UPDATE')"))
            || !q.next())
            Fail(q.lastError());
        if (!q.value(0).toBool()) {
            m_state = State::ReadOnly;
            m_reason = QStringLiteral("%1 に書き込む権限がありません。読み取り専用で開きます").arg(m_path);
            return;
        }
    } catch (const LibraryError &e) {
        m_reason = e.text();
        db.close();
        return;
    }
    m_state = State::Open;
}

qint64 Library::changeCounter() const
{
    RequireOpen(m_state);
    QSqlQuery q(d->db());
    // A file's data_version moves only for the commits of other connections;
    // the server's sequence moves for every write.
    const QString sql
        = isServer() ? QStringLiteral("SELECT last_value FROM voltrak_changes") : QStringLiteral("PRAGMA data_version");
    if (!q.exec(sql) || !q.next())
        Fail(q.lastError());
    return q.value(0).toLongLong();
}

QSqlDatabase Library::database() const
{
    return d->db();
}

bool Library::isServer() const
{
    return schema::IsServer(d->db());
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
        QSqlQuery q = Prepare(d->db(),
            QStringLiteral("INSERT INTO settings(key, value) VALUES (?, ?) "
                           "ON CONFLICT(key) DO UPDATE SET value = excluded.value"));
        q.addBindValue(key);
        q.addBindValue(value);
        Exec(q);
    });
}

namespace {

QString BaysKey(int channel)
{
    return QStringLiteral("bays.ch%1").arg(channel);
}

} // namespace

QList<BayCell> Library::resolveBays(const QList<BayCell> &bays) const
{
    RequireOpen(m_state);
    QList<BayCell> out;
    for (const BayCell &b : bays) {
        BayCell r;
        if (b.cellId > 0 && d->cellExists(b.cellId)) {
            r.cellId = b.cellId;
            r.label = cell(b.cellId).label;
        } else {
            r.label = b.label.trimmed();
            r.cellId = r.label.isEmpty() ? 0 : d->cellIdOf(r.label);
        }
        out.append(r);
    }
    return out;
}

QList<BayCell> Library::keptBays(int channel) const
{
    // A list of [id, label] pairs: the label stands for a bay typed but not yet a cell.
    const QJsonArray stored = QJsonDocument::fromJson(setting(BaysKey(channel)).toUtf8()).array();
    QList<BayCell> bays;
    for (const QJsonValue &v : stored) {
        const QJsonArray pair = v.toArray();
        BayCell b;
        b.cellId = qint64(pair.at(0).toDouble());
        b.label = pair.at(1).toString();
        bays.append(b);
        if (bays.size() == BayCount)
            break;
    }
    return resolveBays(bays);
}

void Library::keepBays(int channel, const QList<BayCell> &bays)
{
    QJsonArray stored;
    // By identity wherever a cell has the label now, so a rename before the
    // next start still finds it.
    for (const BayCell &b : resolveBays(bays))
        stored.append(QJsonArray{double(b.cellId), b.label});
    setSetting(BaysKey(channel), QString::fromUtf8(QJsonDocument(stored).toJson(QJsonDocument::Compact)));
}

RecordResult Library::recordRun(const RunInput &run)
{
    RequireWritable(m_state);
    return d->write([&] { return d->record(run, false); });
}

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
        QStringList repeated;
    };
    QList<Pending> batch;
    QElapsedTimer batchAge;
    const auto writeFiles = [&](QList<Pending> &files) {
        d->write([&] {
            for (Pending &f : files) {
                f.newRuns = f.knownRuns = f.bad = 0;
                f.repeated.clear();
                for (qsizetype t = 0; t < f.inputs.size(); ++t) {
                    const RunInput &run = f.inputs.at(t);
                    try {
                        const RecordResult r = d->record(run, true);
                        (r.isNew ? f.newRuns : f.knownRuns)++;
                        for (int bay : r.repeatedBays)
                            f.repeated.append(QStringLiteral("%1 表%2: %3")
                                                  .arg(QFileInfo(f.path).fileName())
                                                  .arg(t + 1)
                                                  .arg(run.labels[bay - 1].trimmed()));
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
        s.repeatedLabels += f.repeated;
        ImportSummary::FileDating dating;
        dating.path = f.path;
        for (const RunInput &run : f.inputs) {
            switch (run.dating) {
            case RunDating::JournalStart: ++dating.byJournalStart; break;
            case RunDating::FileTime: ++dating.byFileTime; break;
            case RunDating::Stamp: ++dating.byStamp; break;
            case RunDating::Received: ++dating.byReceived; break; // kept beside a journal at its capture
            }
        }
        s.dating.append(dating);
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
        FileRuns read = ReadRunsOfFile(path, parameters);
        if (!read.failure.isEmpty()) {
            s.failures.append({path, read.failure});
            continue;
        }
        if (read.notText) {
            s.problems.append({path, ImportSummary::Problem::NotText});
            continue;
        }
        if (read.runs.isEmpty())
            s.problems.append({path, ImportSummary::Problem::NoTable});
        Pending file;
        file.path = path;
        file.inputs = std::move(read.runs);
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
    const figuretable::Latest latest = figuretable::ReadLatest(d->db());
    for (CellSummary &s : out) {
        if (const auto r = latest.resistance.constFind(s.info.id); r != latest.resistance.constEnd()) {
            s.hasResistance = true;
            s.resistanceMilliohm = *r;
        }
        if (const auto sd = latest.selfDischarge.constFind(s.info.id); sd != latest.selfDischarge.constEnd()) {
            s.hasSelfDischarge = true;
            s.selfDischargeMvPerDay = *sd;
        }
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
    // No limit: more than any library holds (a file and a server read -1 differently).
    q.addBindValue(limit < 0 ? std::numeric_limits<qint64>::max() : qint64(limit));
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

namespace {

const QString RunColumns = QStringLiteral("id, recorded_at, source, rows, row_key, htime, hteiko, hvds");
const QString BayColumns = QStringLiteral("run_id, bay, recorded_at, cell_id, capacity, mean_voltage, last_time");

QVariantList RowValues(const QSqlQuery &q, int columns)
{
    QVariantList values;
    for (int c = 0; c < columns; ++c)
        values.append(q.value(c));
    return values;
}

} // namespace

DeletedRuns Library::deleteRuns(const QList<qint64> &runIds)
{
    RequireWritable(m_state);
    return d->write([&] {
        DeletedRuns deleted;
        QSqlQuery run = Prepare(d->db(), QStringLiteral("SELECT %1 FROM runs WHERE id = ?").arg(RunColumns));
        QSqlQuery bays
            = Prepare(d->db(), QStringLiteral("SELECT %1 FROM run_bays WHERE run_id = ? ORDER BY bay").arg(BayColumns));
        QSqlQuery del = Prepare(d->db(), QStringLiteral("DELETE FROM runs WHERE id = ?"));
        for (qint64 id : runIds) {
            run.bindValue(0, id);
            Exec(run);
            if (!run.next())
                continue;
            deleted.runs.append(RowValues(run, 8));
            run.finish();
            bays.bindValue(0, id);
            Exec(bays);
            while (bays.next())
                deleted.bays.append(RowValues(bays, 7));
            bays.finish();
            del.bindValue(0, id);
            Exec(del);
        }
        return deleted;
    });
}

int Library::restoreRuns(const DeletedRuns &runs)
{
    RequireWritable(m_state);
    return d->write([&] {
        QSqlQuery stored = Prepare(d->db(), QStringLiteral("SELECT 1 FROM runs WHERE row_key = ?"));
        QSqlQuery idTaken = Prepare(d->db(), QStringLiteral("SELECT 1 FROM runs WHERE id = ?"));
        QSqlQuery run
            = Prepare(d->db(), QStringLiteral("INSERT INTO runs(%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?)").arg(RunColumns));
        // Under a new id: the server gives one only when the column is left out.
        QSqlQuery renumbered = Prepare(d->db(),
            QStringLiteral("INSERT INTO runs(%1) VALUES (?, ?, ?, ?, ?, ?, ?) RETURNING id")
                .arg(RunColumns.mid(RunColumns.indexOf(QLatin1Char(',')) + 2)));
        QSqlQuery bay
            = Prepare(d->db(), QStringLiteral("INSERT INTO run_bays(%1) VALUES (?, ?, ?, ?, ?, ?, ?)").arg(BayColumns));
        const auto exists = [](QSqlQuery &q, const QVariant &value) {
            q.bindValue(0, value);
            Exec(q);
            const bool found = q.next();
            q.finish();
            return found;
        };
        QHash<qint64, qint64> restored; // the id it had, the id it has now
        for (QVariantList r : runs.runs) {
            // The same table recorded again since is that run now.
            if (exists(stored, r.at(4)))
                continue;
            // Its id given to a newer run: it comes back under a new one.
            const qint64 was = r.at(0).toLongLong();
            if (exists(idTaken, r.at(0))) {
                for (int c = 1; c < r.size(); ++c)
                    renumbered.bindValue(c - 1, r.at(c));
                Exec(renumbered);
                restored.insert(was, ReturnedId(renumbered));
                continue;
            }
            for (int c = 0; c < r.size(); ++c)
                run.bindValue(c, r.at(c));
            Exec(run);
            restored.insert(was, was);
        }
        for (QVariantList b : runs.bays) {
            const auto it = restored.constFind(b.at(0).toLongLong());
            if (it == restored.constEnd())
                continue;
            b[0] = it.value();
            if (!b.at(3).isNull() && !d->cellExists(b.at(3).toLongLong()))
                b[3] = QVariant(QMetaType(QMetaType::LongLong));
            for (int c = 0; c < b.size(); ++c)
                bay.bindValue(c, b.at(c));
            Exec(bay);
        }
        return int(restored.size());
    });
}

void Library::setRunParameters(const QList<qint64> &runIds, const analysis::CapacityParameters &p)
{
    RequireWritable(m_state);
    d->write([&] {
        QSqlQuery q = Prepare(d->db(), QStringLiteral("SELECT rows FROM runs WHERE id = ?"));
        QSqlQuery u = Prepare(d->db(), QStringLiteral("UPDATE runs SET htime = ?, hteiko = ?, hvds = ? WHERE id = ?"));
        QSqlQuery b = Prepare(d->db(),
            QStringLiteral(
                "UPDATE run_bays SET capacity = ?, mean_voltage = ?, last_time = ? WHERE run_id = ? AND bay = ?"));
        for (qint64 runId : runIds) {
            q.bindValue(0, runId);
            Exec(q);
            if (!q.next())
                throw LibraryError(QStringLiteral("放電記録 %1 はありません").arg(runId));
            const cells::TableFigures f = Figures(SplitRows(q.value(0).toByteArray()), p);
            q.finish();
            u.bindValue(0, p.Htime);
            u.bindValue(1, p.Hteiko);
            u.bindValue(2, p.Hvds);
            u.bindValue(3, runId);
            Exec(u);
            for (int j = 0; j < BayCount; ++j) {
                b.bindValue(0, f.capacity[j]);
                b.bindValue(1, NullableDouble(f.hasMeanVoltage[j], f.meanVoltage[j]));
                b.bindValue(2, f.lastTime[j]);
                b.bindValue(3, runId);
                b.bindValue(4, j + 1);
                Exec(b);
            }
        }
    });
}

namespace {

// The keys of the figures' limits; an empty value is no limit.
const std::pair<QString, std::optional<double> GradeLimits::*> FigureLimitKeys[] = {
    {QStringLiteral("grade.good.ir"), &GradeLimits::goodResistance},
    {QStringLiteral("grade.fair.ir"), &GradeLimits::fairResistance},
    {QStringLiteral("grade.good.sd"), &GradeLimits::goodSelfDischarge},
    {QStringLiteral("grade.fair.sd"), &GradeLimits::fairSelfDischarge},
};

} // namespace

GradeLimits Library::gradeLimits() const
{
    const GradeLimits defaults;
    bool goodOk = false, fairOk = false;
    GradeLimits limits;
    limits.good = setting(GoodKey, QString::number(defaults.good)).toDouble(&goodOk);
    limits.fair = setting(FairKey, QString::number(defaults.fair)).toDouble(&fairOk);
    bool figuresOk = true;
    for (const auto &[key, member] : FigureLimitKeys) {
        const QString text = setting(key);
        if (text.isEmpty())
            continue;
        bool ok = false;
        limits.*member = text.toDouble(&ok);
        figuresOk = figuresOk && ok;
    }
    if (!goodOk || !fairOk || !figuresOk || !LimitsAreValid(limits))
        return defaults;
    return limits;
}

void Library::setGradeLimits(const GradeLimits &limits)
{
    if (!LimitsAreValid(limits)) {
        GradeLimits health;
        health.good = limits.good;
        health.fair = limits.fair;
        if (!LimitsAreValid(health))
            throw LibraryError(QStringLiteral("判定の基準が正しくありません（良 %1、可 %2）")
                                   .arg(QString::number(limits.good), QString::number(limits.fair)));
        throw LibraryError(
            QStringLiteral("判定の基準が正しくありません（上限は 0 より大きく、「良」は「可」以下にしてください）"));
    }
    RequireWritable(m_state);
    // All or none: a plan must never see one new limit and one old.
    d->write([&] {
        QSqlQuery q = Prepare(d->db(),
            QStringLiteral("INSERT INTO settings(key, value) VALUES (?, ?) "
                           "ON CONFLICT(key) DO UPDATE SET value = excluded.value"));
        for (const auto &[key, value] : {std::pair{GoodKey, limits.good}, std::pair{FairKey, limits.fair}}) {
            q.bindValue(0, key);
            q.bindValue(1, QString::number(value, 'g', 17));
            Exec(q);
        }
        for (const auto &[key, member] : FigureLimitKeys) {
            const std::optional<double> &value = limits.*member;
            q.bindValue(0, key);
            q.bindValue(1, value ? QString::number(*value, 'g', 17) : QStringLiteral(""));
            Exec(q);
        }
    });
}

QList<PoolCandidate> Library::planPool(const PoolRequest &request) const
{
    QList<PoolCandidate> pool = PoolOf(cellSummaries(), gradeLimits(), request);
    for (PoolCandidate &c : pool) {
        const QList<RunTable> latest = c.builtIn || c.aboveResistance ? QList<RunTable>() : recentRunsOf(c.cellId, 1);
        if (latest.isEmpty())
            continue;
        for (int bay = 1; bay <= BayCount; ++bay) {
            if (latest.first().bays[bay - 1].cellId == c.cellId) {
                c.curve = BayCurve(latest.first(), bay);
                break;
            }
        }
    }
    return pool;
}

QList<CurveNeighbour> Library::curveNeighbours(qint64 referenceCellId) const
{
    struct Measured {
        qint64 id;
        QString label;
        analysis::Curve curve;
    };
    QList<Measured> all;
    for (const CellSummary &s : cellSummaries()) {
        if (s.runCount < 1)
            continue;
        Measured m{s.info.id, s.info.label, {}};
        const QList<RunTable> latest = recentRunsOf(s.info.id, 1);
        for (int bay = 1; !latest.isEmpty() && bay <= BayCount; ++bay) {
            if (latest.first().bays[bay - 1].cellId == s.info.id) {
                m.curve = BayCurve(latest.first(), bay);
                break;
            }
        }
        all.append(std::move(m));
    }
    const auto self
        = std::find_if(all.cbegin(), all.cend(), [&](const Measured &m) { return m.id == referenceCellId; });
    if (self == all.cend() || self->curve.isEmpty())
        return {};
    const analysis::Curve reference = self->curve;
    QList<std::pair<CurveNeighbour, QString>> found;
    for (const Measured &m : std::as_const(all)) {
        CurveNeighbour n;
        n.cellId = m.id;
        n.minutes = m.id == referenceCellId ? std::optional<double>(0.0) : analysis::CurveDistance(reference, m.curve);
        found.append({n, m.label});
    }
    std::stable_sort(found.begin(), found.end(), [referenceCellId](const auto &a, const auto &b) {
        // The reference leads even when another curve lies at 0 from it.
        const bool aSelf = a.first.cellId == referenceCellId, bSelf = b.first.cellId == referenceCellId;
        if (aSelf != bSelf)
            return aSelf;
        if (a.first.minutes.has_value() != b.first.minutes.has_value())
            return a.first.minutes.has_value();
        if (a.first.minutes && *a.first.minutes != *b.first.minutes)
            return *a.first.minutes < *b.first.minutes;
        return a.second < b.second;
    });
    QList<CurveNeighbour> out;
    for (const auto &f : std::as_const(found))
        out.append(f.first);
    return out;
}

void Library::recordBuiltIn(const QList<qint64> &cellIds, const QString &name, const PackFacts &facts)
{
    const QString pack = name.trimmed();
    if (pack.isEmpty())
        throw LibraryError(QStringLiteral("パックの名前がありません"));
    RequireWritable(m_state);
    // One transaction, every cell read in it first: a cell that has gone, or
    // that another window or process has meanwhile retired or built in
    // elsewhere, leaves none recorded and no earlier record written over.
    d->write([&] {
        // Two packs of one name would be listed as one, with the later's facts.
        QSqlQuery taken = Prepare(d->db(), QStringLiteral("SELECT 1 FROM cells WHERE state = ? AND pack = ? LIMIT 1"));
        taken.bindValue(0, int(CellState::BuiltIn));
        taken.bindValue(1, pack);
        Exec(taken);
        if (taken.next())
            throw LibraryError(QStringLiteral("パック %1 はもう記録されています").arg(pack));
        taken.finish();
        QSqlQuery read = Prepare(d->db(), QStringLiteral("SELECT label, state, pack FROM cells WHERE id = ?"));
        for (qint64 id : cellIds) {
            read.bindValue(0, id);
            Exec(read);
            if (!read.next())
                throw LibraryError(QStringLiteral("セル %1 はありません").arg(id));
            const CellState state = CellState(read.value(1).toInt());
            if (state != CellState::InUse)
                throw LibraryError(QStringLiteral("セル %1 は%2です")
                                       .arg(read.value(0).toString(), CellStateText(state, read.value(2).toString())));
            read.finish();
        }
        QSqlQuery mark = Prepare(d->db(), QStringLiteral("UPDATE cells SET state = ?, pack = ? WHERE id = ?"));
        for (qint64 id : cellIds) {
            mark.bindValue(0, int(CellState::BuiltIn));
            mark.bindValue(1, pack);
            mark.bindValue(2, id);
            Exec(mark);
        }
        QSqlQuery keep = Prepare(d->db(),
            QStringLiteral("INSERT INTO settings(key, value) VALUES (?, ?) "
                           "ON CONFLICT(key) DO UPDATE SET value = excluded.value"));
        keep.addBindValue(PackKey(pack));
        keep.addBindValue(PackFactsText(facts));
        Exec(keep);
    });
}

QList<PackRow> Library::packs() const
{
    RequireOpen(m_state);
    QSqlQuery q = Prepare(d->db(),
        QStringLiteral("SELECT id, label, pack FROM cells WHERE state = ? ORDER BY lower(pack), pack, "
                       "lower(label), label"));
    q.addBindValue(int(CellState::BuiltIn));
    Exec(q);
    QList<PackRow> out;
    while (q.next()) {
        const QString name = q.value(2).toString();
        if (out.isEmpty() || out.last().name != name) {
            out.append(PackRow());
            out.last().name = name;
        }
        out.last().cellIds.append(q.value(0).toLongLong());
        out.last().labels.append(q.value(1).toString());
    }
    q.finish();
    for (PackRow &p : out)
        p.facts = ParsePackFacts(setting(PackKey(p.name)));
    return out;
}

int Library::dissolvePack(const QString &name)
{
    const QString pack = name.trimmed();
    RequireWritable(m_state);
    return d->write([&] {
        QSqlQuery q
            = Prepare(d->db(), QStringLiteral("UPDATE cells SET state = ?, pack = '' WHERE state = ? AND pack = ?"));
        q.addBindValue(int(CellState::InUse));
        q.addBindValue(int(CellState::BuiltIn));
        q.addBindValue(pack);
        Exec(q);
        const int cells = q.numRowsAffected();
        if (cells <= 0)
            throw LibraryError(QStringLiteral("パック %1 はありません").arg(pack));
        QSqlQuery forget = Prepare(d->db(), QStringLiteral("DELETE FROM settings WHERE key = ?"));
        forget.addBindValue(PackKey(pack));
        Exec(forget);
        return cells;
    });
}

void Library::undoBuiltIn(const QList<qint64> &cellIds)
{
    RequireWritable(m_state);
    d->write([&] {
        QSqlQuery q
            = Prepare(d->db(), QStringLiteral("UPDATE cells SET state = ?, pack = '' WHERE id = ? AND state = ?"));
        for (qint64 id : cellIds) {
            q.bindValue(0, int(CellState::InUse));
            q.bindValue(1, id);
            q.bindValue(2, int(CellState::BuiltIn));
            Exec(q);
        }
    });
}

namespace {
const QString FigureColumnsKey = QStringLiteral("figures.columns");
} // namespace

QList<Measurement> Library::figures(qint64 cellId) const
{
    RequireOpen(m_state);
    return figuretable::Read(d->db(), cellId);
}

qint64 Library::addFigure(const Measurement &m)
{
    RequireWritable(m_state);
    return d->write([&] {
        if (!d->cellExists(m.cellId))
            throw LibraryError(QStringLiteral("セル %1 はありません").arg(m.cellId));
        return figuretable::Add(d->db(), m);
    });
}

qint64 Library::addFigureFor(const QString &label, Measurement m)
{
    RequireWritable(m_state);
    return d->write([&] {
        m.cellId = d->cellIdOf(label);
        if (m.cellId == 0)
            throw LibraryError(QStringLiteral("セル %1 はありません").arg(label.trimmed()));
        return figuretable::Add(d->db(), m);
    });
}

void Library::deleteFigure(qint64 id)
{
    RequireWritable(m_state);
    d->write([&] { figuretable::Remove(d->db(), id); });
}

FigureImportSummary Library::importFigures(const QString &path, const FigureColumns &columns)
{
    FigureImportSummary s;
    if (m_state != State::Open) {
        s.failure = m_reason.isEmpty() ? CannotOpenTitle() : m_reason;
        return s;
    }
    const QString display = QDir::toNativeSeparators(path);
    QByteArray bytes;
    if (const int err = filereason::ReadProblem(path)) {
        s.failure = filereason::CannotRead(display, err);
        return s;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        s.failure = QStringLiteral("ファイル %1 は開けません（%2）").arg(display, file.errorString());
        return s;
    }
    bytes = file.readAll();
    if (!textsniff::LooksLikeText(bytes.left(textsniff::HeadBytes))) {
        s.failure = QStringLiteral("テキストではありません: %1").arg(display);
        return s;
    }
    const FigureFile read = ReadFigureFile(bytes, columns);
    s.records = int(read.records.size() + read.bad.size());
    try {
        d->write([&] {
            s.stored = s.known = 0;
            QList<BadFigureRecord> unknown;
            for (const FigureRecord &r : read.records) {
                Measurement m = r.measurement;
                m.cellId = d->cellIdOf(r.label);
                if (m.cellId == 0) {
                    unknown.append({r.line, r.text, QStringLiteral("ラベル %1 のセルはありません").arg(r.label)});
                    continue;
                }
                if (figuretable::IsStored(d->db(), m)) {
                    ++s.known;
                    continue;
                }
                figuretable::Add(d->db(), m);
                ++s.stored;
            }
            s.bad = read.bad + unknown;
        });
    } catch (const LibraryError &e) {
        s.stored = s.known = 0;
        s.bad = read.bad;
        s.failure = e.text();
    }
    // In the order of the file, with each record's text as it stood.
    std::stable_sort(
        s.bad.begin(), s.bad.end(), [](const BadFigureRecord &a, const BadFigureRecord &b) { return a.line < b.line; });
    return s;
}

FigureColumns Library::figureColumns() const
{
    return FigureColumnsFromText(setting(FigureColumnsKey)).value_or(FigureColumns());
}

void Library::setFigureColumns(const FigureColumns &columns)
{
    setSetting(FigureColumnsKey, FigureColumnsText(columns));
}

} // namespace library
