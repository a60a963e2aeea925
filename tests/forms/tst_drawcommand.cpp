// The draw command end to end: a saved log opened in the main window, drawn
// from the main window's button and from the graph settings dialog.
#include "core/Settings.h"
#include "core/SjisText.h"
#include "forms/Forms.h"
#include "forms/Ugraph.h"
#include "forms/Uparag.h"
#include "forms/Uvoltrak.h"
#include "tests/support/BoxRecorder.h"
#include "widgets/Application.h"
#include "widgets/Chart.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"
#include "widgets/LogPane.h"
#include "widgets/RadioGroup.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A saved log: Shift-JIS, CR LF, the user's notes among the device's output.
QByteArray savedLog(const QByteArray &badRow = QByteArray())
{
    QByteArray log = sjis::encode(QStringLiteral("2006/03/02 07:05\r\n放電開始　セル4本\r\n"));
    log += "Bat-V Bat1 Bat2 Bat3 Bat4\r\n";
    log += "1.30V 10 11 12 13\r\n1.20V 60 60 60 60\r\n";
    if (!badRow.isEmpty())
        log += badRow + "\r\n";
    log += "1.00V 120 120 120 120\r\n";
    log += sjis::encode(QStringLiteral("終了\r\n"));
    return log;
}

} // namespace

class TestDrawCommand : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void drawFromButtons_data();
    void drawFromButtons();
    void badRowFromTheMainButton();

private:
    void openLog(const QByteArray &bytes);
    BoxRecorder m_boxes;
    QTemporaryDir m_dir;
};

void TestDrawCommand::initTestCase()
{
    fonts::InstallSubstitutions();
}

void TestDrawCommand::init()
{
    settings::ResetToDefaults();
    m_boxes.clear();
    QFile ini(settings::IniFilePath());
    QVERIFY(ini.open(QIODevice::WriteOnly));
    // No device behind channel 1, so start-up never touches a real port.
    ini.write("[Ports]\r\nCOM1=/nonexistent/voltrak-test-port\r\n[VOLTRAK]\r\n");
    ini.close();
    forms::CreateForms();
    m_boxes.clear(); // the port that cannot be opened
    forms::main->show();
    QVERIFY(QTest::qWaitForWindowExposed(forms::main));
}

void TestDrawCommand::cleanup()
{
    forms::DestroyForms();
    QFile::remove(settings::IniFilePath());
}

void TestDrawCommand::openLog(const QByteArray &bytes)
{
    const QString path = m_dir.filePath("discharge.txt");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    forms::main->OpenDialog = [path] { return path; };
    forms::main->Open1Click();
}

void TestDrawCommand::drawFromButtons_data()
{
    QTest::addColumn<bool>("fromDialog");
    QTest::addColumn<int>("display"); // item of RGpHdisp clicked before drawing
    QTest::addColumn<QStringList>("labels");
    // 1250 mA up to each cell's first time, then the trapezoids to 1150 and 950 mA.
    const QStringList shown{"推定容量(mAh)", "1   2258.3", "2   2259.2", "3   2260.0", "4   2260.8", "時間軸：分"};
    const QStringList blank{"", "", "", "", "", ""};
    QTest::newRow("dialog, 表示") << true << 1 << shown;
    QTest::newRow("dialog, 表示なし") << true << 0 << blank;
    QTest::newRow("main window, 表示") << false << 1 << shown;
    QTest::newRow("main window, 表示なし") << false << 0 << blank;
}

void TestDrawCommand::drawFromButtons()
{
    QFETCH(bool, fromDialog);
    QFETCH(int, display);
    QFETCH(QStringList, labels);
    openLog(savedLog());
    Tparag *dialog = forms::parag;
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    // Start from the other item so the click below is a change.
    dialog->RGpHdisp->setItemIndex(1 - display);
    QTest::mouseClick(dialog->RGpHdisp->button(display), Qt::LeftButton);
    QCOMPARE(settings::Hdisp, display);

    QTest::mouseClick(fromDialog ? dialog->Button2 : forms::main->BitBtn3, Qt::LeftButton);

    QCOMPARE(m_boxes.texts(), QStringList());
    Tgraph *g = forms::graph;
    QVERIFY(g->isVisible());
    QCOMPARE(dialog->isVisible(), true); // drawing leaves the dialog open
    QCOMPARE(g->Chart1->series(0).count(), 3);
    QCOMPARE(g->Chart1->series(3).x(0), 13.0);
    const QStringList got{g->TTL->text(), g->Y1->text(), g->Y2->text(), g->Y3->text(), g->Y4->text(), g->TTM->text()};
    QCOMPARE(got, labels);

    // Switching the display and drawing again fills or blanks the labels.
    QTest::mouseClick(dialog->RGpHdisp->button(1 - display), Qt::LeftButton);
    QTest::mouseClick(dialog->Button2, Qt::LeftButton);
    QCOMPARE(g->TTL->text().isEmpty(), display == 1);
}

void TestDrawCommand::badRowFromTheMainButton()
{
    openLog(savedLog());
    QTest::mouseClick(forms::main->BitBtn3, Qt::LeftButton);
    Tgraph *g = forms::graph;
    QVERIFY(g->isVisible());
    QCOMPARE(g->Chart1->series(0).count(), 3);
    g->hide();

    openLog(savedLog("1.1OV 90 90 90 90"));
    QTest::mouseClick(forms::main->BitBtn3, Qt::LeftButton);
    QCOMPARE(m_boxes.texts(), QStringList{"VOLTRAK|'1.1O' は浮動小数点数ではありません."});
    // The program goes on with the curves it had.
    QVERIFY(!g->isVisible());
    QCOMPARE(g->Chart1->series(0).count(), 3);
    QVERIFY(forms::main->isVisible());
}

int main(int argc, char **argv)
{
    VoltrakApplication app(argc, argv);
    TestDrawCommand test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_drawcommand.moc"
