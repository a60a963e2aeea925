// Every table in a log, the figures of each cell, the list's sources and
// texts, and the CSV as a script reads it.
#include "analysis/Capacity.h"
#include "analysis/DischargeTable.h"
#include "cells/CellList.h"
#include "core/LogFile.h"
#include "core/LogLines.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using analysis::FoundTable;
using cells::CellRow;

namespace {

const QByteArray H = "Bat-V Bat1 Bat2 Bat3 Bat4";

ByteLines linesOf(const QByteArrayList &lines)
{
    return ByteLines(QList<QByteArray>(lines.begin(), lines.end()));
}

// "header line|stamp|rows" per table, for compact expectations.
QStringList describe(const QList<FoundTable> &tables)
{
    QStringList out;
    for (const FoundTable &t : tables)
        out << QStringLiteral("%1|%2|%3").arg(t.headerLine).arg(QString::fromLatin1(t.stamp)).arg(t.rows.size());
    return out;
}

analysis::CapacityParameters params(qint32 hteiko, qint32 hvds, qint32 htime)
{
    analysis::CapacityParameters p;
    p.Hteiko = hteiko;
    p.Hvds = hvds;
    p.Htime = htime;
    return p;
}

QList<analysis::TableRow> rowsOf(const QByteArrayList &rows)
{
    analysis::TDischargeTable t;
    t.rows = rows;
    t.rowCount = qint32(rows.size());
    return analysis::ConvertTable(t);
}

} // namespace

class TestCellList : public QObject
{
    Q_OBJECT
private slots:
    void findAll_data();
    void findAll();
    void lastFoundIsExtracted_data();
    void lastFoundIsExtracted();
    void dateStamp_data();
    void dateStamp();
    void figures_data();
    void figures();
    void sourcesNumberFilesThenLog();
    void fileReadLikeOpen();
    void badTableLeftOutAndNamed();
    void texts();
    void sortKeysAreNumbers();
    void csvReadByPython();
};

void TestCellList::findAll_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QStringList>("tables");

    QTest::newRow("none") << QByteArrayList{"2006/03/02 07:05", "hello", "1.2V"} << QStringList{};
    QTest::newRow("empty log") << QByteArrayList{} << QStringList{};
    QTest::newRow("dumps with stamps and comments between") << QByteArrayList{"2006/03/02 07:05", "start", H,
        "1.20V 1 2 3 4", "1.10V 5 6 7 8", "comment", "2006/03/03 08:15 second run", "  12  1.31 1.30", H,
        "1.20V 9 9 9 9", "end", "typed note", H, "1.25V 1 1 1 1", "1.15V 2 2 2 2", "1.05V 3 3 3 3",
        "after"} << QStringList{"2|2006/03/02 07:05|2", "8|2006/03/03 08:15|1", "12|2006/03/03 08:15|3"};
    QTest::newRow("dump at the very top and the very end")
        << QByteArrayList{H, "1.20V 1 2 3 4", "x", "2020/12/31 23:59", H, "1.20V 1 2 3 4", "1.10V 2 3 4 5"}
        << QStringList{"0||1", "4|2020/12/31 23:59|2"};
    QTest::newRow("header with no rows still counts")
        << QByteArrayList{H, "not a row", H, "1.20V 1 2 3 4"} << QStringList{"0||0", "2||1"};
    QTest::newRow("rows from the top when there is no header")
        << QByteArrayList{"1.20V 1 2 3 4", "1.10V 2 3 4 5", "x", "1.00V 9 9 9 9"} << QStringList{"-1||2"};
    QTest::newRow("top rows are no table once a header exists")
        << QByteArrayList{"1.20V 1 2 3 4", "x", H, "1.10V 2 3 4 5"} << QStringList{"2||1"};
    QTest::newRow("header with a trailing space is a comment")
        << QByteArrayList{"2006/03/02 07:05", H + ' ', "1.20V 1 2 3 4"} << QStringList{};
    QTest::newRow("comment between rows ends the table")
        << QByteArrayList{H, "1.20V 1 2 3 4", "note", "1.10V 2 3 4 5"} << QStringList{"0||1"};
    QTest::newRow("stamp after a table belongs to the next") << QByteArrayList{"2001/01/01 00:00", H, "1.20V 1 2 3 4",
        "2002/02/02 02:02", H, "1.20V 1 2 3 4"} << QStringList{"1|2001/01/01 00:00|1", "4|2002/02/02 02:02|1"};
}

void TestCellList::findAll()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(QStringList, tables);
    QCOMPARE(describe(analysis::FindAllTables(linesOf(lines))), tables);
}

void TestCellList::lastFoundIsExtracted_data()
{
    findAll_data();
}

void TestCellList::lastFoundIsExtracted()
{
    QFETCH(QByteArrayList, lines);
    const ByteLines source = linesOf(lines);
    analysis::TDischargeTable extracted;
    analysis::ExtractDischargeTable(source, extracted);
    const QList<FoundTable> all = analysis::FindAllTables(source);
    const QList<QByteArray> last = all.isEmpty() ? QList<QByteArray>() : all.last().rows;
    QCOMPARE(last, extracted.rows);
}

void TestCellList::dateStamp_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("stamp");
    QTest::newRow("clear command's stamp") << QByteArray("2006/03/02 07:05") << true;
    QTest::newRow("followed by text") << QByteArray("2026/12/08 23:59 run 4") << true;
    QTest::newRow("too short") << QByteArray("2006/03/02 07:5") << false;
    QTest::newRow("month 13") << QByteArray("2006/13/02 07:05") << false;
    QTest::newRow("hour 24") << QByteArray("2006/03/02 24:00") << false;
    QTest::newRow("dashes") << QByteArray("2006-03-02 07:05") << false;
    QTest::newRow("leading blank") << QByteArray(" 2006/03/02 07:05") << false;
}

void TestCellList::dateStamp()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, stamp);
    QCOMPARE(analysis::BeginsWithDateStamp(line), stamp);
}

void TestCellList::figures_data()
{
    QTest::addColumn<QByteArrayList>("rows");
    QTest::addColumn<int>("htime");
    QTest::addColumn<int>("cellCount");
    QTest::addColumn<QList<double>>("capacity");
    QTest::addColumn<QList<double>>("meanVoltage"); // negative: none
    QTest::addColumn<QList<int>>("lastTime");

    // 1150 x 1 + (1150 + 950) x 1 x 0.5 = 2200 mAh; mean voltage
    // (1.20 x 60 + (1.20 + 1.00) x 60 x 0.5) / 120 = 1.15 V.
    QTest::newRow("two rows, minutes") << QByteArrayList{"1.20V 60 60 60 60", "1.00V 120 120 120 120"} << 0 << 4
                                       << QList<double>{2200, 2200, 2200, 2200} << QList<double>{1.15, 1.15, 1.15, 1.15}
                                       << QList<int>{120, 120, 120, 120};
    QTest::newRow("seconds: a sixtieth") << QByteArrayList{"1.20V 60 60 60 60", "1.00V 120 120 120 120"} << 2 << 4
                                         << QList<double>{2200.0 / 60, 2200.0 / 60, 2200.0 / 60, 2200.0 / 60}
                                         << QList<double>{1.15, 1.15, 1.15, 1.15} << QList<int>{120, 120, 120, 120};
    // Cell 1 stops at 10 (adds nothing after), cell 2 never starts, cell 3
    // only in three rows. Hand sums over counts:
    //  cell 1: 1.40*10 + 0 + 0 = 14 over 10 -> 1.40
    //  cell 3: 1.40*10 + (1.40+1.20)*10*0.5 + (1.20+1.00)*20*0.5 = 14+13+22 = 49 over 40 -> 1.225
    //  cell 4: only the first two rows have it: 1.40*20 + 2.60*0*0.5 = 28 over 20 -> 1.40
    // Currents (Hvds 5, Hteiko 100): 1350, 1150, 950 mA.
    //  cell 1: 1350*10/60 = 225; cell 3: (1350*10 + 2500*10*0.5 + 2100*20*0.5)/60 = 47000/60
    //  cell 4: 1350*20/60 = 450
    QTest::newRow("stopped, empty and short cells")
        << QByteArrayList{"1.40V 10 0 10 20", "1.20V 10 0 20 20", "1.00V 10 0 40"} << 0 << 4
        << QList<double>{225, 0, 47000.0 / 60, 450} << QList<double>{1.40, -1, 1.225, 1.40}
        << QList<int>{10, 0, 40, 20};
    QTest::newRow("three cells only") << QByteArrayList{"1.30V 6 6 6", "1.10V 12 18 24"} << 1 << 3
                                      << QList<double>{(1250.0 * 6 + 2300.0 * 6 * 0.5) / 360,
                                             (1250.0 * 6 + 2300.0 * 12 * 0.5) / 360,
                                             (1250.0 * 6 + 2300.0 * 18 * 0.5) / 360, 0}
                                      << QList<double>{(1.3 * 6 + 2.4 * 3) / 12, (1.3 * 6 + 2.4 * 6) / 18,
                                             (1.3 * 6 + 2.4 * 9) / 24, -1}
                                      << QList<int>{12, 18, 24, 0};
}

void TestCellList::figures()
{
    QFETCH(QByteArrayList, rows);
    QFETCH(int, htime);
    QFETCH(int, cellCount);
    QFETCH(QList<double>, capacity);
    QFETCH(QList<double>, meanVoltage);
    QFETCH(QList<int>, lastTime);
    const cells::TableFigures f = cells::FiguresOf(rowsOf(rows), params(100, 5, htime));
    QCOMPARE(f.cellCount, cellCount);
    for (int j = 0; j < 4; ++j) {
        QVERIFY2(qAbs(f.capacity[j] - capacity[j]) < 1e-9,
            qPrintable(QStringLiteral("cell %1: %2").arg(j + 1).arg(f.capacity[j])));
        QCOMPARE(f.hasMeanVoltage[j], meanVoltage[j] >= 0);
        if (f.hasMeanVoltage[j])
            QVERIFY2(qAbs(f.meanVoltage[j] - meanVoltage[j]) < 1e-12, qPrintable(QString::number(f.meanVoltage[j])));
        QCOMPARE(f.lastTime[j], lastTime[j]);
    }
    // The capacity is the draw command's estimate, number for number.
    double drawn[4];
    analysis::EstimateCapacities(rowsOf(rows), params(100, 5, htime), drawn);
    for (int j = 0; j < 4; ++j)
        QCOMPARE(f.capacity[j], drawn[j]);
}

void TestCellList::sourcesNumberFilesThenLog()
{
    QTemporaryDir dir;
    const QString older = dir.filePath("older.log");
    const QString old = dir.filePath("old.txt");
    QFile f1(older);
    QVERIFY(f1.open(QIODevice::WriteOnly));
    f1.write("2005/01/01 10:00\r\n" + H + "\r\n1.20V 60 60 60 60\r\n1.00V 120 120 120 120\r\n");
    f1.close();
    QFile f2(old);
    QVERIFY(f2.open(QIODevice::WriteOnly));
    f2.write(H + "\r\n1.20V 1 2 3 4\r\n");
    f2.close();

    cells::CellSources sources;
    sources.setLog(linesOf({"2006/03/02 07:05", H, "1.20V 5 5 5 5", "x", H, "1.25V 1 1 1 1", "1.15V 2 2 2 2"}));
    sources.addFile(older);
    sources.addFile(old);
    sources.addFile(older); // again: replaces, does not duplicate
    const cells::CellSources::Result r = sources.cells(params(100, 5, 0));
    QCOMPARE(r.rows.size(), 16);
    QStringList seen;
    for (const CellRow &c : r.rows)
        seen << QStringLiteral("%1 %2 %3 %4").arg(c.table).arg(c.source, c.stamp).arg(c.cell);
    QCOMPARE(seen.mid(0, 1), QStringList{"1 older.log 2005/01/01 10:00 1"});
    QCOMPARE(seen.at(4), QStringLiteral("2 old.txt  1"));
    QCOMPARE(seen.at(8), QStringLiteral("3 通信データ 2006/03/02 07:05 1"));
    QCOMPARE(seen.at(15), QStringLiteral("4 通信データ 2006/03/02 07:05 4"));
    QCOMPARE(r.rows.at(0).capacity, 2200.0);
    QCOMPARE(r.rows.at(15).curve, (QList<QPointF>{{1, 1.25}, {2, 1.15}}));
    QVERIFY(r.problems.isEmpty());

    QVERIFY_THROWS_EXCEPTION(std::runtime_error, sources.addFile(dir.filePath("missing.txt")));
}

void TestCellList::fileReadLikeOpen()
{
    // Lone CR and lone LF end lines as in the pane; zero bytes are dropped
    // (so the second row's "V " is in place); Shift-JIS comments pass.
    QTemporaryDir dir;
    const QString path = dir.filePath("mixed.txt");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\x83\x65\x83\x58\x83\x67\r") + H + "\n1.20V 1 2 3 4\r\n1.1" + QByteArray(1, '\0')
        + "0V 2 3 4 5\r\nend");
    f.close();
    const ByteLines lines = ReadLogFileLines(path);
    QCOMPARE(lines.lineCount(), 5);
    QCOMPARE(lines.line(0), QByteArray("\x83\x65\x83\x58\x83\x67"));
    QCOMPARE(describe(analysis::FindAllTables(lines)), QStringList{"1||2"});
}

void TestCellList::badTableLeftOutAndNamed()
{
    cells::CellSources sources;
    sources.setLog(linesOf({H, "1.20V 1 2 3 4", "x", H, "1.2xV 1 2 3 4", "x", H, "1.10V 1 2 3 4"}));
    const cells::CellSources::Result r = sources.cells(params(100, 5, 0));
    QCOMPARE(r.rows.size(), 8);
    QCOMPARE(r.rows.first().table, 1);
    QCOMPARE(r.rows.last().table, 3);
    QCOMPARE(r.problems.size(), 1);
    QVERIFY2(
        r.problems.first().startsWith(QStringLiteral("No.2 (通信データ): '1.2x'")), qPrintable(r.problems.first()));
}

void TestCellList::texts()
{
    CellRow c;
    c.table = 12;
    c.stamp = QStringLiteral("2006/03/02 07:05");
    c.source = QStringLiteral("a.txt");
    c.cell = 3;
    c.capacity = 12345.67;
    c.hasMeanVoltage = true;
    c.meanVoltage = 1.23456;
    c.lastTime = 250;
    c.timeUnit = QStringLiteral("10秒");
    const QStringList expected{"12", "2006/03/02 07:05", "a.txt", "3", "12345.7", "1.235", "250 10秒"};
    QLocale::setDefault(QLocale(QLocale::German)); // a comma locale changes nothing
    for (int col = 0; col < cells::ColumnCount; ++col)
        QCOMPARE(cells::CellText(c, col), expected.at(col));
    QLocale::setDefault(QLocale::c());
    c.hasMeanVoltage = false;
    QCOMPARE(cells::CellText(c, cells::ColumnMeanVoltage), QString());
}

void TestCellList::sortKeysAreNumbers()
{
    // 900.0 sorts below 1000.0 (as text it would not); No. 9 below No. 10.
    cells::CellListModel model;
    CellRow a, b;
    a.table = 10;
    a.capacity = 1000.0;
    b.table = 9;
    b.capacity = 900.0;
    model.setRows({a, b});
    const auto key = [&model](int row, int col) { return model.index(row, col).data(cells::CellListModel::SortRole); };
    QVERIFY(QVariant::compare(key(1, cells::ColumnCapacity), key(0, cells::ColumnCapacity)) == QPartialOrdering::Less);
    QVERIFY(QVariant::compare(key(1, cells::ColumnNo), key(0, cells::ColumnNo)) == QPartialOrdering::Less);
    QCOMPARE(model.headerData(cells::ColumnCapacity, Qt::Horizontal).toString(), QStringLiteral("容量(mAh)"));
}

void TestCellList::csvReadByPython()
{
    CellRow plain;
    plain.table = 1;
    plain.stamp = QStringLiteral("2006/03/02 07:05");
    plain.source = QStringLiteral("通信データ");
    plain.cell = 1;
    plain.capacity = 2200.0;
    plain.hasMeanVoltage = true;
    plain.meanVoltage = 1.15;
    plain.lastTime = 120;
    plain.timeUnit = QStringLiteral("分");
    CellRow odd = plain;
    odd.table = 2;
    odd.source = QStringLiteral("run \"7\", cells.txt");
    odd.cell = 4;
    odd.capacity = 1234567.89;
    odd.hasMeanVoltage = false;

    QTemporaryDir dir;
    const QString path = dir.filePath("list.csv");
    cells::WriteCsv(path, {plain, odd});

    // The script prints whether the BOM is there, then each record as JSON.
    const QString script
        = QStringLiteral("import csv, json, sys\n"
                         "raw = open(sys.argv[1], 'rb').read()\n"
                         "print(raw.startswith(b'\\xef\\xbb\\xbf'), raw.count(b'\\r\\n'), raw.count(b'\\n'))\n"
                         "with open(sys.argv[1], encoding='utf-8-sig', newline='') as f:\n"
                         "    for rec in csv.reader(f):\n"
                         "        print(json.dumps(rec, ensure_ascii=True))\n"
                         "        if rec[4] != '容量(mAh)': float(rec[4])\n");
    QProcess py;
    py.start(QStringLiteral("python3"), {QStringLiteral("-c"), script, path});
    QVERIFY(py.waitForFinished(30000));
    QCOMPARE(py.exitCode(), 0);
    const QStringList out = QString::fromUtf8(py.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(out.size(), 4);
    QCOMPARE(out.at(0), QStringLiteral("True 3 3"));
    const auto record = [](const QString &json) {
        QStringList fields;
        for (const QJsonValue &v : QJsonDocument::fromJson(json.toUtf8()).array())
            fields << v.toString();
        return fields;
    };
    QCOMPARE(record(out.at(1)), (QStringList{"No.", "日時", "出典", "セル", "容量(mAh)", "平均電圧(V)", "放電時間"}));
    QCOMPARE(record(out.at(2)), (QStringList{"1", "2006/03/02 07:05", "通信データ", "1", "2200.0", "1.150", "120 分"}));
    QCOMPARE(record(out.at(3)),
        (QStringList{"2", "2006/03/02 07:05", "run \"7\", cells.txt", "4", "1234567.9", "", "120 分"}));

    // Text for standard output carries no BOM.
    QVERIFY(cells::CsvText({plain}).startsWith("No.,"));
}

QTEST_GUILESS_MAIN(TestCellList)
#include "tst_celllist.moc"
