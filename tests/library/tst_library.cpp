// The library file without a window: files that must not be opened or
// written, figures as the cell list computes them, imports, labels, the
// summaries, backups, CSV and where the file lives.
#include "cells/CellList.h"
#include "core/LogTimes.h"
#include "core/SjisText.h"
#include "library/Backup.h"
#include "library/Library.h"
#include "library/LibraryLocation.h"
#include "library/LibraryModels.h"
#include "tests/library/LibraryTestData.h"
#include "tests/support/FilePermissions.h"
#include "tests/support/TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <thread>

using library::Library;

namespace {

library::RunInput Run(int variant, const QStringList &labels = {}, const QDateTime &when = {})
{
    library::RunInput r;
    r.when = when.isValid() ? when : QDateTime(QDate(2026, 12, 1), QTime(9, 0)).addSecs(variant * 3600);
    r.source = library::ReceivedSource(1);
    r.rows = TableRows(variant);
    for (int b = 0; b < 4 && b < labels.size(); ++b)
        r.labels[b] = labels.at(b);
    return r;
}

// Runs SQL on the file through a connection of its own (not the library's).
QVariant Sql(const QString &path, const QString &sql)
{
    QVariant value;
    const QString name = QStringLiteral("raw");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            for (const QString &s : sql.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                if (!q.exec(s))
                    qWarning() << q.lastError().text();
            }
            if (q.isSelect() && q.next())
                value = q.value(0);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}

const library::CellSummary *Find(const QList<library::CellSummary> &all, const QString &label)
{
    for (const library::CellSummary &s : all)
        if (s.info.label == label)
            return &s;
    return nullptr;
}

QByteArray Sjis(const QString &text)
{
    return sjis::encode(text);
}

} // namespace

class TestLibrary : public QObject
{
    Q_OBJECT
private slots:
    void filesNotOpened_data();
    void filesNotOpened();
    void newerSchemaOpensReadOnly();
    void newFileIsMarked();
    void figuresAsTheCellList_data();
    void figuresAsTheCellList();
    void import_data();
    void import();
    void importSkipsBadFilesAndTables();
    void importCancelKeepsFilesDone();
    void capturedRunImportedAgainAddsNothing();
    void labels();
    void summaries();
    void summariesFollowEveryChange();
    void deleteAndSettings();
    void backup();
    void twoConnectionsWriteAtOnce();
    void csvReadBackByPython();
    void location_data();
    void location();
};

void TestLibrary::filesNotOpened_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // %1 = the file, %2 = its folder
    QTest::newRow("damaged") << "damaged"
                             << "%1 はデータベースではないか、壊れています";
    QTest::newRow("text file") << "text"
                               << "%1 はデータベースではないか、壊れています";
    QTest::newRow("another program's database, its own id") << "foreign-id"
                                                            << "%1 は VOLTRAK のセル台帳ではありません";
    QTest::newRow("another program's database, no id") << "foreign"
                                                       << "%1 は VOLTRAK のセル台帳ではありません";
    QTest::newRow("unwritable folder, no file yet") << "folder-new"
                                                    << "フォルダ %2 に書き込めません";
    QTest::newRow("unwritable folder, a library in it") << "folder-old"
                                                        << "フォルダ %2 に書き込めません";
    QTest::newRow("read-only file") << "file-ro"
                                    << "%1 に書き込めません";
    QTest::newRow("a folder by that name") << "dir"
                                           << "%1 はフォルダです";
}

void TestLibrary::filesNotOpened()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath("lib");
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + "/library.sqlite";
    if (kind == "damaged") {
        // A library whose first page was overwritten.
        {
            Library lib(path);
            QVERIFY(lib.isWritable());
            lib.recordRun(Run(1));
        }
        QByteArray bytes = ReadFile(path);
        bytes.replace(0, 16, QByteArray(16, '\x5a'));
        WriteFile(path, bytes);
    } else if (kind == "text") {
        WriteFile(path, "Bat-V Bat1 Bat2 Bat3 Bat4\r\n1.40V 0 0 0 0\r\n");
    } else if (kind == "foreign-id" || kind == "foreign") {
        Sql(path,
            QStringLiteral("CREATE TABLE t(x);INSERT INTO t VALUES (1)")
                + (kind == "foreign-id" ? QStringLiteral(";PRAGMA application_id = 42") : QString()));
    } else if (kind == "folder-old" || kind == "file-ro") {
        {
            Library lib(path);
            QVERIFY(lib.isWritable());
            lib.recordRun(Run(1));
        }
        QVERIFY(!QFile::exists(path + "-wal"));
        ::chmod(QFile::encodeName(kind == "folder-old" ? folder : path).constData(), 0555);
    } else if (kind == "folder-new") {
        ::chmod(QFile::encodeName(folder).constData(), 0555);
    } else if (kind == "dir") {
        QVERIFY(QDir().mkpath(path));
    }
    const QStringList before = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    const QByteArray bytes = QFileInfo(path).isFile() ? ReadFile(path) : QByteArray();
    {
        WithoutPermissionOverride asUser;
        Library lib(path, 200);
        QCOMPARE(int(lib.state()), int(Library::State::Failed));
        QCOMPARE(lib.reason(), QString(reason).replace("%1", path).replace("%2", folder));
        QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.recordRun(Run(2)));
        QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.cellSummaries());
        const library::ImportSummary s = lib.importFiles({path}, {});
        QCOMPARE(s.failures.size(), 1);
    }
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    ::chmod(QFile::encodeName(path).constData(), 0644);
    // Not a byte changed, and nothing was put beside it.
    if (QFileInfo(path).isFile())
        QCOMPARE(ReadFile(path), bytes);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
    QCOMPARE(library::CannotOpenTitle(), QStringLiteral("セル台帳を開けません"));
}

void TestLibrary::newerSchemaOpensReadOnly()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("library.sqlite");
    {
        Library lib(path);
        lib.recordRun(Run(1, {"E-1"}));
    }
    Sql(path, QStringLiteral("PRAGMA user_version = %1").arg(library::SchemaVersion + 1));
    const QByteArray bytes = ReadFile(path);
    {
        Library lib(path);
        QCOMPARE(int(lib.state()), int(Library::State::ReadOnly));
        QCOMPARE(lib.reason(),
            QStringLiteral("%1 はこの版より新しい VOLTRAK のセル台帳です（版 %2）。読み取り専用で開きます")
                .arg(path)
                .arg(library::SchemaVersion + 1));
        // What it holds can be read, nothing can be written.
        QCOMPARE(lib.cellSummaries().size(), 1);
        QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.recordRun(Run(2)));
        QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.setSetting("k", "v"));
        const library::ImportSummary s = lib.importFiles({path}, {});
        QCOMPARE(s.newRuns, 0);
    }
    QCOMPARE(ReadFile(path), bytes);
}

void TestLibrary::newFileIsMarked()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("sub/folder/library.sqlite");
    {
        Library lib(path);
        QVERIFY2(lib.isWritable(), qPrintable(lib.reason()));
        QCOMPARE(lib.reason(), QString());
    }
    QCOMPARE(Sql(path, "PRAGMA application_id").toLongLong(), qint64(library::ApplicationId));
    QCOMPARE(Sql(path, "PRAGMA user_version").toInt(), library::SchemaVersion);
    QCOMPARE(Sql(path, "PRAGMA journal_mode").toString(), QStringLiteral("wal"));
    // An empty file (made by the user to name the place) becomes a library as well.
    const QString empty = dir.filePath("empty.sqlite");
    WriteFile(empty, QByteArray());
    QVERIFY(Library(empty).isWritable());
    QCOMPARE(Sql(empty, "PRAGMA application_id").toLongLong(), qint64(library::ApplicationId));
}

void TestLibrary::figuresAsTheCellList_data()
{
    QTest::addColumn<int>("htime");
    QTest::addColumn<int>("hteiko");
    QTest::addColumn<int>("hvds");
    QTest::addColumn<int>("cells");
    QTest::newRow("minutes, defaults") << 0 << 100 << 5 << 4;
    QTest::newRow("ten seconds") << 1 << 100 << 5 << 4;
    QTest::newRow("seconds, other resistor") << 2 << 220 << 12 << 4;
    QTest::newRow("two cells only") << 0 << 100 << 5 << 2;
}

void TestLibrary::figuresAsTheCellList()
{
    QFETCH(int, htime);
    QFETCH(int, hteiko);
    QFETCH(int, hvds);
    QFETCH(int, cells);
    QTemporaryDir dir;
    Library lib(dir.filePath("library.sqlite"));
    library::RunInput run = Run(3);
    run.rows = TableRows(3, cells);
    const auto expect = [&](const analysis::CapacityParameters &p, const library::RunRow &r) {
        analysis::TDischargeTable t;
        t.rows = run.rows;
        t.rowCount = qint32(run.rows.size());
        const cells::TableFigures f = cells::FiguresOf(analysis::ConvertTable(t), p);
        for (int b = 0; b < 4; ++b) {
            QCOMPARE(r.bays[b].present, b < cells);
            if (b >= cells)
                continue;
            QCOMPARE(r.bays[b].capacity, f.capacity[b]);
            QCOMPARE(r.bays[b].hasMeanVoltage, f.hasMeanVoltage[b]);
            QCOMPARE(r.bays[b].meanVoltage, f.meanVoltage[b]);
            QCOMPARE(r.bays[b].lastTime, f.lastTime[b]);
        }
        QCOMPARE(r.parameters.Htime, p.Htime);
        QCOMPARE(r.parameters.Hteiko, p.Hteiko);
        QCOMPARE(r.parameters.Hvds, p.Hvds);
    };
    const library::RecordResult rec = lib.recordRun(run);
    QVERIFY(rec.isNew);
    expect(run.parameters, lib.runs().at(0));
    // A run's settings changed later: its figures are those of the new settings.
    analysis::CapacityParameters p;
    p.Htime = htime;
    p.Hteiko = hteiko;
    p.Hvds = hvds;
    lib.setRunParameters({rec.runId}, p);
    expect(p, lib.runs().at(0));
    QCOMPARE(lib.runTable(rec.runId).rows, run.rows);
}

void TestLibrary::import_data()
{
    // Files as name=content; each file's runs, as "stamp|source|labels" (labels "a,b,,d").
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QByteArrayList>("contents");
    QTest::addColumn<QList<int>>("counts"); // files, tables, new, known
    QTest::addColumn<QStringList>("runs"); // oldest first

    const QByteArray t1 = TableText(1), t2 = TableText(2), t3 = TableText(3);
    QTest::newRow("several dumps in one file, one of them twice")
        << QStringList{"a.log"}
        << QByteArrayList{"2026/11/02 08:00 start\r\n" + t1 + "Setting mode\r\n" + t1 + "2026/11/02 09:15\r\n" + t2
               + "\r\n" + t3}
        << QList<int>{1, 4, 3, 1}
        << QStringList{"2026/11/02 08:00|a.log|,,,", "2026/11/02 09:15|a.log|,,,", "2026/11/02 09:15|a.log|,,,"};
    QTest::newRow("a journal as received")
        << QStringList{"20261103-101500.log"}
        << QByteArrayList{QByteArray("\r\nDischarge start\r\nT=   0m  1.450  1.450  1.450  1.450\r\n")
               + "Discharge end\r\n"
               + QByteArray(t1).replace("1.20V",
                   QByteArray("1.2\0"
                              "0V",
                       6))
               + "\r\nSetting mode\r\nVstop:"}
        << QList<int>{1, 1, 1, 0} << QStringList{"2026/11/03 10:15|20261103-101500.log|,,,"};
    QTest::newRow("cell lines name the next table's bays")
        << QStringList{"b.log"}
        << QByteArrayList{Sjis(QStringLiteral("2026/11/04 10:00\r\nセル: E-001 E-002 - E-004\r\n")) + t1
               + "CELLS: X1  X2\tX3 X4\r\n" + t2 + t3 + Sjis(QStringLiteral("セル：　全角１ - - -\r\n")) + TableText(4)}
        << QList<int>{1, 4, 4, 0}
        << QStringList{"2026/11/04 10:00|b.log|E-001,E-002,,E-004", "2026/11/04 10:00|b.log|X1,X2,X3,X4",
               "2026/11/04 10:00|b.log|,,,", QStringLiteral("2026/11/04 10:00|b.log|全角１,,,")};
    QTest::newRow("two files, the second repeating the first")
        << QStringList{"c.log", "d.txt"} << QByteArrayList{"2026/11/05 07:00\r\n" + t1, t2 + "x\r\n" + t1}
        << QList<int>{2, 3, 2, 1} << QStringList{"FILE|d.txt|,,,", "2026/11/05 07:00|c.log|,,,"};
    QTest::newRow("a file without a table")
        << QStringList{"e.log"} << QByteArrayList{"hello\r\n"} << QList<int>{1, 0, 0, 0} << QStringList{};
    // A 再開 line dates what follows it as a stamp does, whichever is nearer; a journal is dated by the start
    // it is named after unless a line of its own is nearer; only a name the journal writes is a journal's.
    const QByteArray restart = Sjis(logtimes::RestartLine(QDateTime(QDate(2026, 11, 3), QTime(7, 30, 59)))) + "\r\n";
    QTest::newRow("a 再開 line above the second table")
        << QStringList{"r.log"} << QByteArrayList{"2026/11/02 08:00\r\n" + t1 + "notes\r\n" + restart + t2}
        << QList<int>{1, 2, 2, 0} << QStringList{"2026/11/02 08:00|r.log|,,,", "2026/11/03 07:30|r.log|,,,"};
    QTest::newRow("a stamp nearer than a 再開 line")
        << QStringList{"s.log"} << QByteArrayList{restart + "2026/11/04 09:00 x\r\n" + t1} << QList<int>{1, 1, 1, 0}
        << QStringList{"2026/11/04 09:00|s.log|,,,"};
    QTest::newRow("journals by their start, unless a stamp is nearer")
        << QStringList{"20261103-101500-2.log", "20261103-101500 copy.log"}
        << QByteArrayList{t1 + "x\r\n2026/11/04 09:00\r\n" + t2, t3} << QList<int>{2, 3, 3, 0}
        << QStringList{"FILE|20261103-101500 copy.log|,,,", "2026/11/03 10:15|20261103-101500-2.log|,,,",
               "2026/11/04 09:00|20261103-101500-2.log|,,,"};
}

void TestLibrary::import()
{
    QFETCH(QStringList, names);
    QFETCH(QByteArrayList, contents);
    QFETCH(QList<int>, counts);
    QFETCH(QStringList, runs);
    QTemporaryDir dir;
    QStringList paths;
    const QDateTime fileTime(QDate(2026, 10, 1), QTime(12, 34));
    for (int i = 0; i < names.size(); ++i) {
        paths << dir.filePath(names.at(i));
        WriteFile(paths.last(), contents.at(i));
        QFile f(paths.last());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(fileTime, QFileDevice::FileModificationTime));
    }
    Library lib(dir.filePath("library.sqlite"));
    QList<int> progress;
    const library::ImportSummary s
        = lib.importFiles(paths, {}, [&](int done, int total, const QString &) { progress << done << total; });
    QCOMPARE((QList<int>{s.files, s.tables, s.newRuns, s.knownRuns}), counts);
    QVERIFY(s.failures.isEmpty());
    QCOMPARE(progress.size(), 2 * (names.size() + 1));
    QCOMPARE(progress.mid(progress.size() - 2), (QList<int>{int(names.size()), int(names.size())}));
    QStringList got;
    QList<library::RunRow> stored = lib.runs();
    std::reverse(stored.begin(), stored.end());
    for (const library::RunRow &r : stored) {
        QStringList labels;
        for (const library::BayFigures &b : r.bays)
            labels << b.label;
        got << library::DateText(r.when).replace(library::DateText(fileTime), "FILE") + '|' + r.source + '|'
                + labels.join(',');
    }
    QCOMPARE(got, runs);
    // Importing the same files again records nothing new.
    const library::ImportSummary again = lib.importFiles(paths, {});
    QCOMPARE(again.newRuns, 0);
    QCOMPARE(again.knownRuns, counts.at(1));
    QCOMPARE(lib.runs().size(), stored.size());
}

void TestLibrary::importSkipsBadFilesAndTables()
{
    QTemporaryDir dir;
    const QString good = dir.filePath("good.log"), bad = dir.filePath("bad.log"), locked = dir.filePath("locked.log");
    WriteFile(
        good, TableText(1) + "x\r\n" + QByteArray(TableText(2)).replace("1.20V", "X.20V") + "y\r\n" + TableText(3));
    WriteFile(locked, TableText(4));
    ::chmod(QFile::encodeName(locked).constData(), 0);
    Library lib(dir.filePath("library.sqlite"));
    library::ImportSummary s;
    {
        WithoutPermissionOverride asUser;
        s = lib.importFiles({bad, good, locked, dir.path()}, {});
    }
    QCOMPARE(s.files, 1);
    QCOMPARE(s.tables, 3);
    QCOMPARE(s.newRuns, 2);
    QCOMPARE(s.badTables, 1);
    QCOMPARE(s.failures.size(), 3);
    QCOMPARE(s.failures.at(0).path, bad);
    QCOMPARE(s.failures.at(0).reason, QStringLiteral("ファイルがありません"));
    QCOMPARE(s.failures.at(1).reason, QStringLiteral("読み取りが許可されていません"));
    QCOMPARE(s.failures.at(2).reason, QStringLiteral("フォルダです"));
    QCOMPARE(library::SummaryText(s),
        QStringLiteral("ファイル: 1\n表: 3\n新しい記録: 2\n既知の記録: 0\n読めない表: 1\n"
                       "日時: %4: ファイルの時刻 3\n"
                       "読めません: %1: ファイルがありません\n読めません: %2: 読み取りが許可されていません\n"
                       "読めません: %3: フォルダです\n")
            .arg(bad, locked, dir.path(), good));
}

void TestLibrary::importCancelKeepsFilesDone()
{
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < 5; ++i) {
        paths << dir.filePath(QStringLiteral("f%1.log").arg(i));
        WriteFile(paths.last(), TableText(10 + 2 * i) + "x\r\n" + TableText(11 + 2 * i));
    }
    Library lib(dir.filePath("library.sqlite"));
    std::atomic<bool> cancel{false};
    const library::ImportSummary s = lib.importFiles(
        paths, {},
        [&](int done, int, const QString &) {
            if (done == 3)
                cancel = true;
        },
        &cancel);
    // The file being read when cancel came is finished; none after it is begun.
    QVERIFY(s.cancelled);
    QCOMPARE(s.files, 4);
    QCOMPARE(lib.runs().size(), 8);
    QVERIFY(library::SummaryText(s).endsWith(QStringLiteral("中止しました\n")));
}

void TestLibrary::capturedRunImportedAgainAddsNothing()
{
    QTemporaryDir dir;
    Library lib(dir.filePath("library.sqlite"));
    QVERIFY(lib.recordRun(Run(7, {"A", "B", "C", "D"})).isNew);
    // The pane saved as the program saves it: what was received, with a stamp above.
    const QString saved = dir.filePath("saved.log");
    WriteFile(saved, "2026/12/09 10:00\r\nDischarge end\r\n" + TableText(7) + "Setting mode\r\n");
    const library::ImportSummary s = lib.importFiles({saved}, {});
    QCOMPARE(s.newRuns, 0);
    QCOMPARE(s.knownRuns, 1);
    QCOMPARE(lib.runs().size(), 1);
    QCOMPARE(lib.runs().at(0).source, library::ReceivedSource(1)); // the first record stays as it was
}

void TestLibrary::labels()
{
    QTemporaryDir dir;
    Library lib(dir.filePath("library.sqlite"));
    const qint64 r1 = lib.recordRun(Run(1, {" E-1 ", "E-2", "", "E-4"})).runId;
    const qint64 r2 = lib.recordRun(Run(2, {"E-1", "E-2", "", "E-4"})).runId;
    QCOMPARE(lib.labels(), (QStringList{"E-1", "E-2", "E-4"}));
    const qint64 e1 = lib.cellIdOf("E-1");
    QVERIFY(e1 > 0);
    QCOMPARE(lib.cellHistory(e1).size(), 2);

    // Renaming keeps the history.
    library::CellInfo info = lib.cell(e1);
    info.label = "  Eneloop-01 ";
    info.model = "BK-3MCC";
    info.hasNominal = true;
    info.nominalMah = 1900;
    info.memo = "blue, \"new\"";
    lib.updateCell(info);
    QCOMPARE(lib.cellIdOf("E-1"), qint64(0));
    QCOMPARE(lib.cellIdOf("Eneloop-01"), e1);
    QCOMPARE(lib.cellHistory(e1).size(), 2);
    QCOMPARE(lib.runTable(r1).bays[0].label, QStringLiteral("Eneloop-01"));
    QCOMPARE(lib.cell(e1).memo, info.memo);
    // Onto another cell's label, or to nothing: refused, nothing changed.
    info.label = "E-2";
    QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.updateCell(info));
    info.label = "  ";
    QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.updateCell(info));
    QCOMPARE(lib.cell(e1).label, QStringLiteral("Eneloop-01"));
    // A cell whose texts were never set (null strings) is stored with empty ones.
    library::CellInfo bare = lib.cell(lib.cellIdOf("E-4"));
    bare.model = QString();
    bare.memo = QString();
    bare.pack = QString();
    lib.updateCell(bare);
    QCOMPARE(lib.cell(bare.id).model, QString(""));
    QCOMPARE(lib.cell(bare.id).pack, QString(""));

    // Bay 3 was empty; assigned later, the cell gets that run.
    QVERIFY(!lib.runTable(r1).bays[2].cellId);
    lib.setBayLabel(r1, 3, "E-3");
    const qint64 e3 = lib.cellIdOf("E-3");
    QVERIFY(e3 > 0);
    QCOMPARE(lib.cellHistory(e3).size(), 1);
    QCOMPARE(lib.cellHistory(e3).at(0).runId, r1);
    // A log that names the bays fills the one still empty, and changes no other.
    const QString log = dir.filePath("named.log");
    WriteFile(log, "CELLS: Z1 Z2 Z3 Z4\r\n" + TableText(2));
    QCOMPARE(lib.importFiles({log}, {}).knownRuns, 1);
    const library::RunTable t2 = lib.runTable(r2);
    QCOMPARE(t2.bays[0].label, QStringLiteral("Eneloop-01"));
    QCOMPARE(t2.bays[2].label, QStringLiteral("Z3"));
    QCOMPARE(lib.labels(), (QStringList{"E-2", "E-3", "E-4", "Eneloop-01", "Z3"}));
    // Taken away again, and a bay the table does not have.
    lib.setBayLabel(r2, 3, QString());
    QVERIFY(!lib.runTable(r2).bays[2].cellId);
    QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.setBayLabel(r2, 5, "E-9"));
    QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.setBayLabel(r2 + 100, 1, "E-9"));
    QCOMPARE(lib.cellIdOf("E-9"), qint64(0));
}

void TestLibrary::summaries()
{
    QTemporaryDir dir;
    Library lib(dir.filePath("library.sqlite"));
    const QDateTime t0(QDate(2026, 1, 1), QTime(8, 0));
    // Recorded out of time order: first and latest go by the runs' times.
    lib.recordRun(Run(20, {"C"}, t0.addDays(10)));
    lib.recordRun(Run(40, {"C"}, t0.addDays(20)));
    lib.recordRun(Run(0, {"C"}, t0));
    lib.ensureCell("Fresh");
    library::CellInfo c = lib.cell(lib.cellIdOf("C"));
    c.hasNominal = true;
    c.nominalMah = 2000;
    c.state = library::CellState::Retired;
    lib.updateCell(c);

    const QList<library::RunRow> runs = lib.runs();
    QCOMPARE(runs.size(), 3);
    const auto capacityAt = [&](const QDateTime &t) {
        for (const library::RunRow &r : runs)
            if (r.when == t)
                return r.bays[0].capacity;
        return -1.0;
    };
    const double first = capacityAt(t0), middle = capacityAt(t0.addDays(10)), latest = capacityAt(t0.addDays(20));
    QVERIFY(first < middle && middle < latest);

    const QList<library::CellSummary> all = lib.cellSummaries();
    QCOMPARE(all.size(), 2);
    const library::CellSummary *s = Find(all, "C");
    QVERIFY(s);
    QCOMPARE(s->runCount, 3);
    QCOMPARE(s->firstMah, first);
    QCOMPARE(s->latestMah, latest);
    QCOMPARE(s->maxMah, latest);
    QCOMPARE(s->lastMeasured, t0.addDays(20));
    QCOMPARE(s->fadePercent(), 0.0);
    QCOMPARE(s->healthPercent(), latest / 2000 * 100);
    QCOMPARE(library::CellColumnText(*s, library::CellStateColumn), QStringLiteral("引退"));
    QCOMPARE(library::CellColumnText(*s, library::CellLastMeasured), QStringLiteral("2026/01/21 08:00"));

    // A later, weaker run: the fade is how far it is below the largest.
    lib.recordRun(Run(-5, {"C"}, t0.addDays(30)));
    const QList<library::CellSummary> later = lib.cellSummaries();
    s = Find(later, "C");
    const double weak = lib.cellHistory(s->info.id).constLast().capacity;
    QCOMPARE(lib.cellHistory(s->info.id).size(), 4);
    QCOMPARE(s->latestMah, weak);
    QCOMPARE(s->maxMah, latest);
    QCOMPARE(s->fadePercent(), (latest - weak) / latest * 100);
    QCOMPARE(library::CellColumnText(*s, library::CellFade), QString::number((latest - weak) / latest * 100, 'f', 1));

    // A cell without runs and without a nominal: its figures are empty, and sort below any number.
    const QList<library::CellSummary> withFresh = lib.cellSummaries();
    const library::CellSummary *fresh = Find(withFresh, "Fresh");
    QVERIFY(fresh);
    for (int col : {library::CellLatest, library::CellMax, library::CellFirst, library::CellFade, library::CellHealth,
             library::CellMeanVoltage, library::CellLastMeasured, library::CellNominal})
        QCOMPARE(library::CellColumnText(*fresh, col), QString());
    QCOMPARE(library::CellColumnText(*fresh, library::CellRuns), QStringLiteral("0"));
    QVERIFY(library::CellSortKey(*fresh, library::CellLatest).toDouble()
        < library::CellSortKey(*s, library::CellLatest).toDouble());
    // Numbers sort as numbers: 9 runs below 10.
    library::CellSummary nine = *s, ten = *s;
    nine.runCount = 9;
    ten.runCount = 10;
    QVERIFY(
        QVariant::compare(library::CellSortKey(nine, library::CellRuns), library::CellSortKey(ten, library::CellRuns))
        == QPartialOrdering::Less);
}

// The summary of every cell, recomputed from its history, equals the stored one.
static void CompareWithHistory(const Library &lib)
{
    for (const library::CellSummary &s : lib.cellSummaries()) {
        const QList<library::HistoryPoint> h = lib.cellHistory(s.info.id);
        QCOMPARE(s.runCount, int(h.size()));
        if (h.isEmpty()) {
            QVERIFY(!s.lastMeasured.isValid());
            continue;
        }
        double max = 0;
        for (const library::HistoryPoint &p : h)
            max = qMax(max, p.capacity);
        QCOMPARE(s.maxMah, max);
        QCOMPARE(s.firstMah, h.first().capacity);
        QCOMPARE(s.latestMah, h.last().capacity);
        QCOMPARE(s.meanVoltage, h.last().meanVoltage);
        QCOMPARE(s.lastMeasured, h.last().when);
    }
}

void TestLibrary::summariesFollowEveryChange()
{
    QTemporaryDir dir;
    Library lib(dir.filePath("library.sqlite"));
    QList<qint64> ids;
    for (int i = 0; i < 6; ++i)
        ids << lib.recordRun(Run(i * 3, {"P", "Q", i % 2 ? "R" : "", "P2"})).runId;
    CompareWithHistory(lib);
    QCOMPARE(Find(lib.cellSummaries(), "R")->runCount, 3);
    // A bay moved from one cell to another: both change.
    lib.setBayLabel(ids.at(5), 1, "Q2");
    CompareWithHistory(lib);
    QCOMPARE(Find(lib.cellSummaries(), "P")->runCount, 5);
    QCOMPARE(Find(lib.cellSummaries(), "Q2")->runCount, 1);
    // The latest run recomputed with another resistor.
    const double before = Find(lib.cellSummaries(), "Q")->latestMah;
    analysis::CapacityParameters p;
    p.Hteiko = 50;
    lib.setRunParameters({ids.at(5)}, p);
    CompareWithHistory(lib);
    QVERIFY(Find(lib.cellSummaries(), "Q")->latestMah > before * 1.5);
    // Runs deleted, the latest among them.
    lib.deleteRuns({ids.at(5), ids.at(0)});
    CompareWithHistory(lib);
    QCOMPARE(Find(lib.cellSummaries(), "Q2")->runCount, 0);
    QCOMPARE(Find(lib.cellSummaries(), "P")->runCount, 4);
    // Renamed: the figures stay with the cell.
    library::CellInfo c = lib.cell(lib.cellIdOf("P"));
    c.label = "P-renamed";
    lib.updateCell(c);
    CompareWithHistory(lib);
    QCOMPARE(Find(lib.cellSummaries(), "P-renamed")->runCount, 4);
}

void TestLibrary::deleteAndSettings()
{
    QTemporaryDir dir;
    Library lib(dir.filePath("library.sqlite"));
    const qint64 a = lib.recordRun(Run(1, {"K"})).runId;
    const qint64 b = lib.recordRun(Run(2, {"K"})).runId;
    lib.recordRun(Run(3, {"K"}));
    lib.deleteRuns({a, b});
    QCOMPARE(lib.runs().size(), 1);
    QCOMPARE(Find(lib.cellSummaries(), "K")->runCount, 1);
    // The newest runs only, newest first.
    const qint64 d = lib.recordRun(Run(4, {"K"})).runId;
    QCOMPARE(lib.runs(1).size(), 1);
    QCOMPARE(lib.runs(1).at(0).id, d);
    QCOMPARE(lib.runs(0).size(), 0);
    QCOMPARE(lib.runs(5).size(), 2);
    lib.deleteRuns({d});
    QCOMPARE(Sql(lib.path(), "SELECT count(*) FROM run_bays").toInt(), 4);
    // A deleted table captured again is a new run.
    QVERIFY(lib.recordRun(Run(1)).isNew);

    QCOMPARE(lib.setting("grade/limit", "none"), QStringLiteral("none"));
    lib.setSetting("grade/limit", "50");
    lib.setSetting("grade/limit", "60");
    QCOMPARE(lib.setting("grade/limit"), QStringLiteral("60"));
}

void TestLibrary::backup()
{
    QTemporaryDir dir;
    Library lib(dir.filePath("library.sqlite"));
    for (int i = 0; i < 20; ++i)
        lib.recordRun(Run(i, {"B1", "B2"}));
    const QString copy = dir.filePath("copy.sqlite");
    WriteFile(copy, "an older backup");
    library::BackupLibrary(lib.path(), copy);
    QVERIFY(!QFile::exists(copy + ".part"));
    QCOMPARE(Sql(copy, "PRAGMA integrity_check").toString(), QStringLiteral("ok"));
    Library back(copy);
    QVERIFY2(back.isWritable(), qPrintable(back.reason()));
    QCOMPARE(back.runs().size(), 20);
    QCOMPARE(Find(back.cellSummaries(), "B2")->runCount, 20);
    QVERIFY_THROWS_EXCEPTION(library::LibraryError, library::BackupLibrary(lib.path(), lib.path()));
    QVERIFY_THROWS_EXCEPTION(
        library::LibraryError, library::BackupLibrary(lib.path(), dir.filePath("no/such/folder/x.sqlite")));
}

void TestLibrary::twoConnectionsWriteAtOnce()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("library.sqlite");
    {
        Library create(path);
    }
    // Two writers, as two programs would be: every run arrives, none twice.
    const auto writer = [&](int first, int *stored, QString *error) {
        Library lib(path, 100);
        try {
            for (int i = first; i < first + 150; ++i)
                *stored += lib.recordRun(Run(i, {QStringLiteral("W%1").arg(i % 7)})).isNew ? 1 : 0;
        } catch (const library::LibraryError &e) {
            *error = e.text() + lib.reason();
        }
    };
    int a = 0, b = 0;
    QString errorA, errorB;
    std::thread t1([&] { writer(0, &a, &errorA); });
    std::thread t2([&] { writer(100, &b, &errorB); });
    t1.join();
    t2.join();
    QCOMPARE(errorA + errorB, QString());
    QCOMPARE(a + b, 250);
    Library lib(path);
    QCOMPARE(lib.runs().size(), 250);
    QCOMPARE(lib.labels().size(), 7);
}

void TestLibrary::csvReadBackByPython()
{
    if (QStandardPaths::findExecutable("python3").isEmpty())
        QSKIP("python3 is not installed");
    QTemporaryDir dir;
    Library lib(dir.filePath("library.sqlite"));
    const QStringList labels{"A,1", "say \"hi\"", QStringLiteral("電池 ３"), "plain"};
    lib.recordRun(Run(1, labels));
    library::CellInfo plain = lib.cell(lib.cellIdOf("plain"));
    plain.hasNominal = true;
    plain.nominalMah = 500;
    lib.updateCell(plain);
    // The cells as the セル tab shows them, in order of curve distance from "plain".
    library::CellTableModel model;
    model.setRows(lib.cellSummaries());
    model.setGradeLimits(lib.gradeLimits());
    model.setCurveOrder({plain.id}, {{plain.id, 0.0}});
    const QByteArray cells = library::CellsCsv(model.rows(), model.gradeLimits(), &model.curveMinutes());
    const QByteArray runs = library::RunsCsv(lib.runs());
    QVERIFY(cells.endsWith("\r\n"));
    QCOMPARE(cells.count("\r\n"), cells.count('\n'));
    WriteFile(dir.filePath("cells.csv"), cells);
    WriteFile(dir.filePath("runs.csv"), runs);
    const QString script
        = QStringLiteral("import csv,sys,json\n"
                         "out=[]\n"
                         "for n in sys.argv[1:]:\n"
                         "  with open(n, newline='', encoding='utf-8') as f: out.append(list(csv.reader(f)))\n"
                         "print(json.dumps(out))\n");
    QProcess py;
    py.start("python3", {"-c", script, dir.filePath("cells.csv"), dir.filePath("runs.csv")});
    QVERIFY(py.waitForFinished(30000));
    QCOMPARE(py.exitCode(), 0);
    const QJsonArray files = QJsonDocument::fromJson(py.readAllStandardOutput()).array();
    QCOMPARE(files.size(), 2);
    const QJsonArray cellRows = files.at(0).toArray(), runRows = files.at(1).toArray();
    QCOMPARE(cellRows.size(), 5);
    QCOMPARE(cellRows.at(0).toArray().at(0).toString(), QStringLiteral("ラベル"));
    QCOMPARE(cellRows.at(0).toArray().size(), library::CellColumnCount + 2);
    // The model's titles and texts, 判定 and 曲線差(分) after the library's own columns.
    for (int r = 0; r < cellRows.size(); ++r) {
        for (int c = 0; c < library::CellViewColumnCount; ++c)
            QCOMPARE(cellRows.at(r).toArray().at(c).toString(),
                (r == 0 ? model.headerData(c, Qt::Horizontal) : model.index(r - 1, c).data()).toString());
    }
    QCOMPARE(cellRows.at(2).toArray().at(library::CellGradeColumn).toString(), QStringLiteral("良"));
    QStringList readLabels;
    for (int i = 1; i < cellRows.size(); ++i)
        readLabels << cellRows.at(i).toArray().at(0).toString();
    QStringList sorted = labels;
    sorted.sort();
    QCOMPARE(readLabels, sorted);
    // Runs: one record per bay, the bay's label and capacity in it.
    QCOMPARE(runRows.size(), 5);
    const library::RunRow r = lib.runs().at(0);
    for (int b = 0; b < 4; ++b) {
        const QJsonArray rec = runRows.at(b + 1).toArray();
        QCOMPARE(rec.size(), 10);
        QCOMPARE(rec.at(5).toString(), QString::number(b + 1));
        QCOMPARE(rec.at(6).toString(), labels.at(b));
        QCOMPARE(rec.at(7).toString(), QString::number(r.bays[b].capacity, 'f', 1));
    }
}

void TestLibrary::location_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("xdgData");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("stored"); // セル台帳の場所 in the ini file
    QTest::newRow("portable copy") << "/media/stick/voltrak" << true << ""
                                   << ""
                                   << "/x"
                                   << "/media/stick/library.sqlite"
                                   << "";
    QTest::newRow("with --settings") << "/usr/bin/voltrak" << false << "/home/u/two/vt.ini"
                                     << ""
                                     << "/x"
                                     << "/home/u/two/library.sqlite"
                                     << "";
    QTest::newRow("installed, XDG set") << "/usr/bin/voltrak" << true << ""
                                        << ""
                                        << "/home/u/data"
                                        << "/home/u/data/voltrak/library.sqlite"
                                        << "";
    QTest::newRow("installed, XDG unset") << "/opt/vt/voltrak" << false << ""
                                          << ""
                                          << ""
                                          << "/home/u/.local/share/voltrak/library.sqlite"
                                          << "";
    QTest::newRow("installed, XDG relative") << "/usr/bin/voltrak" << false << ""
                                             << ""
                                             << "data"
                                             << "/home/u/.local/share/voltrak/library.sqlite"
                                             << "";
    QTest::newRow("--library wins") << "/media/stick/voltrak" << true << "/a/b.ini"
                                    << "/srv/shared/cells.sqlite"
                                    << "/x"
                                    << "/srv/shared/cells.sqlite"
                                    << "";
    QTest::newRow("kept file") << "/usr/bin/voltrak" << false << ""
                               << ""
                               << ""
                               << "/srv/cells.sqlite"
                               << "/srv/cells.sqlite";
    QTest::newRow("kept server") << "/media/stick/voltrak" << true << ""
                                 << ""
                                 << ""
                                 << "postgresql://bench@db/cells"
                                 << " postgresql://bench@db/cells ";
    QTest::newRow("--library over the kept one") << "/usr/bin/voltrak" << false << ""
                                                 << "service=workshop"
                                                 << ""
                                                 << "service=workshop"
                                                 << "/srv/cells.sqlite";
}

void TestLibrary::location()
{
    QFETCH(QString, program);
    QFETCH(bool, writable);
    QFETCH(QString, settings);
    QFETCH(QString, option);
    QFETCH(QString, xdgData);
    QFETCH(QString, expected);
    QFETCH(QString, stored);
    library::LibraryPlaceInputs in;
    in.storedLocation = stored;
    in.ini.programPath = program;
    in.ini.explicitPath = settings;
    in.ini.home = "/home/u";
    in.ini.folderWritable = [writable](const QString &) { return writable; };
    in.explicitPath = option;
    in.xdgDataHome = xdgData;
    QCOMPARE(library::ChooseLibraryPath(in), expected);
}

QTEST_GUILESS_MAIN(TestLibrary)
#include "tst_library.moc"
