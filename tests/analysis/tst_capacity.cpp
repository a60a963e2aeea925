// The capacity estimate from a discharge table, and its label text.
#include "analysis/Capacity.h"
#include "core/Settings.h"

#include <QLocale>
#include <QtTest>

#include <cmath>
#include <cstdio>
#include <vector>

using analysis::CapacityParameters;
using analysis::TDischargeTable;

namespace {

TDischargeTable tableOf(const QByteArrayList &rows)
{
    TDischargeTable t;
    t.rows = rows;
    t.rowCount = qint32(rows.size());
    return t;
}

struct Caps {
    double v[4] = {0, 0, 0, 0};
};

Caps estimate(const QByteArrayList &rows, qint32 hteiko, qint32 hvds, qint32 htime)
{
    Caps c;
    CapacityParameters p;
    p.Hteiko = hteiko;
    p.Hvds = hvds;
    p.Htime = htime;
    analysis::EstimateCapacities(tableOf(rows), p, c.v);
    return c;
}

// mA through the resistor for a row voltage, computed here independently.
double mA(double volts, double hvds, double hteiko)
{
    return std::max(0.0, volts - hvds * 0.01) / (hteiko * 0.01) * 1000.0;
}

} // namespace

Q_DECLARE_METATYPE(QList<double>)

class TestCapacity : public QObject
{
    Q_OBJECT
private slots:
    void estimate_data();
    void estimate();
    void timeBase_data();
    void timeBase();
    void resetsBeforeEachEstimate();
    void badVoltageThrows();
    void format_data();
    void format();
    void formatRoundsAsPrintf();
    void formatIgnoresLocale();
    void processWideForms();
};

void TestCapacity::estimate_data()
{
    QTest::addColumn<QByteArrayList>("rows");
    QTest::addColumn<int>("hteiko");
    QTest::addColumn<int>("hvds");
    QTest::addColumn<QList<double>>("expected");

    const double i120 = mA(1.20, 5, 100), i100 = mA(1.00, 5, 100);
    const double two = i120 * 1 + (i120 + i100) * 1 * 0.5; // one hour, then one more
    // 1150 mA for one hour, then (1150 + 950) / 2 for another.
    QTest::newRow("worked example: 2200.0 mAh") << QByteArrayList{"1.20V 60 60 60 60", "1.00V 120 120 120 120"} << 100
                                                << 5 << QList<double>{2200.0, 2200.0, 2200.0, 2200.0};

    // Different resistor: the current scales with 1/R.
    QTest::newRow("resistor 2 ohm") << QByteArrayList{"1.20V 60 60 60 60", "1.00V 120 120 120 120"} << 200 << 5
                                    << QList<double>{two / 2, two / 2, two / 2, two / 2};

    // Saturation voltage above a row's voltage: that row carries no current.
    const double j = mA(1.20, 110, 100);
    QTest::newRow("Hvds above the second row") << QByteArrayList{"1.20V 60 60 60 60",
        "1.00V 120 120 120 120"} << 100 << 110 << QList<double>{j + j * 0.5, j + j * 0.5, j + j * 0.5, j + j * 0.5};
    QTest::newRow("Hvds above every row") << QByteArrayList{"1.20V 60 60 60 60", "1.00V 120 120 120 120"} << 100 << 150
                                          << QList<double>{0.0, 0.0, 0.0, 0.0};

    // Cells that stopped earlier add nothing after their last change; one whose
    // time goes down subtracts.
    const double i110 = mA(1.10, 5, 100);
    QTest::newRow("cells stop at different times")
        << QByteArrayList{"1.20V 60 60 60 30", "1.10V 120 60 90 30"} << 100 << 5
        << QList<double>{i120 + (i120 + i110) * 0.5, i120, i120 + (i120 + i110) * 0.25, i120 * 0.5};
    QTest::newRow("time going down subtracts") << QByteArrayList{"1.20V 60 60 60 60", "1.10V 0 60 60 60"} << 100 << 5
                                               << QList<double>{i120 - (i120 + i110) * 0.5, i120, i120, i120};

    // Fewer columns: only those cells gain; a later row compares with the last
    // row that had the column.
    QTest::newRow("three time fields feed three cells")
        << QByteArrayList{"1.20V 60 60 60", "1.00V 120 120 120"} << 100 << 5 << QList<double>{two, two, two, 0.0};
    QTest::newRow("column missing in the middle row")
        << QByteArrayList{"1.20V 60 60 60 60", "1.10V 90 90", "1.00V 120 120 120 120"} << 100 << 5
        << QList<double>{i120 + (i120 + i110) * 0.25 + (i110 + i100) * 0.25,
               i120 + (i120 + i110) * 0.25 + (i110 + i100) * 0.25, i120 + (i110 + i100) * 0.5,
               i120 + (i110 + i100) * 0.5};
    QTest::newRow("empty field reads as time 0") << QByteArrayList{"1.20V 60,,60 60", "1.00V 120 120 120 120"} << 100
                                                 << 5 << QList<double>{two, (i120 + i100) * 2 * 0.5, two, two};

    QTest::newRow("single row is a rectangle from 0")
        << QByteArrayList{"1.20V 30 60 90 120"} << 100 << 5 << QList<double>{i120 * 0.5, i120, i120 * 1.5, i120 * 2};
    QTest::newRow("no rows") << QByteArrayList{} << 100 << 5 << QList<double>{0.0, 0.0, 0.0, 0.0};

    // Counts at the ends of the 32-bit range must not wrap around.
    const double span = (double(2147483647) + 2147483648.0) / 60.0;
    QTest::newRow("extreme counts") << QByteArrayList{"1.20V -2147483648", "1.20V 2147483647"} << 100 << 5
                                    << QList<double>{i120 * (-2147483648.0 / 60.0) + i120 * span, 0.0, 0.0, 0.0};

    // A zero resistor (only from a hand-edited ini) gives no current, never inf or nan.
    QTest::newRow("zero resistor") << QByteArrayList{"1.20V 60 60 60 60"} << 0 << 5
                                   << QList<double>{0.0, 0.0, 0.0, 0.0};
}

void TestCapacity::estimate()
{
    QFETCH(QByteArrayList, rows);
    QFETCH(int, hteiko);
    QFETCH(int, hvds);
    QFETCH(QList<double>, expected);
    const Caps c = ::estimate(rows, hteiko, hvds, 0);
    for (int j = 0; j < 4; ++j) {
        QVERIFY2(std::isfinite(c.v[j]), qPrintable(QString("cell %1").arg(j + 1)));
        QVERIFY2(std::abs(c.v[j] - expected.at(j)) <= 1e-9 * std::max(1.0, std::abs(expected.at(j))),
            qPrintable(
                QString("cell %1: %2, expected %3").arg(j + 1).arg(c.v[j], 0, 'f', 6).arg(expected.at(j), 0, 'f', 6)));
    }
}

void TestCapacity::timeBase_data()
{
    QTest::addColumn<int>("htime");
    QTest::addColumn<double>("fraction"); // of the one-minute result
    QTest::newRow("1 minute") << 0 << 1.0;
    QTest::newRow("10 seconds: a sixth") << 1 << 1.0 / 6.0;
    QTest::newRow("1 second: a sixtieth") << 2 << 1.0 / 60.0;
    QTest::newRow("unknown 7 counts minutes") << 7 << 1.0;
    QTest::newRow("negative counts minutes") << -1 << 1.0;
}

void TestCapacity::timeBase()
{
    QFETCH(int, htime);
    QFETCH(double, fraction);
    const QByteArrayList rows{
        "1.30V 10 12 14 16", "1.20V 60 70 80 90", "1.05V 130 150 160 170", "1.00V 140 150 170 190"};
    const Caps minutes = ::estimate(rows, 100, 5, 0);
    const Caps c = ::estimate(rows, 100, 5, htime);
    for (int j = 0; j < 4; ++j) {
        QVERIFY(minutes.v[j] > 0.0);
        QVERIFY2(std::abs(c.v[j] - minutes.v[j] * fraction) < 1e-9 * minutes.v[j],
            qPrintable(QString("cell %1: %2 vs %3").arg(j + 1).arg(c.v[j]).arg(minutes.v[j] * fraction)));
    }
}

void TestCapacity::resetsBeforeEachEstimate()
{
    const QByteArrayList rows{"1.20V 60 60 60 60", "1.00V 120 120 120 120"};
    CapacityParameters p;
    double out[4] = {1e6, -5.0, 3.0, 42.0};
    analysis::EstimateCapacities(tableOf(rows), p, out);
    const double first[4] = {out[0], out[1], out[2], out[3]};
    analysis::EstimateCapacities(tableOf(rows), p, out);
    for (int j = 0; j < 4; ++j) {
        QCOMPARE(out[j], first[j]);
        QCOMPARE(out[j], 2200.0);
    }
}

void TestCapacity::badVoltageThrows()
{
    double out[4] = {0, 0, 0, 0};
    QVERIFY_THROWS_EXCEPTION(analysis::VoltageFormatError,
        analysis::EstimateCapacities(tableOf({"1.20V 60", "x.00V 120"}), CapacityParameters(), out));
}

void TestCapacity::format_data()
{
    QTest::addColumn<int>("cell");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("worked example") << 0 << 2200.0 << QString("1   2200.0");
    QTest::newRow("cell 4, small") << 3 << 5.26 << QString("4      5.3");
    QTest::newRow("zero") << 1 << 0.0 << QString("2      0.0");
    QTest::newRow("negative") << 2 << -12.34 << QString("3    -12.3");
    QTest::newRow("wider than eight") << 0 << 123456789.0 << QString("1 123456789.0");
    QTest::newRow("tie to even, as printf") << 0 << 2.25 << QString("1      2.2");
    QTest::newRow("tie, odd below") << 1 << 0.75 << QString("2      0.8");
    QTest::newRow("just below a tie") << 2 << 2.35 << QString("3      2.4"); // 2.35000000000000008882
    QTest::newRow("negative tie") << 3 << -0.25 << QString("4     -0.2");
}

void TestCapacity::format()
{
    QFETCH(int, cell);
    QFETCH(double, value);
    QFETCH(QString, text);
    double values[4] = {-1, -1, -1, -1};
    values[cell] = value;
    QCOMPARE(analysis::FormatCapacityLine(cell, values), text);
}

void TestCapacity::formatRoundsAsPrintf()
{
    // Every hundredth from -50 to 50 (ties among them), and a few extremes.
    std::vector<double> values;
    for (int k = -5000; k <= 5000; ++k)
        values.push_back(k / 100.0);
    for (double v : {1e-300, 123456.05, 99999999.95, 1e20, 1.7976931348623157e308})
        values.push_back(v);
    for (double v : values) {
        const double cells[4] = {v, 0, 0, 0};
        char expected[400];
        std::snprintf(expected, sizeof expected, "%d %8.1f", 1, v);
        QCOMPARE(analysis::FormatCapacityLine(0, cells), QString::fromLatin1(expected));
    }
}

void TestCapacity::formatIgnoresLocale()
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const double values[4] = {2200.0, 0, 0, 0};
    const QString text = analysis::FormatCapacityLine(0, values);
    QLocale::setDefault(saved);
    QCOMPARE(text, QString("1   2200.0"));
}

void TestCapacity::processWideForms()
{
    settings::ResetToDefaults();
    settings::Hteiko = 200;
    settings::Hvds = 5;
    settings::Htime = 1;
    analysis::DischargeTable = tableOf({"1.30V 10 12 14 16", "1.20V 60 70 80 90", "1.00V 90 100 110 120"});
    for (double &c : analysis::capacity)
        c = -1.0;
    analysis::EstimateCapacities();

    Caps expected;
    CapacityParameters p;
    p.Hteiko = 200;
    p.Hvds = 5;
    p.Htime = 1;
    analysis::EstimateCapacities(analysis::DischargeTable, p, expected.v);
    for (int j = 0; j < 4; ++j) {
        QCOMPARE(analysis::capacity[j], expected.v[j]);
        QCOMPARE(analysis::FormatCapacityLine(j), analysis::FormatCapacityLine(j, expected.v));
    }
    QVERIFY(expected.v[0] > 0.0);
    settings::ResetToDefaults();
}

QTEST_GUILESS_MAIN(TestCapacity)
#include "tst_capacity.moc"
