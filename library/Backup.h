#pragma once
// A copy of the whole library into another file, made on a connection of its
// own, so the library's worker goes on recording meanwhile.
#include <QString>

namespace library {

// A consistent copy of the library at libraryPath into file (VACUUM INTO a
// file beside it, to the disk, then renamed into place): a crash leaves the
// old copy or the new one. A library on a server is copied whole into a new
// library file (CopyLibrary). Any thread. Throws LibraryError.
void BackupLibrary(const QString &libraryPath, const QString &file);

} // namespace library
