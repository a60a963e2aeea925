#include "library/Backup.h"
#include "core/SafeWrite.h"
#include "library/LibraryError.h"

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

void BackupLibrary(const QString &libraryPath, const QString &file)
{
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
