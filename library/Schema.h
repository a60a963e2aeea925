#pragma once
// The library's tables, one step per schema version, and the bringing of a
// file up to date under the write lock.
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

// The statements that take a library from version from to from + 1.
const QStringList &MigrationStep(int from);

// Whether the open file is at this build's version and marked as VOLTRAK's,
// read without a write.
bool IsCurrent(const QSqlDatabase &db);

// Brings the file to SchemaVersion in one write transaction, reading its
// version again under the lock (another copy may have migrated it meanwhile).
// display names the file in the errors: not VOLTRAK's, or newer than this build.
void Migrate(const QSqlDatabase &db, const QString &display);

} // namespace schema
} // namespace library
