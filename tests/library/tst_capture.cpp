// Recognising tables in received bytes, and the capture of the main window's
// side: recorded once, with the bay labels of the moment.
#include "library/Capture.h"
#include "library/Library.h"
#include "library/LibraryService.h"
#include "tests/library/LibraryTestData.h"
#include "tests/support/TestFiles.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray Joined(const QList<library::CapturedRows> &tables)
{
    QByteArrayList parts;
    for (const library::CapturedRows &t : tables)
        parts << t.rows.join('|');
    return parts.join('#');
}
} // namespace

class TestCapture : public QObject
{
    Q_OBJECT
private slots:
    void detector_data();
    void detector();
    void quietTimeCountsFromTheLastByte();
    void liveCaptureRecordsOnceWithLabels();
    void serviceOnLibrariesNotWritable_data();
    void serviceOnLibrariesNotWritable();
    void serviceImportsAndAnswers();
    void closingStopsAnImportKeepingFilesDone();
};

void TestCapture::detector_data()
{
    // chunks arrive 10 ms apart; then expire() is asked `quiet` ms after the last one.
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<int>("quiet");
    QTest::addColumn<QByteArray>("atOnce"); // tables handed over by the chunks themselves
    QTest::addColumn<QByteArray>("afterQuiet"); // tables handed over by expire()

    const QByteArray t1 = TableText(1), t2 = TableText(2);
    const QByteArray rows1 = TableRows(1).join('|'), rows2 = TableRows(2).join('|');
    QTest::newRow("ended by a following line")
        << QByteArrayList{"Discharge end\r\n" + t1 + "Setting mode\r\n"} << 5000 << rows1 << QByteArray();
    QTest::newRow("ended by an empty line") << QByteArrayList{t1 + "\r\n"} << 5000 << rows1 << QByteArray();
    QTest::newRow("ended by quiet time") << QByteArrayList{t1} << 3000 << QByteArray() << rows1;
    QTest::newRow("not yet quiet long enough") << QByteArrayList{t1} << 2999 << QByteArray() << QByteArray();
    QTest::newRow("a second dump ends the first") << QByteArrayList{t1, t1} << 3000 << rows1 << rows1;
    QTest::newRow("two tables in one chunk") << QByteArrayList{t1 + t2} << 3000 << rows1 << rows2;
    QTest::newRow("a byte at a time") << [&] {
        QByteArrayList bytes;
        for (char c : t1 + "x\r\n")
            bytes << QByteArray(1, c);
        return bytes;
    }() << 0 << rows1 << QByteArray();
    QTest::newRow("CR and LF in separate chunks") << [&] {
        QByteArrayList parts = t1.split('\n');
        parts.removeLast();
        QByteArrayList out;
        for (const QByteArray &p : parts)
            out << p << "\n";
        return out;
    }() << 3000 << QByteArray() << rows1;
    QTest::newRow("lone LF and lone CR line ends")
        << QByteArrayList{QByteArray(t1).replace("\r\n", "\n"), QByteArray(t2).replace("\r\n", "\r")} << 3000 << rows1
        << rows2;
    QTest::newRow("zero bytes dropped") << QByteArrayList{QByteArray(t1).replace("1.30V",
        QByteArray("1.3\0"
                   "0V",
            6))} << 3000 << QByteArray() << rows1;
    QTest::newRow("one row is not a table") << QByteArrayList{"Bat-V Bat1 Bat2 Bat3 Bat4\r\n1.40V 0 0 0 0\r\nend\r\n"}
                                            << 5000 << QByteArray() << QByteArray();
    QTest::newRow("header alone, then quiet")
        << QByteArrayList{"Bat-V Bat1 Bat2 Bat3 Bat4\r\n"} << 5000 << QByteArray() << QByteArray();
    QTest::newRow("rows without a header")
        << QByteArrayList{QByteArray(t1).mid(t1.indexOf('\n') + 1) + "end\r\n"} << 5000 << QByteArray() << QByteArray();
    QTest::newRow("progress lines are no table")
        << QByteArrayList{"T=   1m  1.400  1.400  1.400  1.400\r\nT=   2m  1.390  1.390  1.390  1.390\r\n"} << 5000
        << QByteArray() << QByteArray();
    QTest::newRow("a header with a trailing blank is not the header")
        << QByteArrayList{QByteArray(t1).replace("Bat4\r\n", "Bat4 \r\n")} << 5000 << QByteArray() << QByteArray();
}

void TestCapture::detector()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(int, quiet);
    QFETCH(QByteArray, atOnce);
    QFETCH(QByteArray, afterQuiet);
    library::CaptureDetector d;
    QList<library::CapturedRows> found;
    qint64 now = 1000;
    for (const QByteArray &c : chunks) {
        now += 10;
        found += d.feed(c, now);
    }
    QCOMPARE(Joined(found), atOnce);
    QCOMPARE(Joined(d.expire(now + quiet)), afterQuiet);
    // Handed over once: asking again much later gives nothing more.
    if (quiet >= library::CaptureDetector::DefaultQuietMs)
        QCOMPARE(d.expire(now + 100000).size(), 0);
}

void TestCapture::quietTimeCountsFromTheLastByte()
{
    library::CaptureDetector d(3000);
    QVERIFY(d.feed(TableText(1), 0).isEmpty());
    QCOMPARE(d.deadline(), qint64(3000));
    // The start of another line 2 s later keeps the table open...
    QVERIFY(d.feed("1.", 2000).isEmpty());
    QCOMPARE(d.deadline(), qint64(5000));
    QVERIFY(d.expire(3000).isEmpty());
    // ...and it ends with the rows it has once the line stays quiet.
    QCOMPARE(Joined(d.expire(5000)), TableRows(1).join('|'));
    QCOMPARE(d.deadline(), qint64(-1));
}

void TestCapture::liveCaptureRecordsOnceWithLabels()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    library::LibraryService service(dir.filePath("library.sqlite"));
    library::BayAssignment bays;
    const QStringList scanned{"E-001", "E-002", "", "E-004"};
    for (int b = 0; b < 4; ++b)
        bays.setLabel(b + 1, scanned.at(b));
    const QDateTime when(QDate(2026, 12, 9), QTime(10, 30));
    analysis::CapacityParameters params;
    params.Htime = 1;
    library::LiveCapture capture(
        &service, &bays, [&] { return when; }, [&] { return params; }, [] { return 2; }, nullptr, 100);
    QSignalSpy recorded(&service, &library::LibraryService::runRecorded);

    // Two dumps of the same table, each ended by quiet time: one run.
    capture.feed(TableText(5));
    QTRY_COMPARE(recorded.size(), 1);
    QVERIFY(recorded.at(0).at(0).value<library::RecordResult>().isNew);
    capture.feed(TableText(5));
    QTRY_COMPARE(recorded.size(), 2);
    QVERIFY(!recorded.at(1).at(0).value<library::RecordResult>().isNew);

    // The labels stay for the next run until changed.
    bays.setLabel(3, "E-003");
    capture.feed(TableText(6) + "Setting mode\r\n");
    QTRY_COMPARE(recorded.size(), 3);

    QList<library::RunRow> runs;
    service.readRuns(this, [&](const library::Reply<QList<library::RunRow>> &r) { runs = r.value; });
    QTRY_COMPARE(runs.size(), 2);
    const library::RunRow &older = runs.at(1), &newer = runs.at(0);
    QCOMPARE(older.source, QStringLiteral("受信 %1 ch2").arg(QSysInfo::machineHostName().section('.', 0, 0)));
    QCOMPARE(older.when, when);
    QCOMPARE(older.parameters.Htime, 1);
    QCOMPARE(older.bays[0].label, QStringLiteral("E-001"));
    QCOMPARE(older.bays[1].label, QStringLiteral("E-002"));
    QVERIFY(older.bays[2].present);
    QCOMPARE(older.bays[2].label, QString());
    QCOMPARE(older.bays[3].label, QStringLiteral("E-004"));
    QCOMPARE(newer.bays[0].label, QStringLiteral("E-001"));
    QCOMPARE(newer.bays[2].label, QStringLiteral("E-003"));
}

void TestCapture::serviceOnLibrariesNotWritable_data()
{
    QTest::addColumn<bool>("newer"); // else damaged
    QTest::newRow("damaged") << false;
    QTest::newRow("newer schema") << true;
}

void TestCapture::serviceOnLibrariesNotWritable()
{
    QFETCH(bool, newer);
    QTemporaryDir dir;
    const QString path = dir.filePath("library.sqlite");
    if (newer) {
        {
            library::Library lib(path);
            lib.recordRun({QDateTime::currentDateTime(), "x", TableRows(1), {}, {}});
        }
        const QString name = "raw";
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec("PRAGMA user_version = 99"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    } else {
        WriteFile(path, "garbage, not a database");
    }
    const QByteArray bytes = ReadFile(path);
    {
        library::LibraryService service(path);
        QSignalSpy opened(&service, &library::LibraryService::opened);
        QSignalSpy openFailed(&service, &library::LibraryService::openFailed);
        QSignalSpy failed(&service, &library::LibraryService::failed);
        QSignalSpy recorded(&service, &library::LibraryService::runRecorded);
        QTRY_COMPARE(opened.size() + openFailed.size(), 1);
        QCOMPARE(opened.size(), newer ? 1 : 0);
        if (newer) {
            QCOMPARE(opened.at(0).at(0).toBool(), false);
            QVERIFY(opened.at(0).at(1).toString().contains(QStringLiteral("読み取り専用")));
        } else {
            QVERIFY(openFailed.at(0).at(0).toString().contains(QStringLiteral("壊れています")));
        }
        // Captures neither write nor warn again: the one warning was given.
        library::BayAssignment bays;
        library::LiveCapture capture(&service, &bays, {}, {}, {}, nullptr, 20);
        capture.feed(TableText(2) + "end\r\n");
        capture.feed(TableText(3) + "end\r\n");
        service.waitForIdle();
        QCoreApplication::processEvents();
        QCOMPARE(recorded.size(), 0);
        QCOMPARE(failed.size(), 0);
    }
    QCOMPARE(ReadFile(path), bytes);
}

void TestCapture::serviceImportsAndAnswers()
{
    QTemporaryDir dir;
    QStringList logs;
    for (int i = 0; i < 3; ++i) {
        logs << dir.filePath(QStringLiteral("%1.log").arg(i));
        WriteFile(logs.last(), "CELLS: A B C D\r\n" + TableText(10 + i));
    }
    library::LibraryService service(dir.filePath("library.sqlite"));
    QSignalSpy progress(&service, &library::LibraryService::importProgress);
    QSignalSpy finished(&service, &library::LibraryService::importFinished);
    QSignalSpy changed(&service, &library::LibraryService::changed);
    QSignalSpy failed(&service, &library::LibraryService::failed);
    service.importFiles(logs, {});
    QTRY_COMPARE(finished.size(), 1);
    const auto summary = finished.at(0).at(0).value<library::ImportSummary>();
    QCOMPARE(summary.newRuns, 3);
    QCOMPARE(progress.size(), 4);
    QCOMPARE(progress.last().at(0).toInt(), 3);
    QVERIFY(changed.size() >= 1);

    // An answer goes to its receiver on this thread; none to a receiver deleted meanwhile.
    int cells = -1;
    auto *gone = new QObject;
    bool calledGone = false;
    service.readCells(gone, [&](const library::Reply<library::CellsRead> &) { calledGone = true; });
    delete gone;
    service.readCells(this, [&](const library::Reply<library::CellsRead> &r) {
        QCOMPARE(QThread::currentThread(), thread());
        cells = int(r.value.cells.size());
    });
    QTRY_COMPARE(cells, 4);
    QVERIFY(!calledGone);

    // A refused edit asked without a receiver is a failure text, and the worker goes on.
    service.setBayLabel(9999, 1, "X", nullptr, nullptr);
    QTRY_COMPARE(failed.size(), 1);
    QVERIFY(failed.at(0).at(0).toString().contains("9999"));
    cells = -1;
    service.readRuns(this, [&](const library::Reply<QList<library::RunRow>> &r) { cells = int(r.value.size()); });
    QTRY_COMPARE(cells, 3);
}

void TestCapture::closingStopsAnImportKeepingFilesDone()
{
    QTemporaryDir dir;
    QStringList logs;
    for (int i = 0; i < 400; ++i) {
        logs << dir.filePath(QStringLiteral("%1.log").arg(i));
        WriteFile(logs.last(), TableText(100 + 2 * i) + "x\r\n" + TableText(101 + 2 * i));
    }
    const QString path = dir.filePath("library.sqlite");
    {
        library::LibraryService service(path);
        QSignalSpy progress(&service, &library::LibraryService::importProgress);
        service.importFiles(logs, {});
        QTRY_VERIFY(progress.size() > 3);
    }
    library::Library lib(path);
    const int runs = int(lib.runs().size());
    QVERIFY2(runs > 0 && runs < 800, qPrintable(QString::number(runs)));
    QCOMPARE(runs % 2, 0); // whole files only
}

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
