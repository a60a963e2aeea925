#include "library/Backup.h"
#include "core/SafeWrite.h"
#include "library/Library.h"
#include "library/LibraryCopy.h"
#include "library/LibraryError.h"
#include "library/ServerLocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

namespace library {

namespace {
std::atomic<int> g_backups{0};
}

namespace {

// A server library's backup is a library file: the whole library copied into
// a new file beside the target, then put in its place.
void BackupServer(const QString &location, const QString &file)
{
    const QString target = QFileInfo(file).absoluteFilePath();
    const QString display = QDir::toNativeSeparators(target);
    const QString part = target + QStringLiteral(".part");
    QFile::remove(part);
    try {
        Library from(location, OpenMode::ExistingOnly);
        if (!from.isOpen())
            throw LibraryError(from.reason());
        Library to(part);
        CopyLibrary(from, to);
    } catch (const LibraryError &e) {
        QFile::remove(part);
        throw LibraryError(QStringLiteral("%1 を作成できません（%2）").arg(display, e.text()));
    }
    for (const char *companion : {"-wal", "-shm"})
        QFile::remove(part + QLatin1String(companion));
    try {
        safewrite::CommitFile(part, target);
    } catch (const safewrite::WriteError &) {
        QFile::remove(part);
        throw LibraryError(QStringLiteral("%1 を作成できません").arg(display));
    }
}

} // namespace

void BackupLibrary(const QString &libraryPath, const QString &file)
{
    if (IsServerLocation(libraryPath)) {
        BackupServer(libraryPath, file);
        return;
    }
    const QString source = QFileInfo(libraryPath).absoluteFilePath();
    const QString target = QFileInfo(file).absoluteFilePath();
    const QString display = QDir::toNativeSeparators(target);
    if (target == source)
        throw LibraryError(QStringLiteral("%1 はセル台帳そのものです").arg(display));
    const QString part = target + QStringLiteral(".part");
    QFile::remove(part);
    const QString name = QStringLiteral("voltrak-backup-%1").arg(++g_backups);
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(source);
        // Read-only: a backup never changes what it copies.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            error = db.lastError().databaseText();
        } else {
            QSqlQuery q(db);
            if (!q.prepare(QStringLiteral("VACUUM INTO ?"))) {
                error = q.lastError().databaseText();
            } else {
                q.addBindValue(part);
                if (!q.exec())
                    error = q.lastError().databaseText();
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (!error.isEmpty()) {
        QFile::remove(part);
        throw LibraryError(QStringLiteral("%1 を作成できません（%2）").arg(display, error));
    }
    try {
        safewrite::CommitFile(part, target);
    } catch (const safewrite::WriteError &) {
        QFile::remove(part);
        throw LibraryError(QStringLiteral("%1 を作成できません").arg(display));
    }
}

} // namespace library
