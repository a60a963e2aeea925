// The chart: series by index, point order, axis limits, drawing, metafiles.
#include "widgets/Chart.h"
#include "widgets/Fonts.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <qcustomplot.h>

#include <stdexcept>

using Points = QList<QPointF>;

namespace {

Points pointsOf(ChartSeries &s)
{
    Points p;
    for (int i = 0; i < s.count(); ++i)
        p.append(QPointF(s.x(i), s.y(i)));
    return p;
}

int countColour(const QImage &img, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if ((img.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF))
                ++n;
    return n;
}

} // namespace

class TestChart : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { fonts::InstallSubstitutions(); }
    void seriesByIndex_data();
    void seriesByIndex();
    void seriesOutOfRange_data();
    void seriesOutOfRange();
    void addOrder_data();
    void addOrder();
    void clearRemovesAll();
    void bottomAxis_data();
    void bottomAxis();
    void leftAxisFollowsData();
    void curvesDrawnInTheirColours();
    void clearedSeriesNotDrawn();
    void metafiles_data();
    void metafiles();
    void metafileFailure_data();
    void metafileFailure();
    void dateTicksReadable_data();
    void dateTicksReadable();
    void valueTicksRound_data();
    void valueTicksRound();
};

// Dates over spans from an hour to two years, in a narrow chart and a wide
// one: the ticks fall on whole minutes, hours or days, no two read the same,
// and no two texts touch.
void TestChart::dateTicksReadable_data()
{
    QTest::addColumn<qint64>("span"); // seconds
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("format"); // of each tick's text
    const QString time = QStringLiteral("MM/dd\nHH:mm");
    QTest::newRow("an hour, narrow") << qint64(3600) << 300 << time;
    QTest::newRow("an hour, wide") << qint64(3600) << 900 << time;
    QTest::newRow("a day, narrow") << qint64(86400) << 300 << time;
    QTest::newRow("ten days, narrow") << qint64(10 * 86400) << 300 << QStringLiteral("MM/dd");
    QTest::newRow("ten days, wide") << qint64(10 * 86400) << 900 << QStringLiteral("MM/dd");
    QTest::newRow("two years") << qint64(730 * 86400) << 500 << QStringLiteral("yyyy/MM");
}

void TestChart::dateTicksReadable()
{
    QFETCH(qint64, span);
    QFETCH(int, width);
    QFETCH(QString, format);
    Chart chart;
    // As the history of one cell: capacities, no legend.
    chart.setSeriesStyles({{QStringLiteral("容量"), Qt::red, true}});
    chart.setLeftAxis(QStringLiteral("容量(mAh)"), 0);
    chart.setLegendVisible(false);
    chart.setDateAxis(true);
    chart.resize(width, 240);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    const QDateTime from(QDate(2026, 11, 30), QTime(21, 17, 42));
    const double x0 = double(from.toSecsSinceEpoch());
    chart.series(0).addXY(x0, 1800);
    chart.series(0).addXY(x0 + double(span), 1700);
    chart.bottomAxis().setRange(x0, x0 + double(span));
    chart.refresh();
    auto *plot = chart.findChild<QCustomPlot *>();
    QVERIFY(plot);
    QCPAxis *axis = plot->xAxis;
    QList<double> ticks;
    QStringList texts;
    for (int i = 0; i < axis->tickVector().size(); ++i) {
        if (axis->range().contains(axis->tickVector().at(i))) {
            ticks << axis->tickVector().at(i);
            texts << axis->tickVectorLabels().at(i);
        }
    }
    QVERIFY2(ticks.size() >= 2, qPrintable(texts.join(' ')));
    const QFontMetrics metrics(axis->tickLabelFont());
    const auto textWidth = [&](const QString &t) {
        int w = 0;
        for (const QString &line : t.split('\n'))
            w = qMax(w, metrics.horizontalAdvance(line));
        return w;
    };
    for (int i = 0; i < ticks.size(); ++i) {
        const QDateTime at = QDateTime::fromSecsSinceEpoch(qint64(ticks.at(i)));
        QCOMPARE(texts.at(i), at.toString(format));
        // On the clock's whole minutes (and days for a day's step).
        QCOMPARE(at.time().second(), 0);
        if (i == 0)
            continue;
        QVERIFY2(texts.at(i) != texts.at(i - 1), qPrintable(texts.join(' ')));
        const double apart = axis->coordToPixel(ticks.at(i)) - axis->coordToPixel(ticks.at(i - 1));
        QVERIFY2(apart >= (textWidth(texts.at(i)) + textWidth(texts.at(i - 1))) / 2.0 + 4,
            qPrintable(QStringLiteral("%1 px between %2 and %3").arg(apart).arg(texts.at(i - 1), texts.at(i))));
    }
}

// The value axis ticks by 1, 2 or 5 times a power of ten, never finer than
// its decimals: every tick text is the tick's exact value, and none repeats.
void TestChart::valueTicksRound_data()
{
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<int>("decimals");
    QTest::newRow("capacities a few mAh apart") << 2045.0 << 2050.0 << 0;
    QTest::newRow("capacities 1 mAh apart") << 2047.0 << 2048.0 << 0;
    QTest::newRow("capacities over thousands") << 0.0 << 2600.0 << 0;
    QTest::newRow("volts") << 0.95 << 1.43 << 2;
}

void TestChart::valueTicksRound()
{
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(int, decimals);
    Chart chart;
    chart.setSeriesStyles({{QStringLiteral("容量"), Qt::red, true}});
    chart.setLeftAxis(QStringLiteral("容量(mAh)"), decimals);
    chart.resize(400, 300);
    chart.series(0).addXY(0, low);
    chart.series(0).addXY(1, high);
    chart.refresh();
    QCPAxis *axis = chart.findChild<QCustomPlot *>()->yAxis;
    const QVector<double> ticks = axis->tickVector();
    QVERIFY(ticks.size() >= 2);
    const double step = ticks.at(1) - ticks.at(0);
    const double magnitude = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double mantissa = step / magnitude;
    QVERIFY2(qFuzzyCompare(mantissa, 1.0) || qFuzzyCompare(mantissa, 2.0) || qFuzzyCompare(mantissa, 5.0),
        qPrintable(QString::number(step)));
    QVERIFY(step >= std::pow(10.0, -decimals) * 0.999);
    QSet<QString> seen;
    for (int i = 0; i < ticks.size(); ++i) {
        const QString text = axis->tickVectorLabels().at(i);
        QCOMPARE(text.toDouble(), std::round(ticks.at(i) / step) * step);
        QVERIFY2(!seen.contains(text), qPrintable(text));
        seen.insert(text);
    }
}

void TestChart::seriesByIndex_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("0") << 0 << "Bat1" << QColor(0xFF, 0x00, 0x00);
    QTest::newRow("1") << 1 << "Bat2" << QColor(0x00, 0xFF, 0x00);
    QTest::newRow("2") << 2 << "Bat3" << QColor(0x00, 0x00, 0xFF);
    QTest::newRow("3") << 3 << "Bat4" << QColor(0x80, 0x80, 0x80);
}

void TestChart::seriesByIndex()
{
    QFETCH(int, index);
    QFETCH(QString, title);
    QFETCH(QColor, colour);
    Chart chart;
    QCOMPARE(chart.series(index).title(), title);
    QCOMPARE(chart.series(index).colour(), colour);
    // Each index is its own series.
    chart.series(index).addXY(1.0, 2.0);
    for (int j = 0; j < Chart::SeriesCount; ++j)
        QCOMPARE(chart.series(j).count(), j == index ? 1 : 0);
}

void TestChart::seriesOutOfRange_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("-1") << -1;
    QTest::newRow("4") << 4;
    QTest::newRow("large") << 1000;
}

void TestChart::seriesOutOfRange()
{
    QFETCH(int, index);
    Chart chart;
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, chart.series(index));
}

void TestChart::addOrder_data()
{
    QTest::addColumn<Points>("added");
    QTest::addColumn<Points>("stored");
    QTest::newRow("ascending") << Points{{1, 1.3}, {2, 1.2}, {3, 1.1}} << Points{{1, 1.3}, {2, 1.2}, {3, 1.1}};
    QTest::newRow("descending") << Points{{3, 1.1}, {2, 1.2}, {1, 1.3}} << Points{{1, 1.3}, {2, 1.2}, {3, 1.1}};
    QTest::newRow("equal x keeps the order added")
        << Points{{5, 1.3}, {5, 1.2}, {5, 1.1}} << Points{{5, 1.3}, {5, 1.2}, {5, 1.1}};
    QTest::newRow("inserted after equals in the middle") << Points{{1, 1.0}, {5, 1.3}, {9, 9.0}, {5, 1.2}, {5, 1.1}}
                                                         << Points{{1, 1.0}, {5, 1.3}, {5, 1.2}, {5, 1.1}, {9, 9.0}};
    QTest::newRow("before the first, after equals at the front")
        << Points{{2, 2.0}, {0, 0.5}, {0, 0.4}, {3, 3.0}} << Points{{0, 0.5}, {0, 0.4}, {2, 2.0}, {3, 3.0}};
    QTest::newRow("negative and fractional x")
        << Points{{0.5, 1}, {-1, 2}, {0.25, 3}} << Points{{-1, 2}, {0.25, 3}, {0.5, 1}};
}

void TestChart::addOrder()
{
    QFETCH(Points, added);
    QFETCH(Points, stored);
    Chart chart;
    for (const QPointF &p : added)
        chart.series(2).addXY(p.x(), p.y(), QString(), ChartSeries::SeriesColour);
    QCOMPARE(pointsOf(chart.series(2)), stored);
}

void TestChart::clearRemovesAll()
{
    Chart chart;
    for (int i = 0; i < 10; ++i)
        chart.series(1).addXY(i, 1.0);
    chart.series(1).clear();
    QCOMPARE(chart.series(1).count(), 0);
    chart.series(1).addXY(3, 1.0);
    QCOMPARE(pointsOf(chart.series(1)), (Points{{3, 1.0}}));
}

void TestChart::bottomAxis_data()
{
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    // Points lie at x 10..400.
    QTest::newRow("fixed 0..120, points beyond") << false << 0.0 << 120.0 << 0.0 << 120.0;
    QTest::newRow("fixed 0..360") << false << 0.0 << 360.0 << 0.0 << 360.0;
    QTest::newRow("fixed fractional") << false << -2.5 << 7.25 << -2.5 << 7.25;
    QTest::newRow("automatic spans the data") << true << 0.0 << 120.0 << 10.0 << 400.0;
}

void TestChart::bottomAxis()
{
    QFETCH(bool, automatic);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, lower);
    QFETCH(double, upper);
    Chart chart;
    chart.resize(600, 340);
    chart.series(0).addXY(10, 1.3);
    chart.series(3).addXY(400, 1.0);
    chart.bottomAxis().setAutomatic(automatic);
    chart.bottomAxis().setMinimum(minimum);
    chart.bottomAxis().setMaximum(maximum);
    chart.refresh();
    QCOMPARE(chart.bottomLower(), lower);
    QCOMPARE(chart.bottomUpper(), upper);
}

void TestChart::leftAxisFollowsData()
{
    Chart chart;
    chart.resize(600, 340);
    chart.series(0).addXY(1, 1.35);
    chart.series(2).addXY(2, 0.95);
    chart.refresh();
    QVERIFY(chart.leftLower() <= 0.95);
    QVERIFY(chart.leftUpper() >= 1.35);
    // Close to the data, not a fixed scale.
    QVERIFY(chart.leftLower() > 0.8);
    QVERIFY(chart.leftUpper() < 1.5);

    chart.series(0).clear();
    chart.series(2).clear();
    chart.series(1).addXY(1, 3.0);
    chart.series(1).addXY(2, 4.0);
    chart.refresh();
    QVERIFY(chart.leftLower() <= 3.0 && chart.leftLower() > 2.5);
    QVERIFY(chart.leftUpper() >= 4.0 && chart.leftUpper() < 4.5);
}

void TestChart::curvesDrawnInTheirColours()
{
    Chart chart;
    chart.resize(600, 340);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    for (int j = 0; j < Chart::SeriesCount; ++j) {
        chart.series(j).addXY(0, 1.30 - 0.02 * j);
        chart.series(j).addXY(100 + 10 * j, 1.00 - 0.02 * j);
    }
    chart.bottomAxis().setAutomatic(false);
    chart.bottomAxis().setMinimum(0);
    chart.bottomAxis().setMaximum(120);
    chart.refresh();
    const QImage img = chart.grab().toImage();
    for (int j = 0; j < Chart::SeriesCount; ++j)
        QVERIFY2(
            countColour(img, chart.series(j).colour().rgb()) > 100, qPrintable(chart.series(j).title() + " not drawn"));
}

void TestChart::clearedSeriesNotDrawn()
{
    Chart chart;
    chart.resize(600, 340);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    chart.series(2).addXY(0, 1.3);
    chart.series(2).addXY(100, 1.0);
    chart.series(0).addXY(0, 1.3);
    chart.series(0).addXY(100, 1.0);
    chart.refresh();
    const int before = countColour(chart.grab().toImage(), qRgb(0, 0, 255));
    chart.series(2).clear();
    chart.refresh();
    const int after = countColour(chart.grab().toImage(), qRgb(0, 0, 255));
    QVERIFY(before > 100);
    // Only the legend's sample line is left in blue.
    QVERIFY2(after < before / 2, qPrintable(QString("%1 -> %2").arg(before).arg(after)));
}

void TestChart::metafiles_data()
{
    QTest::addColumn<bool>("wmf");
    QTest::newRow("WMF") << true;
    QTest::newRow("EMF") << false;
}

void TestChart::metafiles()
{
    QFETCH(bool, wmf);
    Chart chart;
    chart.resize(600, 340);
    chart.series(0).addXY(0, 1.3);
    chart.series(0).addXY(100, 1.0);
    QTemporaryDir dir;
    const QString path = dir.filePath(wmf ? "g.wmf" : "g.emf");
    if (wmf)
        chart.writeWmf(path);
    else
        chart.writeEmf(path);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray b = f.readAll();
    if (wmf) {
        QCOMPARE(qFromLittleEndian<quint32>(b.constData()), 0x9AC6CDD7u);
        // The picture's frame is the chart's size, at 96 dots per inch.
        const int inch = qFromLittleEndian<quint16>(b.constData() + 14);
        QVERIFY(inch > 0);
        const double w = (qFromLittleEndian<qint16>(b.constData() + 10) - qFromLittleEndian<qint16>(b.constData() + 6))
            * 96.0 / inch;
        const double h = (qFromLittleEndian<qint16>(b.constData() + 12) - qFromLittleEndian<qint16>(b.constData() + 8))
            * 96.0 / inch;
        QVERIFY2(qAbs(w - 600) <= 1 && qAbs(h - 340) <= 1, qPrintable(QString("%1 x %2").arg(w).arg(h)));
    } else {
        QVERIFY(b.size() > 108);
        QCOMPARE(qFromLittleEndian<quint32>(b.constData()), 1u);
        QCOMPARE(qFromLittleEndian<quint32>(b.constData() + 40), 0x464D4520u);
        QCOMPARE(qFromLittleEndian<quint32>(b.constData() + 48), quint32(b.size()));
        // The frame (0.01 mm) is the chart's size at 96 dots per inch.
        const double w = (qFromLittleEndian<qint32>(b.constData() + 32) - qFromLittleEndian<qint32>(b.constData() + 24))
            * 96.0 / 2540.0;
        const double h = (qFromLittleEndian<qint32>(b.constData() + 36) - qFromLittleEndian<qint32>(b.constData() + 28))
            * 96.0 / 2540.0;
        QVERIFY2(qAbs(w - 600) <= 1 && qAbs(h - 340) <= 1, qPrintable(QString("%1 x %2").arg(w).arg(h)));
    }
}

void TestChart::metafileFailure_data()
{
    QTest::addColumn<bool>("wmf");
    QTest::newRow("WMF") << true;
    QTest::newRow("EMF") << false;
}

void TestChart::metafileFailure()
{
    QFETCH(bool, wmf);
    Chart chart;
    chart.resize(600, 340);
    QTemporaryDir dir;
    const QString path = dir.filePath("missing/g.wmf");
    if (wmf)
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, chart.writeWmf(path));
    else
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, chart.writeEmf(path));
    QVERIFY(!QFile::exists(path));
}

QTEST_MAIN(TestChart)
#include "tst_chart.moc"
