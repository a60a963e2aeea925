#pragma once
// Before the library opens a file: whether it is a file VOLTRAK may open
// and write, found out without writing it.
#include <QString>

namespace library {

// Whether opening may make the library: the program and the import make a
// missing one; the commands that only read it never make a file or a folder.
enum class OpenMode { CreateIfMissing, ExistingOnly };

struct OpenCheck {
    bool ok = false; // may be opened; reason says why not
    bool fresh = false; // no VOLTRAK schema yet (a new or empty file)
    bool missing = false; // ExistingOnly and no library there; reason is MissingText
    int version = 0; // the file's schema version
    QString reason;
};

// For an absolute path: a folder is refused, a missing folder is made (only
// when creating), the folder must take new files (even reading needs SQLite's
// companions beside the file), an existing file must open for writing, start
// as an SQLite file and carry VOLTRAK's application id (or be empty). With
// ExistingOnly, a missing file and one without VOLTRAK's schema yet are missing.
OpenCheck CheckBeforeOpening(const QString &path, OpenMode mode = OpenMode::CreateIfMissing);

// "セル台帳がありません: <path>"
QString MissingText(const QString &path);

} // namespace library
