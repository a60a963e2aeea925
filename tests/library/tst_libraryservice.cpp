// The library's service: every operation that writes announces it once, on the
// service's own thread, before its answer; reads and failures announce nothing.
// Every case runs on a library file and on a library on a PostgreSQL server.
#include "LibraryTestData.h"
#include "core/Mailbox.h"
#include "library/Library.h"
#include "library/LibraryService.h"
#include "library/Scanner.h"
#include "tests/support/PgServer.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>

using library::Change;
using library::Changes;

class TestLibraryService : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data();
    void initTestCase();
    void cleanupTestCase();
    void operationsAnnounceWhatTheyWrote_data();
    void operationsAnnounceWhatTheyWrote();
    void announcementFollowsTheLibraryOnAnotherThread();
    void packsAreListed_data();
    void packsAreListed();
    void scannerPrefixIsKept_data();
    void scannerPrefixIsKept();
    // (A function of the text alone: the same on both stores.)
    void scannedLabel_data();
    void scannedLabel();
};

namespace {

PgServer *g_server = nullptr;

// A new, empty library of the store the case runs on; empty when there is no server.
QString NewLibrary(const QTemporaryDir &dir)
{
    QFETCH_GLOBAL(QString, store);
    if (store == "file")
        return dir.filePath("library.sqlite");
    return g_server->isRunning() ? g_server->newDatabase() : QString();
}

} // namespace

// Skips the case, saying why, where the store cannot be had.
#define NEW_LIBRARY(path, dir)                                                                                         \
    const QString path = NewLibrary(dir);                                                                              \
    if (path.isEmpty())                                                                                                \
        QSKIP(qPrintable("no PostgreSQL server for this case: " + g_server->reason()));

void TestLibraryService::initTestCase_data()
{
    QTest::addColumn<QString>("store");
    QTest::newRow("file") << "file";
    QTest::newRow("server") << "server";
}

void TestLibraryService::initTestCase()
{
    g_server = new PgServer;
    if (!g_server->start())
        qWarning("the server cases are skipped: %s", qPrintable(g_server->reason()));
}

void TestLibraryService::cleanupTestCase()
{
    delete g_server;
    g_server = nullptr;
}

namespace {

struct Seeded {
    qint64 firstRun = 0, secondRun = 0;
    qint64 cellA = 0, cellB = 0;
};

// Two runs of cells A-1..A-4, the second with B-1 in bay 1.
Seeded Seed(const QString &path)
{
    library::Library lib(path);
    Seeded s;
    s.firstRun = lib.recordRun(RunOf(1, {"A-1", "A-2", "A-3", "A-4"})).runId;
    s.secondRun = lib.recordRun(RunOf(2, {"B-1", "A-2", "A-3", "A-4"})).runId;
    s.cellA = lib.cellIdOf("A-1");
    s.cellB = lib.cellIdOf("B-1");
    return s;
}

} // namespace

void TestLibraryService::operationsAnnounceWhatTheyWrote_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<int>("announced"); // the Changes, 0 for none

    const int cellsAndRuns = int(Changes(Change::Cells | Change::Runs));
    QTest::newRow("rename a cell") << "editCell" << true << cellsAndRuns;
    QTest::newRow("rename to a label in use") << "editCellClash" << false << 0;
    QTest::newRow("set a bay's label") << "setBayLabel" << true << cellsAndRuns;
    QTest::newRow("delete runs") << "deleteRuns" << true << cellsAndRuns;
    QTest::newRow("recompute runs") << "recomputeRuns" << true << cellsAndRuns;
    QTest::newRow("write grade limits") << "writeGradeLimits" << true << int(Changes(Change::Settings));
    QTest::newRow("refuse grade limits out of order") << "writeGradeLimitsBad" << false << 0;
    QTest::newRow("record a built pack") << "recordBuiltIn" << true << int(Changes(Change::Cells));
    QTest::newRow("undo a built pack") << "undoBuiltIn" << true << int(Changes(Change::Cells));
    QTest::newRow("record a pack with its date and capacity") << "recordPack" << true << int(Changes(Change::Cells));
    QTest::newRow("refuse a pack name in use") << "recordPackClash" << false << 0;
    QTest::newRow("dissolve a pack") << "dissolvePack" << true << int(Changes(Change::Cells));
    QTest::newRow("dissolve a pack that is not there") << "dissolveUnknown" << false << 0;
    QTest::newRow("read the packs") << "readPacks" << true << 0;
    QTest::newRow("record a new capture") << "record" << true << cellsAndRuns;
    QTest::newRow("record a known capture") << "recordKnown" << true << 0;
    QTest::newRow("import a file") << "import" << true << cellsAndRuns;
    QTest::newRow("back up") << "backup" << true << 0;
    QTest::newRow("read the cells") << "readCells" << true << 0;
    QTest::newRow("read the plan's pool") << "readPlanPool" << true << 0;
    QTest::newRow("write the scanner's prefix") << "writeScannerPrefix" << true << int(Changes(Change::Settings));
    QTest::newRow("read the scanner's prefix") << "readScannerPrefix" << true << 0;
    const int cells = int(Changes(Change::Cells));
    QTest::newRow("add a figure") << "addFigure" << true << cells;
    QTest::newRow("add a figure by label") << "addFigureFor" << true << cells;
    QTest::newRow("refuse a figure for a label no cell has") << "addFigureForUnknown" << false << 0;
    QTest::newRow("refuse a figure out of range") << "addFigureBad" << false << 0;
    QTest::newRow("delete a figure") << "deleteFigure" << true << cells;
    QTest::newRow("refuse to delete a figure that is not there") << "deleteFigureMissing" << false << 0;
    QTest::newRow("import figures") << "importFigures" << true << cells;
    QTest::newRow("import figures that are all bad") << "importFiguresBad" << true << 0;
    QTest::newRow("read a cell's figures") << "readFigures" << true << 0;
    QTest::newRow("write the figures' columns") << "writeFigureColumns" << true << int(Changes(Change::Settings));
    QTest::newRow("read the figures' columns") << "readFigureColumns" << true << 0;
}

void TestLibraryService::operationsAnnounceWhatTheyWrote()
{
    QFETCH(QString, operation);
    QFETCH(bool, succeeds);
    QFETCH(int, announced);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    NEW_LIBRARY(path, dir);
    const Seeded seeded = Seed(path);
    QFETCH_GLOBAL(QString, store);
    QCOMPARE(library::Library(path).isServer(), store == "server");

    library::LibraryService service(path);
    QSignalSpy opened(&service, &library::LibraryService::opened);
    QVERIFY(opened.wait());

    // Direct, so the emitting thread is the one seen, and the order against the answer.
    QStringList events;
    QList<QThread *> threads;
    QList<Changes> changes;
    connect(
        &service, &library::LibraryService::changed, this,
        [&](Changes what) {
            threads.append(QThread::currentThread());
            changes.append(what);
            events.append("changed");
        },
        Qt::DirectConnection);
    bool answered = false;
    QString error;
    const auto then = [&](const auto &reply) {
        error = reply.error;
        events.append("answer");
        answered = true;
    };
    QSignalSpy recorded(&service, &library::LibraryService::runRecorded);
    QSignalSpy imported(&service, &library::LibraryService::importFinished);

    std::optional<std::pair<qsizetype, qsizetype>> figuresAfter;
    library::CellInfo info;
    info.id = seeded.cellA;
    info.label = "F-102";
    if (operation == "editCell") {
        service.editCell(info, this, then);
    } else if (operation == "editCellClash") {
        info.label = "B-1";
        service.editCell(info, this, then);
    } else if (operation == "setBayLabel") {
        service.setBayLabel(seeded.firstRun, 1, "C-9", this, then);
    } else if (operation == "deleteRuns") {
        service.deleteRuns({seeded.firstRun}, this, then);
    } else if (operation == "recomputeRuns") {
        analysis::CapacityParameters p;
        p.Htime = 2;
        service.recomputeRuns({seeded.firstRun, seeded.secondRun}, p, this, then);
    } else if (operation == "writeGradeLimits") {
        service.writeGradeLimits({85.0, 65.0}, this, then);
    } else if (operation == "writeGradeLimitsBad") {
        service.writeGradeLimits({50.0, 70.0}, this, then);
    } else if (operation == "recordBuiltIn") {
        service.recordBuiltIn({seeded.cellA, seeded.cellB}, "P-1", this, then);
    } else if (operation == "undoBuiltIn") {
        service.recordBuiltIn({seeded.cellA}, "P-1", this, [](const auto &) {});
        QTRY_COMPARE(changes.size(), 1);
        changes.clear();
        threads.clear();
        events.clear();
        service.undoBuiltIn({seeded.cellA}, this, then);
    } else if (operation == "recordPack") {
        service.recordBuiltIn({seeded.cellA, seeded.cellB}, "P-1", {QDateTime::currentDateTime(), 1900.0}, this, then);
    } else if (operation == "recordPackClash" || operation == "dissolvePack") {
        service.recordBuiltIn({seeded.cellA}, "P-1", this, [](const auto &) {});
        QTRY_COMPARE(changes.size(), 1);
        changes.clear();
        threads.clear();
        events.clear();
        if (operation == "dissolvePack")
            service.dissolvePack(" P-1 ", this, then);
        else
            service.recordBuiltIn({seeded.cellB}, "P-1", {}, this, then);
    } else if (operation == "dissolveUnknown") {
        service.dissolvePack("P-9", this, then);
    } else if (operation == "readPacks") {
        service.readPacks(this, then);
    } else if (operation == "record" || operation == "recordKnown") {
        service.record(RunOf(operation == "record" ? 3 : 1, {"A-1"}));
        QTRY_COMPARE(recorded.size(), 1);
        events.append("answer");
        answered = true;
    } else if (operation == "import") {
        QFile log(dir.filePath("old.log"));
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write(TableText(7));
        log.close();
        service.importFiles({log.fileName()}, {});
        QTRY_COMPARE(imported.size(), 1);
        events.append("answer");
        answered = true;
    } else if (operation == "backup") {
        service.backup(dir.filePath("copy.sqlite"), this, then);
    } else if (operation == "readCells") {
        service.readCells(this, then);
    } else if (operation == "readPlanPool") {
        service.readPlanPool({}, this, then);
    } else if (operation == "writeScannerPrefix") {
        service.writeScannerPrefix("VT:", this, then);
    } else if (operation == "readScannerPrefix") {
        service.readScannerPrefix(this, then);
    } else if (operation.contains("Figure")) {
        // The figures the cells have once the operation is done: A-1's, then B-1's.
        library::Measurement ir;
        ir.cellId = seeded.cellA;
        ir.date = QDate(2026, 12, 9);
        ir.resistanceMilliohm = 18.5;
        qint64 stored = 0;
        {
            library::Library lib(path);
            stored = lib.addFigure(ir);
        }
        const QString csv = dir.filePath("figures.csv");
        QFile file(csv);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(operation == "importFiguresBad"
                ? "ラベル,日付,測定,値\r\nZ-1,2026/12/09,IR,5\r\nB-1,2026/12/09,IR,0\r\n"
                : "ラベル,日付,測定,値\r\nB-1,2026/12/09,自己放電,4.2/4.1/5\r\n");
        file.close();
        if (operation == "addFigure") {
            service.addFigure(ir, this, then);
            figuresAfter = {2, 0};
        } else if (operation == "addFigureFor" || operation == "addFigureForUnknown") {
            ir.cellId = 0;
            service.addFigureFor(operation == "addFigureFor" ? "B-1" : "Z-1", ir, this, then);
            figuresAfter = {1, operation == "addFigureFor" ? 1 : 0};
        } else if (operation == "addFigureBad") {
            ir.resistanceMilliohm = 10001;
            service.addFigure(ir, this, then);
            figuresAfter = {1, 0};
        } else if (operation == "deleteFigure" || operation == "deleteFigureMissing") {
            service.deleteFigure(operation == "deleteFigure" ? stored : stored + 1, this, then);
            figuresAfter = {operation == "deleteFigure" ? 0 : 1, 0};
        } else if (operation == "importFigures" || operation == "importFiguresBad") {
            service.importFigures(csv, {}, this, [&](const library::Reply<library::FigureImportSummary> &r) {
                error = r.error + r.value.failure;
                events.append("answer");
                answered = true;
                QCOMPARE(r.value.stored, operation == "importFigures" ? 1 : 0);
                QCOMPARE(r.value.bad.size(), operation == "importFigures" ? 0 : 2);
            });
            figuresAfter = {1, operation == "importFigures" ? 1 : 0};
        } else if (operation == "readFigures") {
            // stored by value: the answer comes after this block has ended.
            service.readFigures(seeded.cellA, this, [&, stored](const library::Reply<QList<library::Measurement>> &r) {
                then(r);
                QCOMPARE(r.value.size(), 1);
                QCOMPARE(r.value.first().id, stored);
            });
        } else if (operation == "writeFigureColumns") {
            library::FigureColumns c;
            c.label = 3;
            service.writeFigureColumns(c, this, then);
        } else if (operation == "readFigureColumns") {
            service.readFigureColumns(this, [&](const library::Reply<library::FigureColumns> &r) {
                then(r);
                QVERIFY(r.value == library::FigureColumns());
            });
        } else {
            QFAIL("unknown figure operation");
        }
    } else {
        QFAIL("unknown operation");
    }
    QTRY_VERIFY(answered);
    // Anything announced late would arrive after work asked later; wait for that too.
    service.waitForIdle();
    QCoreApplication::processEvents();

    QCOMPARE(error.isEmpty(), succeeds);
    if (figuresAfter) {
        library::Library lib(path);
        QCOMPARE(lib.figures(seeded.cellA).size(), figuresAfter->first);
        QCOMPARE(lib.figures(seeded.cellB).size(), figuresAfter->second);
    }
    if (operation == "writeFigureColumns")
        QCOMPARE(library::Library(path).figureColumns().label, 3);
    if (announced == 0) {
        QVERIFY2(changes.isEmpty(), qPrintable(events.join(' ')));
        return;
    }
    QCOMPARE(changes.size(), 1);
    QCOMPARE(int(changes.first()), announced);
    QCOMPARE(threads.first(), service.thread());
    QCOMPARE(events, QStringList({"changed", "answer"}));
}

void TestLibraryService::announcementFollowsTheLibraryOnAnotherThread()
{
    // A service living on a thread other than the test's still announces on its own.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    NEW_LIBRARY(path, dir);
    const Seeded seeded = Seed(path);

#if defined(__SANITIZE_THREAD__)
    // Every hand-over here but ours is Qt's posted-event queue, which an
    // uninstrumented Qt cannot show as ordered; the case runs without it.
    QSKIP("an object on a second Qt thread lives on Qt's own event queue, which ThreadSanitizer cannot follow");
#endif
    // Made and moved before the thread starts, and work handed to it through a
    // mailbox: hand-overs ThreadSanitizer can follow.
    QThread owner;
    Mailbox onOwner;
    onOwner.moveToThread(&owner);
    auto *service = new library::LibraryService(path);
    service->moveToThread(&owner);
    std::atomic<QThread *> seenOn{nullptr};
    QAtomicInt count = 0;
    connect(
        service, &library::LibraryService::changed, service,
        [&](Changes) {
            seenOn = QThread::currentThread();
            count.fetchAndAddOrdered(1);
        },
        Qt::DirectConnection);
    owner.start();
    library::CellInfo info;
    info.id = seeded.cellB;
    info.label = "B-2";
    onOwner.post([service, info] { service->editCell(info, nullptr, nullptr); });
    QTRY_COMPARE(count.loadAcquire(), 1);
    QCOMPARE(seenOn.load(), &owner);
    std::atomic<bool> deleted{false};
    onOwner.post([service, &deleted] {
        delete service;
        deleted = true;
    });
    QTRY_VERIFY(deleted.load());
    owner.quit();
    owner.wait();
}

// 組電池: each pack by name with its cells, and the date and capacity kept
// when it was recorded; 解除 puts all its cells back in use and the pack goes.
void TestLibraryService::packsAreListed_data()
{
    QTest::addColumn<bool>("withFacts");
    QTest::addColumn<QString>("dissolve"); // a pack taken apart before the packs are read
    QTest::addColumn<QStringList>("listed"); // "name:labels:built:capacity"
    const QString built = "2026/12/05 14:30";
    QTest::newRow("two packs with their facts")
        << true << "" << QStringList{"P-1:A-1 A-2:" + built + ":1850.5", "P-2:A-3 B-1:" + built + ":1850.5"};
    QTest::newRow("recorded without facts") << false << "" << QStringList{"P-1:A-1 A-2::", "P-2:A-3 B-1::"};
    QTest::newRow("one dissolved") << true << "P-1" << QStringList{"P-2:A-3 B-1:" + built + ":1850.5"};
}

void TestLibraryService::packsAreListed()
{
    QFETCH(bool, withFacts);
    QFETCH(QString, dissolve);
    QFETCH(QStringList, listed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("library.sqlite");
    Seed(path);
    library::LibraryService service(path);
    library::PackFacts facts;
    if (withFacts)
        facts = {QDateTime(QDate(2026, 12, 5), QTime(14, 30)), 1850.5};
    QList<qint64> ids;
    {
        library::Library lib(path);
        for (const char *label : {"A-1", "A-2", "A-3", "B-1", "A-4"})
            ids << lib.cellIdOf(label);
    }
    QStringList errors;
    const auto note = [&](const auto &r) { errors << r.error; };
    service.recordBuiltIn({ids[1], ids[0]}, "P-1", facts, this, note);
    service.recordBuiltIn({ids[3], ids[2]}, "P-2", facts, this, note);
    int dissolved = -1;
    if (!dissolve.isEmpty())
        service.dissolvePack(dissolve, this, [&](const library::Reply<int> &r) {
            errors << r.error;
            dissolved = r.value;
        });
    QList<library::PackRow> packs;
    bool read = false;
    service.readPacks(this, [&](const library::Reply<QList<library::PackRow>> &r) {
        errors << r.error;
        packs = r.value;
        read = true;
    });
    QTRY_VERIFY(read);
    for (const QString &e : std::as_const(errors))
        QCOMPARE(e, QString());
    QStringList seen;
    for (const library::PackRow &p : packs) {
        QCOMPARE(p.cellIds.size(), p.labels.size());
        seen << QStringList{p.name, p.labels.join(' '), library::DateText(p.facts.built),
            p.facts.capacityMah ? QString::number(*p.facts.capacityMah, 'f', 1) : QString()}
                    .join(':');
    }
    QCOMPARE(seen, listed);
    library::Library lib(path);
    if (!dissolve.isEmpty()) {
        QCOMPARE(dissolved, 2);
        for (const char *label : {"A-1", "A-2"})
            QCOMPARE(lib.cell(lib.cellIdOf(label)).state, library::CellState::InUse);
        QCOMPARE(lib.setting(library::PackKey(dissolve), "gone"), QStringLiteral("gone"));
    }
    QCOMPARE(lib.cell(lib.cellIdOf("A-4")).state, library::CellState::InUse);
}

void TestLibraryService::scannerPrefixIsKept_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("kept");
    QTest::newRow("a prefix") << "VT:"
                              << "VT:";
    QTest::newRow("blanks around it") << " #\t"
                                      << "#";
    QTest::newRow("none") << ""
                          << "";
}

void TestLibraryService::scannerPrefixIsKept()
{
    QFETCH(QString, written);
    QFETCH(QString, kept);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    NEW_LIBRARY(path, dir);
    {
        library::LibraryService service(path);
        QString error = "unanswered";
        service.writeScannerPrefix("old", this, [](const auto &) {});
        service.writeScannerPrefix(written, this, [&](const auto &r) { error = r.error; });
        QTRY_COMPARE(error, QString());
    }
    // In the library's settings, for the next start and for another bench on the same file.
    QCOMPARE(library::Library(path).setting(QString::fromLatin1(library::ScannerPrefixKey), "unset"), kept);
    library::LibraryService again(path);
    QString read = "unanswered";
    again.readScannerPrefix(this, [&](const library::Reply<QString> &r) { read = r.ok() ? r.value : r.error; });
    QTRY_COMPARE(read, kept);
}

void TestLibraryService::scannedLabel_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("label");
    QTest::newRow("prefix") << "VT:C-001"
                            << "VT:"
                            << "C-001";
    QTest::newRow("prefix and Tab") << "VT:C-001\t"
                                    << "VT:"
                                    << "C-001";
    QTest::newRow("prefix and CR LF") << "VT:C-001\r\n"
                                      << "VT:"
                                      << "C-001";
    QTest::newRow("without the prefix") << "C-001"
                                        << "VT:"
                                        << "C-001";
    QTest::newRow("prefix in the middle stays") << "C-VT:1"
                                                << "VT:"
                                                << "C-VT:1";
    QTest::newRow("no prefix set") << "VT:C-001\n"
                                   << ""
                                   << "VT:C-001";
    QTest::newRow("other case is another prefix") << "vt:C-001"
                                                  << "VT:"
                                                  << "vt:C-001";
    QTest::newRow("the prefix alone") << "VT:"
                                      << "VT:"
                                      << "";
}

void TestLibraryService::scannedLabel()
{
    QFETCH(QString, typed);
    QFETCH(QString, prefix);
    QFETCH(QString, label);
    QCOMPARE(library::ScannedLabel(typed, prefix), label);
}

QTEST_GUILESS_MAIN(TestLibraryService)
#include "tst_libraryservice.moc"
