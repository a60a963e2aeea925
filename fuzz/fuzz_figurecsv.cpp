// The figures CSV reader from arbitrary bytes, with the columns taken from
// the first byte: every record it keeps is a measurement the library would
// store, and every record is either kept or refused.
#include "library/Figures.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    library::FigureColumns columns;
    QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    if (!text.isEmpty()) {
        // Mostly the usual order, sometimes another one.
        const uint8_t c = uint8_t(text.at(0));
        if (c & 0x80) {
            columns.label = c & 3;
            columns.date = (c >> 2) & 3;
            columns.figure = (c >> 4) & 1;
            columns.value = 3;
            columns.header = c & 0x40;
            text.remove(0, 1);
        }
    }
    const library::FigureFile file = library::ReadFigureFile(text, columns);
    for (const library::FigureRecord &r : file.records) {
        if (r.label.isEmpty() || r.label != r.label.trimmed() || !library::MeasurementProblem(r.measurement).isEmpty())
            std::abort();
        if (r.measurement.kind == library::FigureKind::SelfDischarge && r.measurement.restDays < 1)
            std::abort();
    }
    for (const library::BadFigureRecord &b : file.bad) {
        if (b.reason.isEmpty() || b.line < 1)
            std::abort();
    }
    // The columns' text reads back as the same columns.
    const std::optional<library::FigureColumns> back
        = library::FigureColumnsFromText(library::FigureColumnsText(columns));
    if (!back || !(*back == columns))
        std::abort();
    library::FigureColumnsFromText(QString::fromUtf8(text.left(64)));
    library::ParseFigureDate(QString::fromUtf8(text.left(32)));
    return 0;
}
