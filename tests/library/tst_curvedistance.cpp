// Health grades and the curve distance of two cells, against values worked
// out by hand.
#include "analysis/CurveDistance.h"
#include "analysis/DischargeTable.h"
#include "library/Grade.h"

#include <QtTest>

#include <cmath>

using library::Grade;
using library::GradeLimits;

namespace {

QList<analysis::TableRow> rowsOf(const QByteArrayList &rows)
{
    analysis::TDischargeTable t;
    t.rows = rows;
    t.rowCount = qint32(rows.size());
    return analysis::ConvertTable(t);
}

// "rows|htime|bay" tables for the data rows.
struct Side {
    QByteArrayList rows;
    int htime = 0;
    int bay = 0;
};

} // namespace
Q_DECLARE_METATYPE(Side)

class TestCurveDistance : public QObject
{
    Q_OBJECT
private slots:
    void grade_data();
    void grade();
    void limits_data();
    void limits();
    void distance_data();
    void distance();
    void curveOf();
};

void TestCurveDistance::grade_data()
{
    QTest::addColumn<double>("latest");
    QTest::addColumn<double>("nominal"); // 0: none
    QTest::addColumn<double>("good");
    QTest::addColumn<double>("fair");
    QTest::addColumn<QString>("expected");

    QTest::newRow("exactly 90 %") << 2250.0 << 2500.0 << 90.0 << 80.0 << "良";
    QTest::newRow("just below 90 %") << 2249.9 << 2500.0 << 90.0 << 80.0 << "可";
    QTest::newRow("exactly 80 %") << 2000.0 << 2500.0 << 90.0 << 80.0 << "可";
    QTest::newRow("below 80 %") << 1999.0 << 2500.0 << 90.0 << 80.0 << "不良";
    QTest::newRow("above nominal") << 2700.0 << 2500.0 << 90.0 << 80.0 << "良";
    // 57 / 100 * 100 is 56.99999999999999 in doubles.
    QTest::newRow("division a hair short of the limit") << 57.0 << 100.0 << 57.0 << 50.0 << "良";
    QTest::newRow("no nominal") << 2000.0 << 0.0 << 90.0 << 80.0 << "―";
    QTest::newRow("negative nominal") << 2000.0 << -5.0 << 90.0 << 80.0 << "―";
    QTest::newRow("own limits") << 2300.0 << 2500.0 << 95.0 << 85.0 << "可";
    QTest::newRow("own limits, poor") << 2100.0 << 2500.0 << 95.0 << 85.0 << "不良";
    QTest::newRow("no latest") << std::nan("") << 2500.0 << 90.0 << 80.0 << "―";
}

void TestCurveDistance::grade()
{
    QFETCH(double, latest);
    QFETCH(double, nominal);
    QFETCH(double, good);
    QFETCH(double, fair);
    QFETCH(QString, expected);
    const auto health = library::HealthPercent(latest, nominal == 0.0 ? std::nullopt : std::optional<double>(nominal));
    const Grade g = library::GradeOf(health, GradeLimits{good, fair});
    QCOMPARE(library::GradeText(g), expected);
    QCOMPARE(library::GradeFromText(QStringLiteral(" ") + expected), std::optional<Grade>(g));
}

void TestCurveDistance::limits_data()
{
    QTest::addColumn<double>("good");
    QTest::addColumn<double>("fair");
    QTest::addColumn<bool>("valid");
    QTest::newRow("defaults") << 90.0 << 80.0 << true;
    QTest::newRow("equal") << 85.0 << 85.0 << true;
    QTest::newRow("fair above good") << 80.0 << 90.0 << false;
    QTest::newRow("negative") << 90.0 << -1.0 << false;
    QTest::newRow("not a number") << std::nan("") << 80.0 << false;
    QTest::newRow("beyond reason") << 1e6 << 80.0 << false;
}

void TestCurveDistance::limits()
{
    QFETCH(double, good);
    QFETCH(double, fair);
    QFETCH(bool, valid);
    QCOMPARE(library::LimitsAreValid(GradeLimits{good, fair}), valid);
}

void TestCurveDistance::distance_data()
{
    QTest::addColumn<Side>("a");
    QTest::addColumn<Side>("b");
    QTest::addColumn<double>("expected"); // -1: none

    // Minutes; bay 1 at 0, 10, 30, 50 and bay 2 at 0, 12, 33, 55.
    const QByteArrayList minutes{"1.40V 0 0", "1.30V 10 12", "1.20V 30 33", "1.10V 50 55"};
    // Seconds: 0, 11, 25 min, then 50 min at a level the other lacks.
    const QByteArrayList seconds{"1.40V 0", "1.30V 660", "1.20V 1500", "1.00V 3000"};
    // Ten seconds: 11 and 30 min.
    const QByteArrayList tens{"1.30V 66", "1.20V 180"};

    QTest::newRow("minutes against seconds") << Side{minutes, 0, 0} << Side{seconds, 2, 0} << 5.0;
    QTest::newRow("second bay against seconds") << Side{minutes, 0, 1} << Side{seconds, 2, 0} << 8.0;
    QTest::newRow("ten seconds against minutes") << Side{tens, 1, 0} << Side{minutes, 0, 0} << 1.0;
    QTest::newRow("ten seconds against seconds") << Side{tens, 1, 0} << Side{seconds, 2, 0} << 5.0;
    QTest::newRow("one shared level") << Side{{"1.30V 5", "0.90V 100"}, 0, 0} << Side{minutes, 0, 0} << -1.0;
    QTest::newRow("no shared level") << Side{{"0.95V 5", "0.90V 100"}, 0, 0} << Side{minutes, 0, 0} << -1.0;
    QTest::newRow("empty table") << Side{{}, 0, 0} << Side{minutes, 0, 0} << -1.0;
    // The second bay has no count at 1.30 V, so that level is not shared.
    QTest::newRow("bay missing from a row") << Side{{"1.40V 0 0", "1.30V 10", "1.20V 20 25", "1.10V 30 40"}, 0, 1}
                                            << Side{{"1.40V 0", "1.30V 20", "1.20V 25", "1.10V 40"}, 0, 0} << 0.0;
    QTest::newRow("bay missing everywhere") << Side{minutes, 0, 3} << Side{minutes, 0, 0} << -1.0;
    // A level that comes again keeps the time the cell first fell to it.
    QTest::newRow("repeated level") << Side{{"1.30V 10", "1.30V 20", "1.20V 30"}, 0, 0} << Side{minutes, 0, 0} << 0.0;
    QTest::newRow("same curve") << Side{minutes, 0, 1} << Side{minutes, 0, 1} << 0.0;
}

void TestCurveDistance::distance()
{
    QFETCH(Side, a);
    QFETCH(Side, b);
    QFETCH(double, expected);
    const analysis::Curve ca = analysis::CurveOf(rowsOf(a.rows), a.bay, a.htime);
    const analysis::Curve cb = analysis::CurveOf(rowsOf(b.rows), b.bay, b.htime);
    const auto there = analysis::CurveDistance(ca, cb);
    const auto back = analysis::CurveDistance(cb, ca);
    QCOMPARE(there.has_value(), expected >= 0.0);
    QCOMPARE(back.has_value(), expected >= 0.0);
    if (expected >= 0.0) {
        QVERIFY2(std::fabs(*there - expected) < 1e-9, qPrintable(QString::number(*there)));
        QVERIFY2(std::fabs(*back - expected) < 1e-9, qPrintable(QString::number(*back)));
    }
}

void TestCurveDistance::curveOf()
{
    // Levels ascending, in minutes, whatever order the table had.
    const analysis::Curve c = analysis::CurveOf(rowsOf({"1.40V 0 0", "1.20V 0 1800", "1.30V 0 600"}), 1, 2);
    QCOMPARE(c.size(), 3);
    QCOMPARE(c.at(0).millivolts, 1200);
    QCOMPARE(c.at(0).minutes, 30.0);
    QCOMPARE(c.at(1).millivolts, 1300);
    QCOMPARE(c.at(1).minutes, 10.0);
    QCOMPARE(c.at(2).millivolts, 1400);
    QVERIFY(analysis::CurveOf(rowsOf({"1.40V 0 0"}), 4, 0).isEmpty());
}

QTEST_GUILESS_MAIN(TestCurveDistance)
#include "tst_curvedistance.moc"
