#include "library/Sql.h"

#include "library/Schema.h"

#include <QThread>

namespace library::sql {

bool IsBusy(const QSqlError &e)
{
    const QString code = e.nativeErrorCode();
    // SQLite: busy, locked. PostgreSQL (SQLSTATE): a serializable transaction
    // that met another's writes, a deadlock, a lock not available.
    return code == QLatin1String("5") || code == QLatin1String("6") || code == QLatin1String("40001")
        || code == QLatin1String("40P01") || code == QLatin1String("55P03");
}

bool IsUnreachable(const QSqlError &e)
{
    // SQLSTATE class 08 (connection exception), 57P01-03 (the server shutting
    // down); a connection that broke under a statement has no SQLSTATE at all.
    const QString code = e.nativeErrorCode();
    if (code.startsWith(QLatin1String("08")) || code.startsWith(QLatin1String("57P")))
        return true;
    return e.type() == QSqlError::ConnectionError
        || (code.isEmpty()
            && (e.databaseText().contains(QLatin1String("server closed the connection"))
                || e.databaseText().contains(QLatin1String("no connection to the server"))
                || e.databaseText().contains(QLatin1String("terminating connection"))));
}

void Fail(const QSqlError &e)
{
    const QString text = QStringLiteral("セル台帳の操作に失敗しました: %1").arg(e.databaseText());
    if (IsBusy(e))
        throw BusyError(text);
    if (IsUnreachable(e))
        throw UnreachableError(
            QStringLiteral("セル台帳のサーバーにつながりません: %1").arg(e.databaseText().trimmed()));
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

qint64 ReturnedId(QSqlQuery &q)
{
    if (!q.next())
        Fail(q.lastError());
    const qint64 id = q.value(0).toLongLong();
    q.finish();
    return id;
}

void ExecText(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql))
        Fail(q.lastError());
}

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

QVariant Text(const QString &s)
{
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}

QVariant NullableId(qint64 id)
{
    return id ? QVariant(id) : QVariant(QMetaType(QMetaType::LongLong));
}

void WriteTransaction(const QSqlDatabase &db, const std::function<void()> &fn)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    const bool server = schema::IsServer(db);
    // A file: the write lock at once. A server: every write serializable, so
    // two benches editing one cell at once never leave it half done; the one
    // that loses is run again from the start.
    const QString begin
        = server ? QStringLiteral("BEGIN ISOLATION LEVEL SERIALIZABLE") : QStringLiteral("BEGIN IMMEDIATE");
    for (int attempt = 0;; ++attempt) {
        try {
            ExecText(db, begin);
        } catch (const BusyError &) {
            if (std::chrono::steady_clock::now() > giveUp)
                throw;
            QThread::msleep(20 + 10 * (attempt % 5));
            continue;
        }
        try {
            fn();
            if (server)
                ExecText(db, QStringLiteral("SELECT nextval('voltrak_changes')"));
            ExecText(db, QStringLiteral("COMMIT"));
            return;
        } catch (const BusyError &) {
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            if (std::chrono::steady_clock::now() > giveUp)
                throw;
            QThread::msleep(20);
        } catch (...) {
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            throw;
        }
    }
}

} // namespace library::sql
