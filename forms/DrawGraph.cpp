#include "forms/DrawGraph.h"
#include "core/Messages.h"

#include "analysis/Capacity.h"
#include "core/Settings.h"
#include "forms/Forms.h"
#include "forms/Ugraph.h"
#include "widgets/Chart.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/LogPane.h"

#include <QLabel>

QString TimeUnitText(qint32 htime)
{
    return analysis::TimeUnitText(htime);
}

void PlotVoltageCurves(Chart &chart, const QList<analysis::TableRow> &rows, qint32 gvmax)
{
    for (int j = 0; j < Chart::SeriesCount; ++j)
        chart.series(j).clear();
    const double cap = gvmax * 0.01;
    for (const analysis::TableRow &row : rows) {
        // Flattened at the top of the allowed range; a voltage equal to the cap stays.
        const double v = row.voltage > cap ? cap : row.voltage;
        for (int j = 0; j < row.cellCount && j < Chart::SeriesCount; ++j)
            chart.series(j).addXY(double(row.times[j]), v, QString(), ChartSeries::SeriesColour);
    }
}

void PlotVoltageCurves(Chart &chart)
{
    const QList<analysis::TableRow> rows = analysis::ConvertTable(analysis::DischargeTable);
    PlotVoltageCurves(chart, rows, settings::Gvmax);
}

bool FillGraphFrom(Tgraph &graph, const LineSource &lines)
{
    analysis::ExtractDischargeTable(lines, analysis::DischargeTable);
    if (analysis::DischargeTable.rowCount < 2)
        return false;

    // Every row is converted before anything on the chart changes, so a bad
    // row leaves the curves that were shown before.
    const QList<analysis::TableRow> rows = analysis::ConvertTable(analysis::DischargeTable);

    ChartAxis &bottom = graph.Chart1->bottomAxis();
    bottom.setAutomatic(false);
    bottom.setMinimum(0.0);
    bottom.setMaximum(double(settings::Gtmax));

    PlotVoltageCurves(*graph.Chart1, rows, settings::Gvmax);
    analysis::EstimateCapacities(rows, analysis::CurrentCapacityParameters(), analysis::capacity);

    QLabel *cells[4] = {graph.Y1, graph.Y2, graph.Y3, graph.Y4};
    if (settings::Hdisp != 0) {
        graph.TTL->setText(QStringLiteral("推定容量(mAh)"));
        for (int j = 0; j < 4; ++j)
            cells[j]->setText(analysis::FormatCapacityLine(j));
        graph.TTM->setText(QStringLiteral("時間軸：") + TimeUnitText(settings::Htime));
    } else {
        graph.TTL->clear();
        for (QLabel *label : cells)
            label->clear();
        graph.TTM->clear();
    }
    return true;
}

void DrawGraphFrom(const LineSource &lines)
{
    Tgraph *graph = forms::graph;
    graph->SetOuterSize(settings::Gwide, settings::Gheit);
    if (!FillGraphFrom(*graph, lines)) {
        errors::ShowWarning(messages::NoValidData());
        return;
    }
    graph->show();
    graph->raise();
    graph->activateWindow();
}
