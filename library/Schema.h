#pragma once
// The library's tables, one step per schema version, and the bringing of a
// file or a server library up to date under the write lock. A server library
// keeps its mark and version in the table voltrak_library.
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace library {

// The file's application_id: "VTRK". A file with another nonzero id is not ours.
constexpr qint32 ApplicationId = 0x5654524B;
// The schema version this build writes (PRAGMA user_version). Older files are
// migrated step by step on open; newer ones open read-only.
constexpr int SchemaVersion = 2;

namespace schema {

// The statements that take a library file from version from to from + 1.
const QStringList &MigrationStep(int from);
// The same for a library on a PostgreSQL server (its own types and triggers).
const QStringList &ServerMigrationStep(int from);

// Whether db is a server library (Qt's PostgreSQL driver) rather than a file.
bool IsServer(const QSqlDatabase &db);
// A server library's version, 0 where the database holds none yet.
int ServerVersion(const QSqlDatabase &db);

// Whether the open file is at this build's version and marked as VOLTRAK's,
// read without a write.
bool IsCurrent(const QSqlDatabase &db);

// Brings the file to SchemaVersion in one write transaction, reading its
// version again under the lock (another copy may have migrated it meanwhile).
// display names the file in the errors: not VOLTRAK's, or newer than this build.
void Migrate(const QSqlDatabase &db, const QString &display);

} // namespace schema
} // namespace library
