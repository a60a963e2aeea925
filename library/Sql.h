#pragma once
// What every statement of the cell library goes through: errors as
// LibraryError with the database's text, prepared statements, and a write
// transaction that is tried again while another process holds the file.
#include "library/LibraryError.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <chrono>
#include <functional>

namespace library::sql {

// Another process holds the file longer than the busy time-out: the whole
// transaction is tried again.
class BusyError : public LibraryError
{
public:
    using LibraryError::LibraryError;
};

// The database's "busy" or "locked", or a server transaction that must be run again.
bool IsBusy(const QSqlError &e);
bool IsUnreachable(const QSqlError &e);
// "セル台帳の操作に失敗しました: <the database's text>", as BusyError when busy,
// as UnreachableError when the server is gone.
[[noreturn]] void Fail(const QSqlError &e);
void Exec(QSqlQuery &q);
QSqlQuery Prepare(const QSqlDatabase &db, const QString &sql);
// The id an INSERT ... RETURNING id gave (the same on a file and a server).
qint64 ReturnedId(QSqlQuery &q);
// A statement without values (schema, pragmas, transactions).
void ExecText(const QSqlDatabase &db, const QString &sql);

// Times are stored as seconds since the epoch; they sort as numbers.
qint64 ToStored(const QDateTime &t);
QDateTime FromStored(qint64 s);
QVariant NullableDouble(bool has, double v);
// The text columns are NOT NULL; a null QString would be bound as NULL.
QVariant Text(const QString &s);
// 0 is no row: NULL.
QVariant NullableId(qint64 id);

// Runs fn between BEGIN IMMEDIATE and COMMIT, again from the start while
// another writer holds the file (for up to a minute: what is to be written,
// a captured run, is worth the wait); any other failure rolls back and is
// thrown on.
void WriteTransaction(const QSqlDatabase &db, const std::function<void()> &fn);

template <typename Fn> auto Write(const QSqlDatabase &db, Fn fn) -> decltype(fn())
{
    if constexpr (std::is_void_v<decltype(fn())>) {
        WriteTransaction(db, fn);
    } else {
        decltype(fn()) result{};
        WriteTransaction(db, [&] { result = fn(); });
        return result;
    }
}

} // namespace library::sql
