// Draw command on a log of a million lines: the table at the end, and the only
// header at the top followed by the rows and a million other lines. Prints the
// extraction time and the whole draw time, over in-memory lines and over the
// log pane holding the same text.
#include "analysis/DischargeTable.h"
#include "bench/BenchTiming.h"
#include "core/LogLines.h"
#include "core/Settings.h"
#include "forms/DrawGraph.h"
#include "forms/Forms.h"
#include "forms/Ugraph.h"
#include "forms/Uparag.h"
#include "widgets/Application.h"
#include "widgets/Chart.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"
#include "widgets/LogPane.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int TotalLines = 1000000;
constexpr int Rows = 100;

QByteArray row(int k)
{
    const int centi = 140 - (k * 50) / Rows;
    QByteArray r = QByteArray::number(centi / 100) + '.' + QByteArray::number(centi % 100).rightJustified(2, '0') + "V";
    for (int j = 0; j < 4; ++j)
        r += ' ' + QByteArray::number(k * 2 + j);
    return r;
}

QByteArray other(int i)
{
    // About 30 bytes, like the discharger's per-minute progress lines.
    return "  " + QByteArray::number(i % 1000).rightJustified(4, ' ') + "  1.31 1.30 1.32 1.29  ok";
}

QList<QByteArray> tableAtEnd()
{
    QList<QByteArray> lines;
    lines.reserve(TotalLines);
    for (int i = 0; i < TotalLines - Rows - 1; ++i)
        lines.append(other(i));
    lines.append("Bat-V Bat1 Bat2 Bat3 Bat4");
    for (int k = 0; k < Rows; ++k)
        lines.append(row(k));
    return lines;
}

QList<QByteArray> headerAtTop()
{
    QList<QByteArray> lines;
    lines.reserve(TotalLines + Rows + 1);
    lines.append("Bat-V Bat1 Bat2 Bat3 Bat4");
    for (int k = 0; k < Rows; ++k)
        lines.append(row(k));
    for (int i = 0; i < TotalLines; ++i)
        lines.append(other(i));
    return lines;
}

void measure(const char *name, const LineSource &source, qint64 bytes)
{
    const double extract = medianMs(7, [&] {
        analysis::TDischargeTable table;
        analysis::ExtractDischargeTable(source, table);
        if (table.rowCount != Rows)
            std::printf("  unexpected row count %d\n", table.rowCount);
    });
    const double draw = medianMs(7, [&] { DrawGraphFrom(source); });
    // The chart replots on the next pass of the event loop; this includes it.
    const double drawn = medianMs(7, [&] {
        DrawGraphFrom(source);
        forms::graph->Chart1->refresh();
    });
    std::printf("%-44s %8d lines %5.1f MB  extract %8.2f ms  draw %8.2f ms  draw+replot %8.2f ms\n", name,
        source.lineCount(), bytes / 1e6, extract, draw, drawn);
}

qint64 sizeOf(const QList<QByteArray> &lines)
{
    qint64 n = 0;
    for (const QByteArray &l : lines)
        n += l.size() + 2;
    return n;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    VoltrakApplication app(argc, argv);
    fonts::InstallSubstitutions();
    errors::SetBoxHook([](errors::BoxKind, const QString &, const QString &text) {
        std::printf("  box: %s\n", text.toUtf8().constData());
    });
    settings::ResetToDefaults();
    settings::Hdisp = 1;
    forms::graph = new Tgraph;
    forms::parag = new Tparag;

    struct Case {
        const char *name;
        QList<QByteArray> lines;
    };
    const Case cases[] = {{"table at the end", tableAtEnd()}, {"header at the top, long tail", headerAtTop()}};

    for (const Case &c : cases) {
        const ByteLines lines(c.lines);
        measure((QByteArray("lines in memory: ") + c.name).constData(), lines, sizeOf(c.lines));

        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        {
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write(c.lines.join("\r\n"));
            f.write("\r\n");
        }
        LogPane pane;
        QElapsedTimer t;
        t.start();
        pane.loadFile(path);
        std::printf("  log pane load %.0f ms\n", t.nsecsElapsed() / 1e6);
        measure((QByteArray("log pane: ") + c.name).constData(), pane, sizeOf(c.lines));
    }

    delete forms::parag;
    delete forms::graph;
    return 0;
}
