#pragma once
// The times a log tells of itself besides its date stamps: a receive journal's
// start in its file name, and the line a recovered pane carries where the run
// goes on. Written by the journal and the main window, read back by the import.
#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace logtimes {

// Base name of a run started at the given local time: "YYYYMMDD-HHMMSS", and
// "-2", "-3"... for further runs started in the same second (index 2, 3...).
QString RunName(const QDateTime &start, int index);
// The start a run's journal is named after ("20261209-114501-2.log"); invalid
// for a file named any other way.
QDateTime RunStartOf(const QString &path);

// "---- 再開 yyyy/MM/dd HH:mm ----": the line between recovered text and what
// arrives after the restart.
QString RestartLine(const QDateTime &restart);
// The time of such a line as the log holds it (Shift-JIS, blanks around it
// allowed); invalid for any other line.
QDateTime RestartTime(const QByteArray &line);

} // namespace logtimes
