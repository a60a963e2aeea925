#pragma once
// The draw command: from the log's last discharge table to the curves, the
// capacity labels and the shown graph window.
#include "analysis/DischargeTable.h"

#include <QList>
#include <QString>

class Chart;
class LineSource;
class Tgraph;

// The time unit text for the setting Htime; values outside 0..2 read as
// minutes, the time base the capacity estimate then assumes as well.
QString TimeUnitText(qint32 htime);

// Clears the four series and adds each row's points, voltages capped at
// gvmax x 0.01 V. The rows are converted already, so this cannot fail halfway.
void PlotVoltageCurves(Chart &chart, const QList<analysis::TableRow> &rows, qint32 gvmax);

// Plots analysis::DischargeTable on the chart with the setting Gvmax; throws
// analysis::VoltageFormatError, before touching the chart, when a row's
// voltage is not a number.
void PlotVoltageCurves(Chart &chart);

// Extracts the last table from the lines and fills the window's chart and
// labels as the draw command does, without sizing or showing it. False, and
// nothing touched but analysis::DischargeTable, when the table has fewer than
// two rows; a row whose voltage is not a number throws
// analysis::VoltageFormatError before the chart changes.
bool FillGraphFrom(Tgraph &graph, const LineSource &lines);

// Sizes the graph window (forms::graph), extracts the table from the lines, plots, estimates
// the capacities, fills or blanks the labels and shows the window. Fewer than
// two rows: the warning "有効なデータがありません" and nothing else but the size.
// A row whose voltage is not a number throws analysis::VoltageFormatError and
// leaves the chart, the labels and the window as they were.
void DrawGraphFrom(const LineSource &lines);
