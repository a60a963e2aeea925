#pragma once
// A whole library copied into an empty one: a file into a server library, a
// server library into a file (the backup of a server), or file to file.
#include <QString>
#include <QStringList>

namespace library {

class Library;

struct CopySummary {
    qint64 cells = 0;
    qint64 runs = 0;
    qint64 bays = 0;
    qint64 settings = 0;
    qint64 figures = 0; // measurements of internal resistance and self-discharge
};

// Every row of from's tables into to, in one transaction on to; to must be
// open for writing, at the same schema version, and hold no row yet (a new
// file, an empty database). Throws LibraryError with the reason, to unchanged.
CopySummary CopyLibrary(Library &from, Library &to);

// "セル 12、放電記録 30（ベイ 120）、測定 5、設定 4 を写しました"
QString CopySummaryText(const CopySummary &s);

} // namespace library
