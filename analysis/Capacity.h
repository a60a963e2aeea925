#pragma once
// Capacity (mAh) delivered by each cell, estimated from the discharge table:
// each voltage level gives a current through the discharge resistor, integrated
// over the table's times with the trapezoid rule.
#include "analysis/DischargeTable.h"

#include <QString>

namespace analysis {

// The accumulators of the last estimate, one per cell, in mAh.
extern double capacity[4];

struct CapacityParameters {
    qint32 Hteiko = 100;  // discharge resistor, 0.01 ohm
    qint32 Hvds = 5;      // FET saturation voltage, 0.01 V
    qint32 Htime = 0;     // time base: 0 one minute, 1 ten seconds, 2 one second
};

// Hours per time count for the time base Htime (unknown values count minutes).
double CountsPerHour(qint32 htime);

// Estimates from converted rows into out (reset first).
void EstimateCapacities(const QList<TableRow> &rows, const CapacityParameters &p, double (&out)[4]);
// Converts the table first; throws VoltageFormatError like ConvertTable.
void EstimateCapacities(const TDischargeTable &table, const CapacityParameters &p, double (&out)[4]);

// "%d %8.1f" of the cell number (index + 1) and its capacity, with "." as the
// decimal point.
QString FormatCapacityLine(int cell, const double (&values)[4]);

// Process-wide forms: DischargeTable and the settings in, capacity out.
CapacityParameters CurrentCapacityParameters();
void EstimateCapacities();
QString FormatCapacityLine(int cell);

} // namespace analysis
