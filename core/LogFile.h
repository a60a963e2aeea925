#pragma once
// Reading a saved log or a receive journal: the one reader behind the open
// command, the journal recovery, the cell list and the command line.
#include "core/LogLines.h"

#include <QString>

// The file's text as the open command puts it into the log pane (Shift-JIS,
// invalid bytes kept). Throws std::runtime_error ("ファイル %1 は開けません")
// when it cannot be read.
QString ReadLogFile(const QString &path);

// The lines the log pane would hold after opening the file, so a file and the
// pane give the same tables. Throws as ReadLogFile does.
ByteLines ReadLogFileLines(const QString &path);
