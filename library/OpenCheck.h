#pragma once
// Before the library opens a file: whether it is a file VOLTRAK may open
// and write, found out without writing it.
#include <QString>

namespace library {

struct OpenCheck {
    bool ok = false; // may be opened; reason says why not
    bool fresh = false; // no VOLTRAK schema yet (a new or empty file)
    int version = 0; // the file's schema version
    QString reason;
};

// For an absolute path: a folder is refused, a missing folder is made, the
// folder must take new files (even reading needs SQLite's companions beside
// the file), an existing file must open for writing, start as an SQLite file
// and carry VOLTRAK's application id (or be empty).
OpenCheck CheckBeforeOpening(const QString &path);

} // namespace library
