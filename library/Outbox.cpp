#include "library/Outbox.h"
#include "library/Sql.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>

namespace library {

using namespace sql;

namespace {
std::atomic<int> g_outboxes{0};
}

QByteArray RunToBytes(const RunInput &run)
{
    QJsonObject o;
    o.insert("when", run.when.toString(Qt::ISODate));
    o.insert("source", run.source);
    QJsonArray rows, labels, ids;
    for (const QByteArray &r : run.rows)
        rows.append(QString::fromLatin1(r.toBase64()));
    for (int b = 0; b < BayCount; ++b) {
        labels.append(run.labels[b]);
        ids.append(QString::number(run.cellIds[b]));
    }
    o.insert("rows", rows);
    o.insert("labels", labels);
    o.insert("cellIds", ids);
    o.insert("htime", run.parameters.Htime);
    o.insert("hteiko", run.parameters.Hteiko);
    o.insert("hvds", run.parameters.Hvds);
    o.insert("dating", int(run.dating));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

RunInput RunFromBytes(const QByteArray &bytes)
{
    RunInput run;
    const QJsonObject o = QJsonDocument::fromJson(bytes).object();
    run.when = QDateTime::fromString(o.value("when").toString(), Qt::ISODate);
    run.source = o.value("source").toString();
    for (const QJsonValue &r : o.value("rows").toArray())
        run.rows.append(QByteArray::fromBase64(r.toString().toLatin1()));
    const QJsonArray labels = o.value("labels").toArray(), ids = o.value("cellIds").toArray();
    for (int b = 0; b < BayCount; ++b) {
        run.labels[b] = labels.at(b).toString();
        run.cellIds[b] = ids.at(b).toString().toLongLong();
    }
    run.parameters.Htime = o.value("htime").toInt(run.parameters.Htime);
    run.parameters.Hteiko = o.value("hteiko").toInt(run.parameters.Hteiko);
    run.parameters.Hvds = o.value("hvds").toInt(run.parameters.Hvds);
    run.dating = RunDating(o.value("dating").toInt());
    return run;
}

Outbox::Outbox(const QString &path)
    : m_path(QFileInfo(path).absoluteFilePath())
    , m_name(QStringLiteral("voltrak-outbox-%1").arg(++g_outboxes))
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        throw LibraryError(QStringLiteral("%1 を開けません（%2）")
                               .arg(QDir::toNativeSeparators(m_path), db.lastError().databaseText()));
    // Every run to the disk before the capture is called kept.
    ExecText(db, QStringLiteral("PRAGMA synchronous = FULL"));
    ExecText(db,
        QStringLiteral("CREATE TABLE IF NOT EXISTS outbox(id INTEGER PRIMARY KEY, "
                       "row_key BLOB NOT NULL UNIQUE, run BLOB NOT NULL)"));
}

Outbox::~Outbox()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

void Outbox::add(const RunInput &run)
{
    const QSqlDatabase db = QSqlDatabase::database(m_name, false);
    Write(db, [&] {
        QSqlQuery q = Prepare(db,
            QStringLiteral("INSERT INTO outbox(row_key, run) VALUES (?, ?) "
                           "ON CONFLICT(row_key) DO NOTHING"));
        q.addBindValue(RowsKey(run.rows));
        q.addBindValue(RunToBytes(run));
        Exec(q);
    });
}

int Outbox::count() const
{
    QSqlQuery q(QSqlDatabase::database(m_name, false));
    if (!q.exec(QStringLiteral("SELECT count(*) FROM outbox")) || !q.next())
        Fail(q.lastError());
    return q.value(0).toInt();
}

QList<Outbox::Entry> Outbox::pending(int limit) const
{
    QSqlQuery q = Prepare(
        QSqlDatabase::database(m_name, false), QStringLiteral("SELECT id, run FROM outbox ORDER BY id LIMIT ?"));
    q.addBindValue(limit);
    Exec(q);
    QList<Entry> out;
    while (q.next())
        out.append({q.value(0).toLongLong(), RunFromBytes(q.value(1).toByteArray())});
    return out;
}

void Outbox::remove(qint64 id)
{
    const QSqlDatabase db = QSqlDatabase::database(m_name, false);
    Write(db, [&] {
        QSqlQuery q = Prepare(db, QStringLiteral("DELETE FROM outbox WHERE id = ?"));
        q.addBindValue(id);
        Exec(q);
    });
}

} // namespace library
