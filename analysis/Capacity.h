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
    qint32 Hteiko = 100; // discharge resistor, 0.01 ohm
    qint32 Hvds = 5; // FET saturation voltage, 0.01 V
    qint32 Htime = 0; // time base: 0 one minute, 1 ten seconds, 2 one second
};

// Hours per time count for the time base Htime (unknown values count minutes).
double CountsPerHour(qint32 htime);

// Trapezoid sums over the rows, per cell: the first row counts as a rectangle
// from time 0 to its time at its own value, every later row adds the trapezoid
// between the value of the row before it (whatever columns that row had) and
// its own, over the change of the cell's time count (from the last row that had
// that column) divided by countsPerUnit. value(voltage) gives a row's value.
template <typename Value>
void IntegrateOverTime(const QList<TableRow> &rows, Value value, double countsPerUnit, double (&out)[4])
{
    for (double &c : out)
        c = 0.0;
    double previousValue = 0.0;
    qint32 previousTime[4] = {0, 0, 0, 0};
    for (qsizetype k = 0; k < rows.size(); ++k) {
        const TableRow &row = rows.at(k);
        const double current = value(row.voltage);
        const double before = (k == 0) ? current : previousValue;
        previousValue = current;
        for (int j = 0; j < row.cellCount && j < 4; ++j) {
            const qint32 t = row.times[j];
            // 64-bit so that extreme counts cannot wrap around.
            const qint64 steps = qint64(t) - qint64(previousTime[j]);
            previousTime[j] = t;
            out[j] += (before + current) * (double(steps) / countsPerUnit) * 0.5;
        }
    }
}

// mA through the discharge resistor at a row voltage.
double CurrentAt(double voltage, const CapacityParameters &p);

// Estimates from converted rows into out (reset first).
void EstimateCapacities(const QList<TableRow> &rows, const CapacityParameters &p, double (&out)[4]);
// Converts the table first; throws VoltageFormatError like ConvertTable.
void EstimateCapacities(const TDischargeTable &table, const CapacityParameters &p, double (&out)[4]);

// "%d %8.1f" of the cell number (index + 1) and its capacity, with "." as the
// decimal point.
QString FormatCapacityLine(int cell, const double (&values)[4]);

// The time unit text for Htime: "分", "10秒", "秒"; values outside 0..2 read
// as minutes, the time base the capacity estimate then assumes as well.
QString TimeUnitText(qint32 htime);

// Process-wide forms: DischargeTable and the settings in, capacity out.
CapacityParameters CurrentCapacityParameters();
void EstimateCapacities();
QString FormatCapacityLine(int cell);

} // namespace analysis
