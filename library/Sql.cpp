#include "library/Sql.h"

#include <QThread>

namespace library::sql {

bool IsBusy(const QSqlError &e)
{
    const QString code = e.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6");
}

void Fail(const QSqlError &e)
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
    for (int attempt = 0;; ++attempt) {
        try {
            ExecText(db, QStringLiteral("BEGIN IMMEDIATE"));
        } catch (const BusyError &) {
            if (std::chrono::steady_clock::now() > giveUp)
                throw;
            QThread::msleep(20 + 10 * (attempt % 5));
            continue;
        }
        try {
            fn();
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
