// The cell list window, the comparison graph, and both graph windows' new
// picture files as programs we did not write read them.
#include "core/IniFile.h"
#include "core/LogLines.h"
#include "core/Settings.h"
#include "forms/DrawGraph.h"
#include "forms/Forms.h"
#include "forms/Ucells.h"
#include "forms/Ucompare.h"
#include "forms/Ugraph.h"
#include "forms/Uparag.h"
#include "forms/Uvoltrak.h"
#include "tests/support/BoxRecorder.h"
#include "widgets/Chart.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"
#include "widgets/LogPane.h"

#include <QClipboard>
#include <QHeaderView>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray H = "Bat-V Bat1 Bat2 Bat3 Bat4";

// Dump k: four cells, cell j lasting 40 + 10 j + 5 k counts.
QByteArrayList dump(int k)
{
    QByteArrayList lines{QByteArray("2006/03/0") + QByteArray::number(k + 1) + " 07:05", H};
    for (int r = 0; r <= 8; ++r) {
        QByteArray row = "1." + QByteArray::number(40 - 5 * r).rightJustified(2, '0') + "V";
        for (int j = 0; j < 4; ++j)
            row += ' ' + QByteArray::number(r * (40 + 10 * j + 5 * k) / 8);
        lines << row;
    }
    return lines << "end";
}

ByteLines logOf(int dumps)
{
    QByteArrayList lines;
    for (int k = 0; k < dumps; ++k)
        lines += dump(k);
    return ByteLines(QList<QByteArray>(lines.begin(), lines.end()));
}

// Pixels within a small distance of each colour, per colour.
QList<int> colourCounts(const QImage &image, const QList<QColor> &colours)
{
    QList<int> counts(colours.size(), 0);
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x)
            for (qsizetype c = 0; c < colours.size(); ++c)
                if (qAbs(qRed(line[x]) - colours[c].red()) + qAbs(qGreen(line[x]) - colours[c].green())
                        + qAbs(qBlue(line[x]) - colours[c].blue())
                    <= 30)
                    ++counts[c];
    }
    return counts;
}

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("FAILED: ") + program + QString::fromUtf8(p.readAllStandardError());
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestCellWindows : public QObject
{
    Q_OBJECT
    BoxRecorder m_boxes;
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        fonts::InstallSubstitutions();
        settings::ResetToDefaults();
        settings::Hdisp = 1;
        forms::graph = new Tgraph;
        forms::parag = new Tparag;
        QObject::connect(forms::graph, &Tgraph::sizeRecorded, forms::parag, &Tparag::ShowGraphSize);
    }
    void cleanupTestCase()
    {
        delete forms::parag;
        delete forms::graph;
    }
    void init() { m_boxes.clear(); }

    void pictures_data();
    void pictures();
    void unknownExtensionWritesNothing();
    void copyPutsTheImageOnTheClipboard();
    void listSortsSelectsAndDraws();
    void moreThanEightIsRefused();
    void compareSizeInItsOwnSection();
    void viewMenuOpensTheList();
    void paneScanGivesEachLine();
};

void TestCellWindows::pictures_data()
{
    QTest::addColumn<bool>("compare");
    QTest::addColumn<QString>("ext");
    for (const char *ext : {"png", "svg", "pdf"}) {
        QTest::newRow(QByteArray("graph window ") + ext) << false << QString::fromLatin1(ext);
        QTest::newRow(QByteArray("comparison ") + ext) << true << QString::fromLatin1(ext);
    }
}

void TestCellWindows::pictures()
{
    QFETCH(bool, compare);
    QFETCH(QString, ext);
    const ByteLines log = logOf(2);
    Tcells cells(&log);
    QList<QColor> colours;
    QStringList texts;
    std::function<void()> save;
    const QString path = m_dir.filePath(QStringLiteral("%1.%2").arg(compare ? "cmp" : "graph", ext));
    if (compare) {
        cells.Button1Click();
        QList<cells::CellRow> rows = cells.model()->rows();
        cells.compare->resize(760, 420);
        cells.compare->ShowCells(rows, 120, 150);
        for (const QColor &c : Tcompare::Colours)
            colours << c;
        texts << QStringLiteral("No.2-Bat4") << QStringLiteral("電圧");
        cells.compare->SaveDialog1 = [&] { return path; };
        save = [&] { cells.compare->SaveAs1Click(); };
    } else {
        DrawGraphFrom(log);
        for (const SeriesStyle &s : Chart::BatteryStyles())
            colours << s.colour;
        texts << QStringLiteral("推定容量") << QStringLiteral("時間軸：分") << QStringLiteral("Bat4");
        forms::graph->SaveDialog1 = [&] { return path; };
        save = [&] { forms::graph->SaveAs1Click(); };
    }
    save();
    QCOMPARE(m_boxes.texts(), QStringList());
    QVERIFY(QFile::exists(path));

    // Rendered by the outside reader (Qt for PNG) at the picture's size.
    QImage image;
    if (ext == "png") {
        QVERIFY(image.load(path, "PNG"));
        QCOMPARE(image.depth(), 32);
    } else if (ext == "svg") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString svg = QString::fromUtf8(f.readAll());
        for (const QString &t : texts)
            QVERIFY2(svg.contains(QLatin1Char('>') + t), qPrintable(t)); // text as text
        const QString out = m_dir.filePath("svg.png");
        QCOMPARE(run("rsvg-convert", {"-o", out, path}), QString());
        QVERIFY(image.load(out));
    } else {
        const QString fonts = run("pdffonts", {path});
        const QStringList fontLines = fonts.split('\n', Qt::SkipEmptyParts).mid(2);
        QVERIFY2(!fontLines.isEmpty(), qPrintable(fonts));
        for (const QString &l : fontLines)
            QVERIFY2(l.split(' ', Qt::SkipEmptyParts).mid(l.split(' ', Qt::SkipEmptyParts).size() - 5).first() == "yes",
                qPrintable(fonts));
        const QString text = run("pdftotext", {path, "-"});
        for (const QString &t : texts)
            QVERIFY2(text.contains(t), qPrintable(text));
        const QString pageInfo = run("pdfinfo", {path});
        QVERIFY2(pageInfo.contains(QRegularExpression("Pages:\\s+1\n")), qPrintable(pageInfo));
        QCOMPARE(run("pdftoppm", {"-png", "-r", "96", "-singlefile", path, m_dir.filePath("pdf")}), QString());
        QVERIFY(image.load(m_dir.filePath("pdf.png")));
    }
    const QSize expected = compare ? cells.compare->Chart1->size() : forms::graph->Chart1->size();
    QVERIFY2(qAbs(image.width() - expected.width()) <= 1 && qAbs(image.height() - expected.height()) <= 1,
        qPrintable(QStringLiteral("%1x%2").arg(image.width()).arg(image.height())));
    const QList<int> counts = colourCounts(image, colours);
    for (qsizetype c = 0; c < counts.size(); ++c)
        QVERIFY2(
            counts[c] >= 20, qPrintable(QStringLiteral("colour %1: %2 pixels").arg(colours[c].name()).arg(counts[c])));
}

void TestCellWindows::unknownExtensionWritesNothing()
{
    const ByteLines log = logOf(1);
    DrawGraphFrom(log);
    const QString path = m_dir.filePath("graph.gif");
    forms::graph->SaveDialog1 = [&] { return path; };
    forms::graph->SaveAs1Click();
    QVERIFY(!QFile::exists(path));
    QCOMPARE(m_boxes.texts(), QStringList());
    // A folder that cannot be written: the warning, nothing else.
    forms::graph->SaveDialog1 = [] { return QStringLiteral("/nonexistent/dir/graph.svg"); };
    forms::graph->SaveAs1Click();
    QCOMPARE(m_boxes.texts(), QStringList{"警告|ファイル書き込み失敗"});
}

void TestCellWindows::copyPutsTheImageOnTheClipboard()
{
    const ByteLines log = logOf(1);
    DrawGraphFrom(log);
    QGuiApplication::clipboard()->clear();
    forms::graph->PopupMenu1->actions().at(1)->trigger();
    QCOMPARE(forms::graph->Copy1->text(), QStringLiteral("コピー(&C)"));
    const QImage copied = QGuiApplication::clipboard()->image();
    QCOMPARE(copied.size(), forms::graph->size());
    QVERIFY(colourCounts(copied, {Qt::red})[0] > 20);
}

void TestCellWindows::listSortsSelectsAndDraws()
{
    const ByteLines log = logOf(2);
    Tcells cells(&log);
    cells.compare->IniPath = m_dir.filePath("list.ini");
    cells.show();
    QVERIFY(QTest::qWaitForWindowExposed(&cells));
    QCOMPARE(cells.ListView1->model()->rowCount(), 8);
    QCOMPARE(QApplication::focusWidget(), cells.ListView1);

    // Capacity grows with the cell number and the dump: sorted descending the
    // second dump's cell 4 comes first.
    cells.ListView1->horizontalHeader()->setSortIndicator(cells::ColumnCapacity, Qt::DescendingOrder);
    QList<double> caps;
    for (const cells::CellRow &r : cells.shownRows())
        caps << r.capacity;
    QVERIFY(std::is_sorted(caps.rbegin(), caps.rend()));
    QCOMPARE(cells.shownRows().first().table, 2);
    // The CSV holds the list as shown: sorted.
    const QString csv = m_dir.filePath("shown.csv");
    cells.SaveDialog = [&] { return csv; };
    cells.Button4->click();
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll().split('\n').at(1).startsWith("2,2006/03/02 07:05,通信データ,4,"));

    // A click on the first row, Shift+Down twice, then Ctrl+click on the last.
    QWidget *vp = cells.ListView1->viewport();
    const auto rowCentre
        = [&cells](int row) { return cells.ListView1->visualRect(cells.ListView1->model()->index(row, 2)).center(); };
    QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, rowCentre(0));
    QTest::keyClick(cells.ListView1, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(cells.ListView1, Qt::Key_Down, Qt::ShiftModifier);
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ControlModifier, rowCentre(7));
    QStringList chosen;
    for (const cells::CellRow &r : cells.selectedRows())
        chosen << Tcompare::CurveTitle(r);
    QCOMPARE(chosen, (QStringList{"No.2-Bat4", "No.1-Bat4", "No.2-Bat3", "No.1-Bat1"}));
    QTest::keyClick(cells.ListView1, Qt::Key_Return);
    QVERIFY(cells.compare->isVisible());
    QCOMPARE(cells.compare->Chart1->seriesCount(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(cells.compare->Chart1->series(i).title(), chosen.at(i));
        QCOMPARE(cells.compare->Chart1->series(i).colour(), Tcompare::Colours[i]);
    }
    // Voltages capped at Gvmax: 1.40 V drawn at 1.35 V.
    settings::Gvmax = 135;
    cells.Button3Click();
    QCOMPARE(cells.compare->Chart1->series(0).y(0), 1.35);
    QCOMPARE(cells.compare->Chart1->bottomAxis().maximum(), 120.0);
    settings::Gvmax = 150;

    // A graph setting changed, then 更新: figures recomputed.
    const double before = cells.model()->rows().first().capacity;
    settings::Htime = 2;
    cells.Button1->click();
    QCOMPARE(cells.model()->rows().first().capacity, before / 60);
    settings::Htime = 0;
    cells.Button5->click();
    QVERIFY(!cells.isVisible());
}

void TestCellWindows::moreThanEightIsRefused()
{
    const ByteLines log = logOf(3);
    Tcells cells(&log);
    cells.Button1Click();
    cells.ListView1->selectAll();
    QCOMPARE(cells.selectedRows().size(), 12);
    cells.Button3Click();
    QCOMPARE(m_boxes.texts(), QStringList{"警告|比較できるのは8セルまでです"});
    QVERIFY(!cells.compare->isVisible());
}

void TestCellWindows::compareSizeInItsOwnSection()
{
    const QString ini = m_dir.filePath("size.ini");
    const ByteLines log = logOf(1);
    {
        Tcells cells(&log);
        cells.compare->IniPath = ini;
        cells.Button1Click();
        cells.compare->ShowCells(cells.model()->rows().mid(0, 2), 120, 150);
        cells.compare->resize(710, 333);
        cells.compare->Close1Click();
    }
    const IniFile file(ini);
    QCOMPARE(file.readInteger("CellCompare", "Width", 0), 710);
    QCOMPARE(file.readInteger("CellCompare", "Height", 0), 333);
    QVERIFY(file.keys(settings::SectionName).isEmpty());
    Tcells again(&log);
    again.compare->IniPath = ini;
    again.Button1Click();
    again.compare->ShowCells(again.model()->rows().mid(0, 1), 120, 150);
    QCOMPARE(again.compare->size(), QSize(710, 333));
    again.compare->hide();
}

void TestCellWindows::viewMenuOpensTheList()
{
    QFile f(settings::IniFilePath());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Ports]\r\nCOM1=/nonexistent/voltrak-test-port\r\n");
    f.close();
    delete forms::parag;
    delete forms::graph;
    forms::CreateForms();
    QStringList menus;
    for (QAction *a : forms::main->menuBar()->actions())
        menus << a->text();
    QCOMPARE(menus.mid(2), (QStringList{"設定(&S)", "表示(&V)", "ヘルプ(&H)"}));
    QCOMPARE(forms::main->CellList1->text(), QStringLiteral("セル一覧(&L)..."));
    forms::main->CellList1->trigger();
    QVERIFY(forms::main->cells->isVisible());
    QCOMPARE(forms::main->cells->windowTitle(), QStringLiteral("セル一覧"));
    QCOMPARE(forms::main->cells->model()->rows().size(), 0);
    // Chosen again while open, the list reads the pane again.
    forms::main->RichEdit1->appendReceived("Bat-V Bat1 Bat2 Bat3 Bat4\r\n1.20V 1 2 3 4\r\n");
    forms::main->CellList1->trigger();
    QCOMPARE(forms::main->cells->model()->rows().size(), 4);
    forms::DestroyForms();
    QFile::remove(settings::IniFilePath());
    forms::graph = new Tgraph;
    forms::parag = new Tparag;
    QObject::connect(forms::graph, &Tgraph::sizeRecorded, forms::parag, &Tparag::ShowGraphSize);
}

void TestCellWindows::paneScanGivesEachLine()
{
    // The pane's fast walk must hand over exactly what line(i) reads: ASCII,
    // Japanese, characters with no Shift-JIS form, empty lines, and the
    // received text still waiting to be put on screen.
    LogPane pane;
    pane.setPlainText(
        QStringLiteral("2006/03/02 07:05\n放電テスト ①\n\nBat-V Bat1 Bat2 Bat3 Bat4\n1.20V 1 2 3 4\ncafé ﾃｽﾄ ?\n"));
    pane.appendReceived(QByteArray("Bat-V Bat1 Bat2 Bat3 Bat4\r\n1.10V 5 6 7 8\r\n\x83\x65"));
    QList<QByteArray> scanned;
    pane.scanLines([&](int i, const QByteArray &line) {
        QCOMPARE(i, int(scanned.size()));
        scanned << line;
    });
    QCOMPARE(int(scanned.size()), pane.lineCount());
    for (int i = 0; i < pane.lineCount(); ++i)
        QCOMPARE(scanned.at(i), pane.line(i));
    QCOMPARE(analysis::FindAllTables(pane).size(), 2);
    QCOMPARE(analysis::FindAllTables(pane).last().rows, QList<QByteArray>{"1.10V 5 6 7 8"});
}

QTEST_MAIN(TestCellWindows)
#include "tst_cellwindows.moc"
