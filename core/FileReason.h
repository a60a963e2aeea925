#pragma once
// Why a file could not be read or written, in the words of the program's
// other messages: the path and the system's reason, in Japanese.
#include <QString>

namespace filereason {

// The system's reason for an errno value ("ファイルがありません", "フォルダです"...).
QString ReasonText(int err);

// Looks at path as a reader would open it: the errno that stops reading
// (EISDIR for a folder), or 0 when it can be read.
int ReadProblem(const QString &path);

// Whether folder takes a new file, found by creating one: the permission
// tests answer yes for root and know nothing of read-only mounts.
bool FolderTakesNewFiles(const QString &folder);
// Whether path opens for reading and writing, by opening it.
bool OpensForWriting(const QString &path);

#ifdef _WIN32
// The errno value a Win32 error stands for (ERROR_ACCESS_DENIED: EACCES), 0 when none fits.
int ErrnoOf(unsigned long win32Error);
#endif

// "ファイル X は開けません（理由）".
QString CannotRead(const QString &path, int err);
// "ファイル X に書き込めません（理由）".
QString CannotWrite(const QString &path, int err);

} // namespace filereason
