// Table extraction from arbitrary log text: finding the last table, splitting
// its rows and converting them.
#include "analysis/DischargeTable.h"
#include "core/LogLines.h"

#include <QByteArray>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const ByteLines lines = ByteLines::fromText(text);
    analysis::TDischargeTable table;
    analysis::ExtractDischargeTable(lines, table);
    for (const QByteArray &row : table.rows) {
        const QList<QByteArray> fields = analysis::SplitFields(row);
        for (int c = 0; c < 4; ++c)
            analysis::FieldTime(fields, c);
    }
    try {
        analysis::ConvertTable(table);
    } catch (const analysis::VoltageFormatError &) {
        // a row whose voltage is not a number: reported, as intended
    }
    return 0;
}
