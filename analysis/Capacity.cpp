#include "analysis/Capacity.h"

#include <charconv>

#include "core/Settings.h"

namespace analysis {

double capacity[4] = {0.0, 0.0, 0.0, 0.0};

double CountsPerHour(qint32 htime)
{
    switch (htime) {
    case 1: return 360.0;
    case 2: return 3600.0;
    default: return 60.0;
    }
}

double CurrentAt(double v, const CapacityParameters &p)
{
    double u = v - p.Hvds * 0.01;
    if (u < 0.0)
        u = 0.0;
    // A resistor of zero or less only comes from a hand-edited ini file; it
    // would give an infinite or negative current, so it counts as no current.
    if (p.Hteiko <= 0)
        return 0.0;
    return u / p.Hteiko * 100000.0;
}

void EstimateCapacities(const QList<TableRow> &rows, const CapacityParameters &p, double (&out)[4])
{
    IntegrateOverTime(
        rows, [&p](double v) { return CurrentAt(v, p); }, CountsPerHour(p.Htime), out);
}

void EstimateCapacities(const TDischargeTable &table, const CapacityParameters &p, double (&out)[4])
{
    EstimateCapacities(ConvertTable(table), p, out);
}

QString FormatCapacityLine(int cell, const double (&values)[4])
{
    const double c = (cell >= 0 && cell < 4) ? values[cell] : 0.0;
    // printf's "%d %8.1f", rounding as printf does (2.25 is exactly halfway
    // and goes to the even 2.2), with "." whatever the locale.
    char digits[400];
    const auto r = std::to_chars(digits, digits + sizeof digits, c, std::chars_format::fixed, 1);
    const QString value = QString::fromLatin1(digits, int(r.ptr - digits));
    return QString::number(cell + 1) + QLatin1Char(' ') + value.rightJustified(8, QLatin1Char(' '));
}

QString TimeUnitText(qint32 htime)
{
    switch (htime) {
    case 1: return QStringLiteral("10秒");
    case 2: return QStringLiteral("秒");
    default: return QStringLiteral("分");
    }
}

CapacityParameters CurrentCapacityParameters()
{
    CapacityParameters p;
    p.Hteiko = settings::Hteiko;
    p.Hvds = settings::Hvds;
    p.Htime = settings::Htime;
    return p;
}

void EstimateCapacities()
{
    EstimateCapacities(DischargeTable, CurrentCapacityParameters(), capacity);
}

QString FormatCapacityLine(int cell)
{
    return FormatCapacityLine(cell, capacity);
}

} // namespace analysis
