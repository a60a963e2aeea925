// The cell list on a log of a million lines holding 200 dumps: finding every
// table and computing every cell's figures, beside the last-table extraction
// on the same log, over in-memory lines and over the log pane.
#include "analysis/DischargeTable.h"
#include "bench/BenchTiming.h"
#include "cells/CellList.h"
#include "core/LogLines.h"
#include "widgets/LogPane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int TotalLines = 1000000;
constexpr int Dumps = 200;
constexpr int Rows = 26; // 1.45 V down to 0.20 V in 0.05 V steps

QList<QByteArray> makeLog()
{
    QList<QByteArray> lines;
    lines.reserve(TotalLines);
    const int perDump = TotalLines / Dumps;
    for (int d = 0; d < Dumps; ++d) {
        lines.append("2026/12/08 " + QByteArray::number(10 + d % 14) + ":" + QByteArray::number(10 + d % 50));
        // Progress lines of the discharge, then the dump.
        for (int i = 0; i < perDump - Rows - 2; ++i)
            lines.append("  " + QByteArray::number(i % 1000).rightJustified(4, ' ') + "  1.31 1.30 1.32 1.29  ok");
        lines.append("Bat-V Bat1 Bat2 Bat3 Bat4");
        for (int k = 0; k < Rows; ++k) {
            const int centi = 145 - 5 * k;
            QByteArray r
                = QByteArray::number(centi / 100) + '.' + QByteArray::number(centi % 100).rightJustified(2, '0') + "V";
            for (int j = 0; j < 4; ++j)
                r += ' ' + QByteArray::number(k * (6 + j) + d % 7);
            lines.append(r);
        }
    }
    return lines;
}

void measure(const char *name, const LineSource &source)
{
    const double extract = medianMs(7, [&] {
        analysis::TDischargeTable table;
        analysis::ExtractDischargeTable(source, table);
        if (table.rowCount != Rows)
            std::printf("  unexpected row count %d\n", table.rowCount);
    });
    const double find = medianMs(7, [&] {
        if (analysis::FindAllTables(source).size() != Dumps)
            std::printf("  unexpected table count\n");
    });
    const double all = medianMs(7, [&] {
        cells::CellSources sources;
        sources.setLog(source);
        if (sources.cells(analysis::CapacityParameters()).rows.size() != Dumps * 4)
            std::printf("  unexpected cell count\n");
    });
    std::printf("%-18s %8d lines  last table %8.2f ms  every table %8.2f ms  every table + cell figures %8.2f ms"
                "  (target < 100 ms; %.1f x the last table)\n",
        name, source.lineCount(), extract, find, all, all / extract);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QList<QByteArray> log = makeLog();
    std::printf("%d dumps of %d rows in %lld lines\n", Dumps, Rows, qlonglong(log.size()));
    const ByteLines lines(log);
    measure("lines in memory", lines);

    QTemporaryDir dir;
    const QString path = dir.filePath("log.txt");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(log.join("\r\n") + "\r\n");
    f.close();
    LogPane pane;
    pane.loadFile(path);
    measure("log pane", pane);
    // What reading the pane costs before any table is looked at: taking the
    // text out of the document in one piece.
    const double copy = medianMs(7, [&] { (void)pane.document()->toRawText(); });
    std::printf("  log pane: the document's text taken out alone %.2f ms\n", copy);
    return 0;
}
