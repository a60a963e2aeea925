// The import's reading of a log file from arbitrary bytes: "セル:" lines, date
// stamps and tables, with no database behind it.
#include "core/LogLines.h"
#include "library/LogImport.h"

#include <QByteArray>
#include <QDateTime>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const ByteLines lines = ByteLines::fromText(text);
    for (qsizetype i = 0; i < lines.count(); ++i) {
        QString labels[library::BayCount];
        library::ParseCellsLine(lines.line(i), labels);
        library::StampTime(lines.line(i));
    }
    const QDateTime fileTime(QDate(2026, 1, 1), QTime(0, 0));
    const QList<library::RunInput> runs = library::RunsInLog(lines, fileTime, QStringLiteral("f.log"), {});
    for (const library::RunInput &run : runs) {
        // Every run the import would record has rows and a time to file it under.
        if (run.rows.isEmpty() || !run.when.isValid())
            std::abort();
    }
    return 0;
}
