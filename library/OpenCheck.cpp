#include "library/OpenCheck.h"
#include "core/FileReason.h"
#include "library/Schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

namespace library {

namespace {

std::atomic<int> g_inspections{0};

// What the file is, read without writing it.
OpenCheck Inspect(const QString &path)
{
    OpenCheck in;
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
    const QString name = QStringLiteral("voltrak-inspect-%1").arg(++g_inspections);
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

QString MissingText(const QString &path)
{
    return QStringLiteral("セル台帳がありません: %1").arg(QDir::toNativeSeparators(path));
}

OpenCheck CheckBeforeOpening(const QString &path, OpenMode mode)
{
    OpenCheck check;
    const QString display = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const auto missing = [&path] {
        OpenCheck m;
        m.missing = true;
        m.reason = MissingText(path);
        return m;
    };
    if (info.isDir()) {
        check.reason = QStringLiteral("%1 はフォルダです").arg(display);
        return check;
    }
    if (!info.exists() && mode == OpenMode::ExistingOnly)
        return missing();
    if (!info.exists() && !QDir().mkpath(folder)) {
        check.reason = QStringLiteral("フォルダ %1 を作成できません").arg(QDir::toNativeSeparators(folder));
        return check;
    }
    // Before the file is looked into: even reading a library needs its
    // companions beside it (-wal, -shm), which only a writable folder takes.
    if (!filereason::FolderTakesNewFiles(folder)) {
        check.reason = QStringLiteral("フォルダ %1 に書き込めません").arg(QDir::toNativeSeparators(folder));
        return check;
    }
    if (info.exists() && !filereason::OpensForWriting(path)) {
        check.reason = QStringLiteral("%1 に書き込めません").arg(display);
        return check;
    }
    if (!info.exists()) {
        check.ok = check.fresh = true;
        return check;
    }
    const OpenCheck found = Inspect(path);
    // Opening would write the schema into it: that is making a library.
    if (found.ok && found.fresh && mode == OpenMode::ExistingOnly)
        return missing();
    return found;
}

} // namespace library
