// The bays hold cells, not texts: a rename follows the cell into the next
// run, the bays come back at the next start, and a cell is in one bay of a
// run at the most, captured or imported.
#include "LibraryTestData.h"
#include "library/BayKeeper.h"
#include "library/Capture.h"
#include "library/Library.h"
#include "library/LibraryService.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestBays : public QObject
{
    Q_OBJECT
private slots:
    void renamedCellKeepsItsHistory_data();
    void renamedCellKeepsItsHistory();
    void baysComeBackAtTheNextStart_data();
    void baysComeBackAtTheNextStart();
    void oneCellPerBayOfARun_data();
    void oneCellPerBayOfARun();
    void importNamesARepeatedLabel();
};

namespace {

int RunsOf(library::Library &lib, const QString &label)
{
    for (const library::CellSummary &s : lib.cellSummaries())
        if (s.info.label == label)
            return s.runCount;
    return -1;
}

QStringList Labels(library::Library &lib)
{
    QStringList labels;
    for (const library::CellSummary &s : lib.cellSummaries())
        labels << s.info.label;
    labels.sort();
    return labels;
}

// Everything asked of the service done, and every answer handled.
void Settle(library::LibraryService &service)
{
    for (int i = 0; i < 10; ++i) {
        service.waitForIdle();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

} // namespace

void TestBays::renamedCellKeepsItsHistory_data()
{
    QTest::addColumn<QString>("typed"); // into bay 4 before the rename
    QTest::addColumn<bool>("recordedFirst"); // a run recorded before the rename
    QTest::newRow("typed, then renamed") << "E-004" << false;
    QTest::newRow("a run, then renamed") << "E-004" << true;
    QTest::newRow("typed with blanks") << "  E-004 " << true;
}

void TestBays::renamedCellKeepsItsHistory()
{
    QFETCH(QString, typed);
    QFETCH(bool, recordedFirst);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("library.sqlite");
    {
        // E-004 with three runs already.
        library::Library lib(path);
        for (int v = 1; v <= 3; ++v)
            lib.recordRun(RunOf(v, {"", "", "", "E-004"}));
    }
    library::LibraryService service(path);
    library::BayAssignment bays;
    library::BayKeeper keeper(&bays, &service, 1);
    int variant = 10;
    library::LiveCapture capture(
        &service, &bays, [&] { return QDateTime(QDate(2026, 12, 9), QTime(10, variant)); },
        [] { return analysis::CapacityParameters(); }, [] { return 1; }, nullptr, 50);
    QSignalSpy recorded(&service, &library::LibraryService::runRecorded);
    Settle(service);

    bays.setLabel(1, "E-001");
    bays.setLabel(4, typed);
    Settle(service);
    QVERIFY(bays.cellId(4) != 0);
    if (recordedFirst) {
        capture.feed(TableText(variant++));
        QTRY_COMPARE(recorded.size(), 1);
    }
    library::CellInfo info;
    {
        library::Library lib(path);
        info = lib.cell(lib.cellIdOf("E-004"));
    }
    info.label = "G-104";
    service.editCell(info, nullptr, nullptr);
    Settle(service);
    QCOMPARE(bays.label(4), QStringLiteral("G-104"));
    const int before = recorded.size();
    capture.feed(TableText(variant++));
    QTRY_COMPARE(recorded.size(), before + 1);
    Settle(service);

    library::Library lib(path);
    QCOMPARE(Labels(lib), (QStringList{"E-001", "G-104"}));
    QCOMPARE(RunsOf(lib, "G-104"), recordedFirst ? 5 : 4);
}

void TestBays::baysComeBackAtTheNextStart_data()
{
    QTest::addColumn<int>("channelAfter");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("same channel") << 1 << QStringList{"E-1", "", "new label", "E-4"};
    QTest::newRow("another channel keeps its own") << 2 << QStringList{"", "", "", ""};
}

void TestBays::baysComeBackAtTheNextStart()
{
    QFETCH(int, channelAfter);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("library.sqlite");
    {
        library::Library lib(path);
        lib.recordRun(RunOf(1, {"E-1", "", "", "E-4"}));
    }
    {
        library::LibraryService service(path);
        library::BayAssignment bays;
        library::BayKeeper keeper(&bays, &service, 1);
        Settle(service);
        bays.setLabel(1, "E-1");
        bays.setLabel(3, "new label");
        bays.setLabel(4, "E-4");
        // Closed before the delay has passed: still kept.
    }
    {
        // Renamed while the program was closed: the bay follows the cell.
        library::Library lib(path);
        library::CellInfo e4 = lib.cell(lib.cellIdOf("E-4"));
        QVERIFY(e4.id != 0);
        e4.label = "E-4b";
        lib.updateCell(e4);
        if (channelAfter == 1)
            expected[3] = "E-4b";
    }
    library::LibraryService service(path);
    library::BayAssignment bays;
    library::BayKeeper keeper(&bays, &service, channelAfter);
    QSignalSpy loaded(&keeper, &library::BayKeeper::loaded);
    QVERIFY(loaded.wait());
    QStringList labels;
    for (int b = 1; b <= 4; ++b)
        labels << bays.label(b);
    QCOMPARE(labels, expected);
    QCOMPARE(bays.assignedCount(), int(expected.size() - expected.count(QString())));
}

void TestBays::oneCellPerBayOfARun_data()
{
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QList<qint64>>("ids"); // by identity, 0 = by label; -1 = the id of X-1
    QTest::addColumn<QList<int>>("repeated");
    QTest::addColumn<int>("xRuns");
    QTest::newRow("the same label twice")
        << QStringList{"X-1", "X-1", "X-2", ""} << QList<qint64>{0, 0, 0, 0} << QList<int>{2} << 1;
    QTest::newRow("three times") << QStringList{"X-1", "X-2", "X-1", "X-1"} << QList<qint64>{0, 0, 0, 0}
                                 << QList<int>{3, 4} << 1;
    QTest::newRow("by id and by its label")
        << QStringList{"old name", "", "X-1", ""} << QList<qint64>{-1, 0, 0, 0} << QList<int>{3} << 1;
    QTest::newRow("all different") << QStringList{"X-1", "X-2", "X-3", "X-4"} << QList<qint64>{0, 0, 0, 0}
                                   << QList<int>{} << 1;
}

void TestBays::oneCellPerBayOfARun()
{
    QFETCH(QStringList, labels);
    QFETCH(QList<qint64>, ids);
    QFETCH(QList<int>, repeated);
    QFETCH(int, xRuns);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    library::Library lib(dir.filePath("library.sqlite"));
    const qint64 x1 = lib.ensureCell("X-1");
    library::RunInput run = RunOf(1, labels);
    for (int b = 0; b < 4; ++b)
        run.cellIds[b] = ids.at(b) == -1 ? x1 : ids.at(b);
    const library::RecordResult r = lib.recordRun(run);
    QCOMPARE(r.repeatedBays, repeated);
    QCOMPARE(r.assignedBays, int(labels.size() - labels.count(QString()) - repeated.size()));
    QCOMPARE(RunsOf(lib, "X-1"), xRuns);
    QVERIFY(!Labels(lib).contains("old name"));
    int bays = 0;
    const QList<library::RunRow> runs = lib.runs();
    for (const library::BayFigures &b : runs.first().bays)
        bays += b.label == "X-1";
    QCOMPARE(bays, 1);
}

void TestBays::importNamesARepeatedLabel()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile log(dir.filePath("bench.log"));
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write("CELLS: A-1 A-2 A-3 A-4\r\n" + TableText(1) + "\r\nCELLS: B-1 B-2 B-1 -\r\n" + TableText(2));
    log.close();
    library::Library lib(dir.filePath("library.sqlite"));
    const library::ImportSummary s = lib.importFiles({log.fileName()}, {}, {}, nullptr);
    QCOMPARE(s.newRuns, 2);
    QCOMPARE(s.repeatedLabels, QStringList{"bench.log 表2: B-1"});
    QVERIFY(library::SummaryText(s).contains(QStringLiteral("同じセルが2つのベイに: bench.log 表2: B-1")));
    QCOMPARE(RunsOf(lib, "B-1"), 1);
    QCOMPARE(RunsOf(lib, "A-3"), 1);
}

QTEST_GUILESS_MAIN(TestBays)
#include "tst_bays.moc"
