// The draw command and the graph window: curves, labels, size recording,
// placement, the pop-up menu and saving the picture.
#include "analysis/Capacity.h"
#include "core/LogLines.h"
#include "core/Settings.h"
#include "core/SjisText.h"
#include "forms/DrawGraph.h"
#include "forms/Forms.h"
#include "forms/Ugraph.h"
#include "forms/Uparag.h"
#include "tests/support/BoxRecorder.h"
#include "widgets/Application.h"
#include "widgets/Chart.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"
#include "widgets/LogPane.h"
#include "widgets/NumericField.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <QtTest>
#include <qcustomplot.h>

using Points = QList<QPointF>;
using PointSets = QList<Points>;

namespace {

const QByteArray Header = "Bat-V Bat1 Bat2 Bat3 Bat4";

ByteLines linesOf(const QByteArrayList &lines)
{
    return ByteLines(QList<QByteArray>(lines.begin(), lines.end()));
}

// A realistic dump: progress lines, the header, levels from 1.40 V down to
// 0.90 V, each cell a little slower than the one before, then a prompt.
QByteArrayList realisticLog()
{
    QByteArrayList lines{"2006/03/02 07:05", "Discharge start", "  12  1.31 1.30 1.32 1.29"};
    lines << Header;
    for (int k = 0; k <= 10; ++k) {
        const int centi = 140 - 5 * k;
        QByteArray row
            = QByteArray::number(centi / 100) + '.' + QByteArray::number(centi % 100).rightJustified(2, '0') + "V";
        for (int j = 0; j < 4; ++j)
            row += ' ' + QByteArray::number(k == 0 ? 0 : 8 * k + 3 * j + k * j);
        lines << row;
    }
    lines << "End";
    return lines;
}

Points pointsOf(ChartSeries &s)
{
    Points p;
    for (int i = 0; i < s.count(); ++i)
        p.append(QPointF(s.x(i), s.y(i)));
    return p;
}

PointSets allPoints(Chart *chart)
{
    PointSets sets;
    for (int j = 0; j < Chart::SeriesCount; ++j)
        sets.append(pointsOf(chart->series(j)));
    return sets;
}

QStringList labelTexts(Tgraph *g)
{
    return {g->TTL->text(), g->Y1->text(), g->Y2->text(), g->Y3->text(), g->Y4->text(), g->TTM->text()};
}

int countColour(const QImage &img, QRgb colour, const QRect &area)
{
    int n = 0;
    const QRect r = area.intersected(img.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if ((img.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF))
                ++n;
    return n;
}

QByteArray utf16(const QString &s)
{
    return QByteArray(reinterpret_cast<const char *>(s.utf16()), s.size() * 2);
}

} // namespace

class TestGraphWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void draw_data();
    void draw();
    void drawTwiceGivesTheSamePoints();
    void drawFromLogPane();
    void timeAxisFixed_data();
    void timeAxisFixed();
    void tooFewRows_data();
    void tooFewRows();
    void badVoltageKeepsChart_data();
    void badVoltageKeepsChart();
    void badVoltageReachesErrorDisplay();
    void timeUnitText_data();
    void timeUnitText();
    void plotFromTheSharedTable_data();
    void plotFromTheSharedTable();

    void sizeRecording_data();
    void sizeRecording();
    void recordingTriggers_data();
    void recordingTriggers();
    void dragThenDrawRestoresSize();
    void centredAtFirstShowOnly_data();
    void centredAtFirstShowOnly();
    void closeHidesAndDrawShowsAgain();
    void labelsAnchoredTopRight_data();
    void labelsAnchoredTopRight();

    void fileExtension_data();
    void fileExtension();
    void filtersOfThisBuild();
    void save_data();
    void save();
    void bmpImage_data();
    void bmpImage();
    void metafilesHoldNoLabels_data();
    void metafilesHoldNoLabels();

private:
    void drawOk(const QByteArrayList &lines);
    BoxRecorder m_boxes;
};

void TestGraphWindow::initTestCase()
{
    fonts::InstallSubstitutions();
}

void TestGraphWindow::init()
{
    settings::ResetToDefaults();
    m_boxes.clear();
    forms::graph = new Tgraph;
    forms::parag = new Tparag;
    QObject::connect(forms::graph, &Tgraph::sizeRecorded, forms::parag, &Tparag::ShowGraphSize);
    forms::parag->PushSettings();
    analysis::DischargeTable = analysis::TDischargeTable();
}

void TestGraphWindow::cleanup()
{
    delete forms::parag;
    forms::parag = nullptr;
    delete forms::graph;
    forms::graph = nullptr;
}

void TestGraphWindow::drawOk(const QByteArrayList &lines)
{
    DrawGraphFrom(linesOf(lines));
    QVERIFY(m_boxes.isEmpty());
}

void TestGraphWindow::draw_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<int>("gvmax");
    QTest::addColumn<int>("hvds");
    QTest::addColumn<int>("htime");
    QTest::addColumn<int>("hdisp");
    QTest::addColumn<PointSets>("points");
    QTest::addColumn<QStringList>("labels");

    const QByteArrayList example{Header, "1.20V 60 60 60 60", "1.00V 120 120 120 120"};
    const Points ex{{60, 1.2}, {120, 1.0}};
    QTest::newRow("worked example with labels")
        << example << 150 << 5 << 0 << 1 << PointSets{ex, ex, ex, ex}
        << QStringList{"推定容量(mAh)", "1   2200.0", "2   2200.0", "3   2200.0", "4   2200.0", "時間軸：分"};
    QTest::newRow("ten-second counts: a sixth")
        << example << 150 << 5 << 1 << 1 << PointSets{ex, ex, ex, ex}
        << QStringList{"推定容量(mAh)", "1    366.7", "2    366.7", "3    366.7", "4    366.7", "時間軸：10秒"};
    QTest::newRow("one-second counts: a sixtieth")
        << example << 150 << 5 << 2 << 1 << PointSets{ex, ex, ex, ex}
        << QStringList{"推定容量(mAh)", "1     36.7", "2     36.7", "3     36.7", "4     36.7", "時間軸：秒"};
    QTest::newRow("labels hidden") << example << 150 << 5 << 0 << 0 << PointSets{ex, ex, ex, ex}
                                   << QStringList{"", "", "", "", "", ""};
    // 0.1 V over 1 ohm for an hour, then the trapezoid down to no current.
    QTest::newRow("Hvds above the second row's voltage")
        << example << 150 << 110 << 0 << 1 << PointSets{ex, ex, ex, ex}
        << QStringList{"推定容量(mAh)", "1    150.0", "2    150.0", "3    150.0", "4    150.0", "時間軸：分"};
    QTest::newRow("Gvmax caps the curves")
        << QByteArrayList{Header, "1.62V 10 11 12 13", "1.50V 20 21 22 23", "1.40V 30 31 32 33"} << 150 << 5 << 0 << 0
        << PointSets{{{10, 1.5}, {20, 1.5}, {30, 1.4}}, {{11, 1.5}, {21, 1.5}, {31, 1.4}},
               {{12, 1.5}, {22, 1.5}, {32, 1.4}}, {{13, 1.5}, {23, 1.5}, {33, 1.4}}}
        << QStringList{"", "", "", "", "", ""};
    QTest::newRow("Gvmax 110") << QByteArrayList{Header, "1.25V 10 11 12 13", "1.05V 20 21 22 23"} << 110 << 5 << 0 << 0
                               << PointSets{{{10, 1.1}, {20, 1.05}}, {{11, 1.1}, {21, 1.05}}, {{12, 1.1}, {22, 1.05}},
                                      {{13, 1.1}, {23, 1.05}}}
                               << QStringList{"", "", "", "", "", ""};
    QTest::newRow("three time fields feed three series")
        << QByteArrayList{Header, "1.20V 60 60 60", "1.00V 120 120 120"} << 150 << 5 << 0 << 1
        << PointSets{ex, ex, ex, {}}
        << QStringList{"推定容量(mAh)", "1   2200.0", "2   2200.0", "3   2200.0", "4      0.0", "時間軸：分"};
    QTest::newRow("row with two commas: cell 2 at time 0")
        << QByteArrayList{Header, "1.20V 60,,60 60", "1.10V 12,,30 41"} << 150 << 5 << 0 << 0
        << PointSets{{{12, 1.1}, {60, 1.2}}, {{0, 1.2}, {0, 1.1}}, {{30, 1.1}, {60, 1.2}}, {{41, 1.1}, {60, 1.2}}}
        << QStringList{"", "", "", "", "", ""};
    QTest::newRow("two dumps: the newer one")
        << QByteArrayList{Header, "1.30V 1 1 1 1", "1.20V 2 2 2 2", "other", Header, "1.20V 60 60 60 60",
               "1.00V 120 120 120 120", "memo"}
        << 150 << 5 << 0 << 1 << PointSets{ex, ex, ex, ex}
        << QStringList{"推定容量(mAh)", "1   2200.0", "2   2200.0", "3   2200.0", "4   2200.0", "時間軸：分"};
    QTest::newRow("comment line ends the table")
        << QByteArrayList{Header, "1.20V 60 60 60 60", "1.00V 120 120 120 120", "cells out", "0.90V 200 200 200 200"}
        << 150 << 5 << 0 << 0 << PointSets{ex, ex, ex, ex} << QStringList{"", "", "", "", "", ""};
}

void TestGraphWindow::draw()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(int, gvmax);
    QFETCH(int, hvds);
    QFETCH(int, htime);
    QFETCH(int, hdisp);
    QFETCH(PointSets, points);
    QFETCH(QStringList, labels);
    settings::Gvmax = gvmax;
    settings::Hvds = hvds;
    settings::Htime = htime;
    settings::Hdisp = hdisp;

    drawOk(lines);
    Tgraph *g = forms::graph;
    QVERIFY(g->isVisible());
    const PointSets got = allPoints(g->Chart1);
    for (int j = 0; j < 4; ++j) {
        QCOMPARE(got.at(j).size(), points.at(j).size());
        for (int i = 0; i < got.at(j).size(); ++i) {
            QCOMPARE(got.at(j).at(i).x(), points.at(j).at(i).x());
            QVERIFY2(qAbs(got.at(j).at(i).y() - points.at(j).at(i).y()) < 1e-12,
                qPrintable(QString("series %1 point %2: %3").arg(j).arg(i).arg(got.at(j).at(i).y())));
        }
    }
    QCOMPARE(labelTexts(g), labels);
}

void TestGraphWindow::drawTwiceGivesTheSamePoints()
{
    drawOk(realisticLog());
    const PointSets first = allPoints(forms::graph->Chart1);
    QCOMPARE(first.at(0).size(), 11);
    drawOk(realisticLog());
    QCOMPARE(allPoints(forms::graph->Chart1), first);
}

void TestGraphWindow::drawFromLogPane()
{
    // The log pane itself as the source: Shift-JIS text, a saved log's layout.
    LogPane pane;
    pane.appendReceived(realisticLog().join("\r\n") + "\r\n");
    settings::Hdisp = 1;
    DrawGraphFrom(pane);
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(analysis::DischargeTable.rowCount, 11);
    QCOMPARE(forms::graph->Chart1->series(3).count(), 11);
    QCOMPARE(forms::graph->TTL->text(), QString("推定容量(mAh)"));
}

void TestGraphWindow::timeAxisFixed_data()
{
    QTest::addColumn<int>("gtmax");
    QTest::newRow("120") << 120;
    QTest::newRow("30, points beyond") << 30;
    QTest::newRow("360") << 360;
}

void TestGraphWindow::timeAxisFixed()
{
    QFETCH(int, gtmax);
    settings::Gtmax = gtmax;
    drawOk(realisticLog());
    Chart *c = forms::graph->Chart1;
    QCOMPARE(c->bottomAxis().automatic(), false);
    QCOMPARE(c->bottomAxis().minimum(), 0.0);
    QCOMPARE(c->bottomAxis().maximum(), double(gtmax));
    c->refresh();
    QCOMPARE(c->bottomLower(), 0.0);
    QCOMPARE(c->bottomUpper(), double(gtmax));
}

void TestGraphWindow::tooFewRows_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::newRow("one row") << QByteArrayList{Header, "1.20V 60 60 60 60", "end"};
    QTest::newRow("header only") << QByteArrayList{"x", Header};
    QTest::newRow("empty log") << QByteArrayList{};
    QTest::newRow("date stamp, header with a trailing space")
        << QByteArrayList{"2006/03/02 07:05", Header + " ", "1.20V 60 60 60 60", "1.00V 120 120 120 120"};
}

void TestGraphWindow::tooFewRows()
{
    QFETCH(QByteArrayList, lines);
    Tgraph *g = forms::graph;
    g->Chart1->series(1).addXY(5, 1.1);
    g->TTL->setText("before");
    settings::Gwide = 700;
    settings::Gheit = 400;

    DrawGraphFrom(linesOf(lines));

    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(int(m_boxes.at(0).kind), int(errors::BoxKind::Warning));
    QCOMPARE(m_boxes.at(0).title, QString("警告"));
    QCOMPARE(m_boxes.at(0).text, QString("有効なデータがありません"));
    QVERIFY(!g->isVisible());
    QCOMPARE(pointsOf(g->Chart1->series(1)), (Points{{5, 1.1}}));
    QCOMPARE(g->TTL->text(), QString("before"));
    // The size is set even though nothing is drawn.
    QCOMPARE(g->OuterSize(), QSize(700, 400));
}

void TestGraphWindow::badVoltageKeepsChart_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QString>("message");
    QTest::newRow("letter in the last row") << QByteArrayList{Header, "1.20V 60 60 60 60", "1.10V 90 90 90 90",
        "1.x0V 120 120 120 120"} << "'1.x0' は浮動小数点数ではありません";
    QTest::newRow("letter in the first row") << QByteArrayList{Header, "A.20V 60 60 60 60", "1.00V 120 120 120 120"}
                                             << "'A.20' は浮動小数点数ではありません";
    QTest::newRow("header with a trailing space taken as a row")
        << QByteArrayList{"1.20V 60 60 60 60", Header + " ", "1.00V 1 1 1 1"} << "'Bat-' は浮動小数点数ではありません";
}

void TestGraphWindow::badVoltageKeepsChart()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(QString, message);
    settings::Hdisp = 1;
    drawOk(realisticLog());
    Tgraph *g = forms::graph;
    const PointSets before = allPoints(g->Chart1);
    const QStringList labelsBefore = labelTexts(g);
    g->hide();
    settings::Gtmax = 300;

    try {
        DrawGraphFrom(linesOf(lines));
        QFAIL("the bad row was accepted");
    } catch (const analysis::VoltageFormatError &e) {
        QCOMPARE(QString::fromUtf8(e.what()), message);
    }
    QCOMPARE(allPoints(g->Chart1), before);
    QCOMPARE(labelTexts(g), labelsBefore);
    QCOMPARE(g->Chart1->bottomAxis().maximum(), 120.0);
    QVERIFY(!g->isVisible());
    QVERIFY(m_boxes.isEmpty());
}

void TestGraphWindow::badVoltageReachesErrorDisplay()
{
    // Pressed from a button, the failure ends the handler and shows the
    // standard error display; the program goes on.
    const ByteLines bad = linesOf({Header, "1.20V 60 60 60 60", "1.x0V 120 120 120 120"});
    QPushButton button("描画");
    QObject::connect(&button, &QPushButton::clicked, [&bad] { DrawGraphFrom(bad); });
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(int(m_boxes.at(0).kind), int(errors::BoxKind::StandardError));
    QCOMPARE(m_boxes.at(0).title, QString("VOLTRAK"));
    QCOMPARE(m_boxes.at(0).text, QString("'1.x0' は浮動小数点数ではありません."));
    QVERIFY(!forms::graph->isVisible());
}

void TestGraphWindow::timeUnitText_data()
{
    QTest::addColumn<int>("htime");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "分";
    QTest::newRow("1") << 1 << "10秒";
    QTest::newRow("2") << 2 << "秒";
    // The estimate counts minutes for these, so the label says so too.
    QTest::newRow("negative") << -1 << "分";
    QTest::newRow("above 2") << 7 << "分";
}

void TestGraphWindow::timeUnitText()
{
    QFETCH(int, htime);
    QFETCH(QString, text);
    QCOMPARE(TimeUnitText(htime), text);
}

void TestGraphWindow::plotFromTheSharedTable_data()
{
    QTest::addColumn<QByteArrayList>("rows");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<Points>("series0");
    QTest::newRow("capped and sorted") << QByteArrayList{"1.55V 30 1 1 1", "1.45V 10 2 2 2"} << true
                                       << Points{{10, 1.45}, {30, 1.5}};
    QTest::newRow("bad voltage leaves the series")
        << QByteArrayList{"1.55V 30 1 1 1", "x.45V 10 2 2 2"} << false << Points{{7, 1.0}};
}

void TestGraphWindow::plotFromTheSharedTable()
{
    QFETCH(QByteArrayList, rows);
    QFETCH(bool, valid);
    QFETCH(Points, series0);
    forms::graph->Chart1->series(0).addXY(7, 1.0);
    analysis::DischargeTable.rows = rows;
    analysis::DischargeTable.rowCount = qint32(rows.size());
    settings::Gvmax = 150;
    bool threw = false;
    try {
        PlotVoltageCurves(*forms::graph->Chart1);
    } catch (const analysis::VoltageFormatError &) {
        threw = true;
    }
    QCOMPARE(threw, !valid);
    QCOMPARE(pointsOf(forms::graph->Chart1->series(0)), series0);
}

void TestGraphWindow::sizeRecording_data()
{
    QTest::addColumn<QSize>("outer");
    QTest::addColumn<int>("fieldBefore"); // what CSpGwide showed
    QTest::addColumn<QSize>("recorded");
    QTest::addColumn<QString>("wideText");
    QTest::addColumn<QString>("heitText");
    QTest::newRow("700 by 450") << QSize(700, 450) << 600 << QSize(700, 450) << "700"
                                << "450";
    QTest::newRow("4200 wide ends at 4000") << QSize(4200, 450) << 600 << QSize(4000, 450) << "4000"
                                            << "450";
    // The field already showed 4000: its text does not change, so nothing
    // stores the clamped value and the raw width stays.
    QTest::newRow("4200 wide, field already at 4000") << QSize(4200, 450) << 4000 << QSize(4200, 450) << "4000"
                                                      << "450";
    QTest::newRow("tall and narrow clamps both") << QSize(80, 2300) << 600 << QSize(100, 2000) << "100"
                                                 << "2000";
}

void TestGraphWindow::sizeRecording()
{
    QFETCH(QSize, outer);
    QFETCH(int, fieldBefore);
    QFETCH(QSize, recorded);
    QFETCH(QString, wideText);
    QFETCH(QString, heitText);
    Tgraph *g = forms::graph;
    drawOk(realisticLog());
    QVERIFY(QTest::qWaitForWindowExposed(g));
    forms::parag->CSpGwide->setValue(fieldBefore);

    QList<int> widths; // every value Gwide takes
    QObject::connect(forms::parag->CSpGwide, &NumericField::changed, g, [&widths] { widths.append(settings::Gwide); });
    g->SetOuterSize(outer.width(), outer.height());
    QCOMPARE(g->OuterSize(), outer);
    g->hide();
    g->Chart1DblClick();

    QCOMPARE(QSize(settings::Gwide, settings::Gheit), recorded);
    QCOMPARE(forms::parag->CSpGwide->text(), wideText);
    QCOMPARE(forms::parag->CSpGheit->text(), heitText);
    QVERIFY(g->isVisible());
    if (fieldBefore != wideText.toInt())
        QCOMPARE(widths, QList<int>{recorded.width()});
}

void TestGraphWindow::recordingTriggers_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("on the curves") << "plot";
    QTest::newRow("on a label") << "label";
    QTest::newRow("on the window") << "window";
    QTest::newRow("double click on the curves") << "double click";
    QTest::newRow("double click where a blank label stands") << "blank label";
    QTest::newRow("double click on a label's text") << "label text";
}

void TestGraphWindow::recordingTriggers()
{
    QFETCH(QString, target);
    Tgraph *g = forms::graph;
    drawOk(realisticLog());
    QVERIFY(QTest::qWaitForWindowExposed(g));
    g->SetOuterSize(720, 430);
    QCoreApplication::processEvents();

    QWidget *receiver = g;
    if (target == "plot" || target == "double click")
        receiver = g->Chart1->findChild<QCustomPlot *>();
    else if (target == "label")
        receiver = g->Y2;
    QVERIFY(receiver);

    // Dismiss the menu without a choice as soon as it is up.
    bool shown = false;
    QObject::connect(g->PopupMenu1, &QMenu::aboutToShow, g, [&shown, g] {
        shown = true;
        QTimer::singleShot(0, g->PopupMenu1, &QMenu::close);
    });
    if (target == "double click") {
        QTest::mouseDClick(receiver, Qt::LeftButton, Qt::NoModifier, QPoint(200, 100));
        QVERIFY(!shown);
    } else if (target == "blank label" || target == "label text") {
        // Through the window, so the widget under the pointer takes it.
        if (target == "label text") {
            g->Y2->setText("Bat2 = 1234mAh");
            QCoreApplication::processEvents();
            QCOMPARE(g->Y2->size(), g->Y2->sizeHint()); // sized to its text
        }
        const QPoint at = g->Y2->mapTo(g, QPoint(3, 3));
        QTest::mouseDClick(g->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
        QVERIFY(!shown);
    } else {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), receiver->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(receiver, &event);
        QVERIFY(shown);
    }
    QCOMPARE(QSize(settings::Gwide, settings::Gheit), QSize(720, 430));
    QCOMPARE(forms::parag->CSpGwide->text(), QString("720"));
    QCOMPARE(forms::parag->CSpGheit->text(), QString("430"));
}

void TestGraphWindow::dragThenDrawRestoresSize()
{
    Tgraph *g = forms::graph;
    drawOk(realisticLog());
    g->SetOuterSize(700, 450); // as if dragged, never recorded
    drawOk(realisticLog());
    QCOMPARE(g->OuterSize(), QSize(settings::Gwide, settings::Gheit));
    QCOMPARE(g->OuterSize(), QSize(600, 300));
}

void TestGraphWindow::centredAtFirstShowOnly_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("default size") << QSize(600, 300);
    QTest::newRow("small") << QSize(300, 200);
    QTest::newRow("larger than the screen") << QSize(3000, 1900);
}

void TestGraphWindow::centredAtFirstShowOnly()
{
    QFETCH(QSize, size);
    Tgraph *g = forms::graph;
    settings::Gwide = size.width();
    settings::Gheit = size.height();
    drawOk(realisticLog());
    const QRect screen = g->screen()->geometry();
    const QPoint expected(qMax(0, screen.x() + (screen.width() - size.width()) / 2),
        qMax(0, screen.y() + (screen.height() - size.height()) / 2));
    QCOMPARE(g->frameGeometry().topLeft(), expected);

    // Moved by the user, hidden, drawn again with another size: the top-left stays.
    g->move(17, 23);
    g->Close1Click();
    QVERIFY(!g->isVisible());
    settings::Gwide = 500;
    settings::Gheit = 250;
    drawOk(realisticLog());
    QVERIFY(g->isVisible());
    QCOMPARE(g->frameGeometry().topLeft(), QPoint(17, 23));
    QCOMPARE(g->OuterSize(), QSize(500, 250));
}

void TestGraphWindow::closeHidesAndDrawShowsAgain()
{
    Tgraph *g = forms::graph;
    settings::Hdisp = 1;
    drawOk(realisticLog());
    const PointSets shown = allPoints(g->Chart1);
    g->Close1Click();
    QVERIFY(!g->isVisible());
    // Hidden, it keeps its curves and labels.
    QCOMPARE(allPoints(g->Chart1), shown);
    QCOMPARE(g->TTL->text(), QString("推定容量(mAh)"));
    drawOk({Header, "1.20V 60 60 60 60", "1.00V 120 120 120 120"});
    QVERIFY(g->isVisible());
    QCOMPARE(g->Chart1->series(0).count(), 2);
}

void TestGraphWindow::labelsAnchoredTopRight_data()
{
    QTest::addColumn<int>("width");
    QTest::newRow("600") << 600;
    QTest::newRow("1000") << 1000;
    QTest::newRow("350") << 350;
}

void TestGraphWindow::labelsAnchoredTopRight()
{
    QFETCH(int, width);
    Tgraph *g = forms::graph;
    settings::Gwide = width;
    settings::Hdisp = 1;
    drawOk(realisticLog());
    QVERIFY(QTest::qWaitForWindowExposed(g));
    QCoreApplication::processEvents();
    const int right = g->Chart1->width();
    QCOMPARE(right, g->width());
    const struct {
        QLabel *label;
        int fromRight, fromTop;
    } anchors[] = {
        {g->TTL, 88, 128},
        {g->Y1, 80, 144},
        {g->Y2, 80, 160},
        {g->Y3, 80, 176},
        {g->Y4, 80, 192},
        {g->TTM, 88, 216},
    };
    for (const auto &a : anchors) {
        QCOMPARE(a.label->parentWidget(), static_cast<QWidget *>(g->Chart1));
        QCOMPARE(a.label->pos(), QPoint(right - a.fromRight, a.fromTop));
        QVERIFY(a.label->isVisible());
    }
}

void TestGraphWindow::fileExtension_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("ext");
    QTest::newRow("plain") << "/tmp/graph.bmp"
                           << ".bmp";
    QTest::newRow("upper case kept") << "/tmp/GRAPH.BMP"
                                     << ".BMP";
    QTest::newRow("last dot") << "/tmp/a.b.wmf"
                              << ".wmf";
    QTest::newRow("dot in a folder only") << "/tmp/v1.2/graph"
                                          << "";
    QTest::newRow("dot in a Windows folder only") << "C:\\v1.2\\graph"
                                                  << "";
    QTest::newRow("drive letter") << "C:graph.emf"
                                  << ".emf";
    QTest::newRow("dot before a colon") << "a.b:graph"
                                        << "";
    QTest::newRow("no dot") << "graph"
                            << "";
    QTest::newRow("trailing dot") << "graph."
                                  << ".";
}

void TestGraphWindow::fileExtension()
{
    QFETCH(QString, name);
    QFETCH(QString, ext);
    QCOMPARE(Tgraph::FileExtension(name), ext);
}

// The save dialog offers what this build can write, in the menu's order, each with its extension.
void TestGraphWindow::filtersOfThisBuild()
{
    QStringList suffixes;
    for (int i = 0; i < graph::PictureFilters().size(); ++i)
        suffixes << graph::PictureFilterSuffix(i);
#ifdef VOLTRAK_NO_SVG
    QCOMPARE(suffixes, (QStringList{"bmp", "wmf", "emf", "png", "pdf"}));
#else
    QCOMPARE(suffixes, (QStringList{"bmp", "wmf", "emf", "png", "svg", "pdf"}));
#endif
    QCOMPARE(graph::PictureFilters().first(), QStringLiteral("BMPファイル　(*.bmp)"));
    QCOMPARE(graph::PictureFilterSuffix(int(graph::PictureFilters().size())), QString());
}

void TestGraphWindow::save_data()
{
    QTest::addColumn<QString>("name"); // relative to a fresh folder; "" cancels
    QTest::addColumn<QByteArray>("magic"); // start of the written file; empty: no file
    QTest::addColumn<bool>("warning");
    QTest::newRow("bmp") << "g.bmp" << QByteArray("BM") << false;
    QTest::newRow("upper-case BMP") << "G.BMP" << QByteArray("BM") << false;
    QTest::newRow("mixed-case Bmp") << "g.Bmp" << QByteArray("BM") << false;
    QTest::newRow("wmf") << "g.wmf" << QByteArray("\xD7\xCD\xC6\x9A", 4) << false;
    QTest::newRow("emf") << "g.EMF" << QByteArray("\x01\x00\x00\x00", 4) << false;
    QTest::newRow("png") << "g.PNG" << QByteArray("\x89PNG", 4) << false;
#ifdef VOLTRAK_NO_SVG
    // A build without an SVG generator does not offer SVG; a name typed with .svg gets the warning, no file.
    QTest::newRow("svg") << "g.svg" << QByteArray() << true;
#else
    QTest::newRow("svg") << "g.svg" << QByteArray("<?xml") << false;
#endif
    QTest::newRow("pdf") << "g.Pdf" << QByteArray("%PDF-") << false;
    QTest::newRow("pdf in a missing folder") << "missing/g.pdf" << QByteArray() << true;
    // Any other extension still writes nothing.
    QTest::newRow("gif writes nothing, says nothing") << "g.gif" << QByteArray() << false;
    QTest::newRow("tiff writes nothing, says nothing") << "g.tiff" << QByteArray() << false;
    QTest::newRow("no extension") << "graph" << QByteArray() << false;
    QTest::newRow("cancelled") << "" << QByteArray() << false;
    QTest::newRow("bmp in a missing folder") << "missing/g.bmp" << QByteArray() << true;
    QTest::newRow("wmf in a missing folder") << "missing/g.wmf" << QByteArray() << true;
    QTest::newRow("emf in a missing folder") << "missing/g.emf" << QByteArray() << true;
    QTest::newRow("bmp over a folder") << "folder.bmp" << QByteArray() << true;
}

void TestGraphWindow::save()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, magic);
    QFETCH(bool, warning);
    Tgraph *g = forms::graph;
    settings::Hdisp = 1;
    drawOk(realisticLog());
    QVERIFY(QTest::qWaitForWindowExposed(g));
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("folder.bmp"));
    const QString path = name.isEmpty() ? QString() : dir.filePath(name);
    g->SaveDialog1 = [path] { return path; };
    const PointSets before = allPoints(g->Chart1);
    const QSize sizeBefore = g->size();

    g->SaveAs1Click();

    QStringList expectedFiles;
    if (!magic.isEmpty()) {
        expectedFiles << name;
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.read(magic.size()), magic);
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), expectedFiles);
    QCOMPARE(m_boxes.size(), warning ? 1 : 0);
    if (warning) {
        QCOMPARE(int(m_boxes.at(0).kind), int(errors::BoxKind::Warning));
        QCOMPARE(m_boxes.at(0).text, QString("ファイル書き込み失敗"));
    }
    // The window stays as it was.
    QVERIFY(g->isVisible());
    QCOMPARE(g->size(), sizeBefore);
    QCOMPARE(allPoints(g->Chart1), before);
}

void TestGraphWindow::bmpImage_data()
{
    QTest::addColumn<int>("hdisp");
    QTest::addColumn<QSize>("outer");
    QTest::newRow("labels shown") << 1 << QSize(600, 300);
    QTest::newRow("labels hidden") << 0 << QSize(600, 300);
    QTest::newRow("larger window, labels shown") << 1 << QSize(900, 500);
}

void TestGraphWindow::bmpImage()
{
    QFETCH(int, hdisp);
    QFETCH(QSize, outer);
    Tgraph *g = forms::graph;
    settings::Hdisp = hdisp;
    settings::Gwide = outer.width();
    settings::Gheit = outer.height();
    drawOk(realisticLog());
    QVERIFY(QTest::qWaitForWindowExposed(g));
    QCoreApplication::processEvents();

    QTemporaryDir dir;
    const QString path = dir.filePath("graph.bmp");
    g->SaveDialog1 = [path] { return path; };
    g->SaveAs1Click();
    QVERIFY(m_boxes.isEmpty());

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray b = f.readAll();
    QCOMPARE(b.left(2), QByteArray("BM"));
    QCOMPARE(qFromLittleEndian<qint32>(b.constData() + 18), g->width());
    QCOMPARE(qFromLittleEndian<qint32>(b.constData() + 22), g->height());
    QCOMPARE(qFromLittleEndian<quint16>(b.constData() + 28), quint16(4));
    const QRgb palette[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0x808080, 0xC0C0C0,
        0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    for (int i = 0; i < 16; ++i) {
        const uchar *q = reinterpret_cast<const uchar *>(b.constData()) + 54 + 4 * i;
        QCOMPARE(qRgb(q[2], q[1], q[0]) & 0xFFFFFF, palette[i]);
    }

    const QImage img = QImage::fromData(b, "BMP");
    QCOMPARE(img.size(), g->size());
    // The curves, in the area left of the legend column.
    const QRect curves(0, 0, g->width() - 100, g->height());
    for (QRgb c : {0xFF0000u, 0x00FF00u, 0x0000FFu, 0x808080u})
        QVERIFY2(countColour(img, c, curves) > 50, qPrintable(QString::number(c, 16)));
    // The labels: black text where they stand, nothing there when they are blank.
    const int right = g->Chart1->width();
    const QRect labelArea(right - 88, 128, 88, 216 + 16 - 128);
    const int ink = countColour(img, 0x000000, labelArea);
    if (hdisp)
        QVERIFY2(ink > 100, qPrintable(QString("%1 black pixels").arg(ink)));
    else
        QCOMPARE(ink, 0);
}

void TestGraphWindow::metafilesHoldNoLabels_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("utf16Text"); // EMF text is UTF-16, WMF text Shift-JIS bytes
    QTest::newRow("EMF") << "g.emf" << true;
    QTest::newRow("WMF") << "g.wmf" << false;
}

void TestGraphWindow::metafilesHoldNoLabels()
{
    QFETCH(QString, name);
    QFETCH(bool, utf16Text);
    Tgraph *g = forms::graph;
    settings::Hdisp = 1;
    drawOk(realisticLog());
    QVERIFY(QTest::qWaitForWindowExposed(g));
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    g->SaveDialog1 = [path] { return path; };
    g->SaveAs1Click();
    QVERIFY(m_boxes.isEmpty());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray b = f.readAll();
    auto encoded = [utf16Text](const QString &s) { return utf16Text ? utf16(s) : sjis::encode(s); };
    // The legend is there, the capacity labels are not.
    QVERIFY(b.contains(encoded("Bat1")));
    QVERIFY(b.contains(encoded("Bat4")));
    QVERIFY(b.contains(encoded("電圧")));
    QVERIFY(!b.contains(encoded("推定容量")));
    QVERIFY(!b.contains(encoded(g->Y1->text().split(' ', Qt::SkipEmptyParts).last())));
    QVERIFY(!b.contains(encoded("時間軸")));
}

int main(int argc, char **argv)
{
    VoltrakApplication app(argc, argv);
    TestGraphWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_graphwindow.moc"
