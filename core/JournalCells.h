#pragma once
// What the library knew of each table a run captured, kept beside the run's
// receive journal ("X.log" -> "X.cells"), which stays the bytes received: one
// line per table, its time, the key of its rows and its four bays' labels, so
// that importing the journal gives the cells and times of the live capture.
// The journal's writer appends the lines; the import reads them back.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace journalcells {

// The file beside a journal: its name with ".cells" for ".log".
QString PathFor(const QString &journalPath);

struct Entry {
    QDateTime when; // local time, to the millisecond
    QByteArray key; // the table's rows key, as hexadecimal text
    QStringList labels; // the four bays; an empty one has none
};

// "2026-12-09T11:45:12.345 <key> E-1 E-2 - E-4\n": "-" for an empty bay; a
// blank, "%" or a lone "-" in a label written as %XX (UTF-8).
QByteArray Line(const Entry &entry);
// A line as Line wrote it (without its line break); none for any other.
std::optional<Entry> ParseLine(const QByteArray &line);
// Every whole line of a file; a last line without its break (cut short by
// a crash) and lines that are no entry are left out.
QList<Entry> Parse(const QByteArray &file);

} // namespace journalcells
