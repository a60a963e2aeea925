#include "library/LibraryCopy.h"
#include "library/Library.h"
#include "library/Schema.h"
#include "library/Sql.h"

#include <QSqlField>
#include <QSqlRecord>

namespace library {

using namespace sql;

namespace {

// In the order their keys need; cell_stats is kept by the target itself.
const char *const CopiedTables[] = {"settings", "cells", "runs", "run_bays", "measurements"};

qint64 Count(const QSqlDatabase &db, const QString &table)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM %1").arg(table)) || !q.next())
        Fail(q.lastError());
    return q.value(0).toLongLong();
}

qint64 CopyTable(const QSqlDatabase &from, const QSqlDatabase &to, const QString &table)
{
    QSqlQuery read(from);
    read.setForwardOnly(true);
    if (!read.exec(QStringLiteral("SELECT * FROM %1").arg(table)))
        Fail(read.lastError());
    const QSqlRecord columns = read.record();
    QStringList names, marks;
    for (int c = 0; c < columns.count(); ++c) {
        names << columns.fieldName(c);
        marks << QStringLiteral("?");
    }
    QSqlQuery write
        = Prepare(to, QStringLiteral("INSERT INTO %1(%2) VALUES (%3)").arg(table, names.join(u','), marks.join(u',')));
    // A file's columns take any type: a number stored as text goes back as the column's type.
    qint64 n = 0;
    while (read.next()) {
        for (int c = 0; c < columns.count(); ++c)
            write.bindValue(c, read.value(c));
        Exec(write);
        ++n;
    }
    if (read.lastError().isValid())
        Fail(read.lastError());
    return n;
}

} // namespace

CopySummary CopyLibrary(Library &from, Library &to)
{
    if (!from.isOpen())
        throw LibraryError(from.reason());
    if (!to.isWritable())
        throw LibraryError(to.reason().isEmpty() ? QStringLiteral("%1 に書き込めません").arg(to.path()) : to.reason());
    const QSqlDatabase source = from.database();
    const QSqlDatabase target = to.database();
    qint64 held = 0;
    for (const char *t : CopiedTables)
        held += Count(target, QLatin1String(t));
    if (held > 0)
        throw LibraryError(
            QStringLiteral("%1 は空ではありません（%2 行）。空のセル台帳にだけ写します").arg(to.path()).arg(held));
    if (schema::IsServer(source) ? schema::ServerVersion(source) != SchemaVersion : !schema::IsCurrent(source))
        throw LibraryError(QStringLiteral("%1 はこの版のセル台帳ではありません").arg(from.path()));
    CopySummary s;
    // One view of the source, whatever other benches write meanwhile.
    ExecText(source,
        schema::IsServer(source) ? QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")
                                 : QStringLiteral("BEGIN"));
    struct EndRead {
        QSqlDatabase db;
        ~EndRead() { QSqlQuery(db).exec(QStringLiteral("ROLLBACK")); }
    } endRead{source};
    Write(target, [&] {
        s.settings = CopyTable(source, target, QStringLiteral("settings"));
        s.cells = CopyTable(source, target, QStringLiteral("cells"));
        s.runs = CopyTable(source, target, QStringLiteral("runs"));
        s.bays = CopyTable(source, target, QStringLiteral("run_bays"));
        s.figures = CopyTable(source, target, QStringLiteral("measurements"));
        if (schema::IsServer(target)) {
            // The ids came with the rows: the server's own numbering goes on after them.
            for (const char *t : {"cells", "runs", "measurements"}) {
                ExecText(target,
                    QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', 'id'), "
                                   "coalesce((SELECT max(id) FROM %1), 0) + 1, false)")
                        .arg(QLatin1String(t)));
            }
        }
    });
    return s;
}

QString CopySummaryText(const CopySummary &s)
{
    return QStringLiteral("セル %1、放電記録 %2（ベイ %3）、測定 %4、設定 %5 を写しました")
        .arg(s.cells)
        .arg(s.runs)
        .arg(s.bays)
        .arg(s.figures)
        .arg(s.settings);
}

} // namespace library
