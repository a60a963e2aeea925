// The figures of other meters: a library of the first schema brought up to
// the figures' one with its data kept, the figures CSV read alone and imported
// into a library (good records stored, bad ones listed and left out), the
// latest figures in the cells' summaries and their grades.
#include "library/Library.h"
#include "library/Pool.h"
#include "tests/library/LibraryTestData.h"
#include "tests/support/TestFiles.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using library::FigureKind;
using library::Library;
using library::Measurement;

namespace {

// Runs statements on the file through a connection of its own; the first
// value of the last one, or an invalid one.
QVariant Raw(const QString &path, const QStringList &statements)
{
    QVariant value;
    const QString name = QStringLiteral("raw");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open())
            qWarning() << db.lastError().text();
        for (const QString &s : statements) {
            QSqlQuery q(db);
            if (!q.exec(s))
                qWarning() << s << q.lastError().text();
            value = q.next() ? q.value(0) : QVariant();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}

Measurement Resistance(const QDate &date, double milliohm, qint64 cell = 0)
{
    Measurement m;
    m.cellId = cell;
    m.date = date;
    m.kind = FigureKind::Resistance;
    m.resistanceMilliohm = milliohm;
    return m;
}

Measurement SelfDischarge(const QDate &date, double charged, double rested, int days, qint64 cell = 0)
{
    Measurement m;
    m.cellId = cell;
    m.date = date;
    m.kind = FigureKind::SelfDischarge;
    m.chargedVolts = charged;
    m.restedVolts = rested;
    m.restDays = days;
    return m;
}

const library::CellSummary *Find(const QList<library::CellSummary> &all, const QString &label)
{
    for (const library::CellSummary &s : all)
        if (s.info.label == label)
            return &s;
    return nullptr;
}

// A library with cells C-1 (measured by the discharger: 1 run, nominal 100 mAh) and C-2 (never measured).
void TwoCells(const QString &path)
{
    Library lib(path);
    library::RunInput run = RunOf(1, {"C-1"});
    lib.recordRun(run);
    library::CellInfo info = lib.cell(lib.cellIdOf("C-1"));
    info.hasNominal = true;
    info.nominalMah = 100.0;
    lib.updateCell(info);
    lib.ensureCell("C-2");
}

} // namespace

class TestFigures : public QObject
{
    Q_OBJECT
private slots:
    void firstSchemaMigratesKeepingItsData();
    void readFile_data();
    void readFile();
    void columnsText_data();
    void columnsText();
    void importStoresGoodRecordsOnly_data();
    void importStoresGoodRecordsOnly();
    void importOfFilesThatCannotBeRead();
    void addAndDelete();
    void latestFiguresInTheSummaries();
    void gradeByFigures_data();
    void gradeByFigures();
    void figureLimitsAreKept();
};

void TestFigures::firstSchemaMigratesKeepingItsData()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("old.sqlite");
    // A file as the first version wrote it: its tables, a cell with its info,
    // a run of that cell and a setting.
    QStringList first = library::schema::MigrationStep(0);
    first << QStringLiteral("INSERT INTO cells(id, label, model, nominal_mah) VALUES (7, 'K-1', 'NCR18650B', 3200)")
          << QStringLiteral("INSERT INTO runs(id, recorded_at, source, rows, row_key, htime, hteiko, hvds) "
                            "VALUES (3, 1765000000, 'a.log', X'00', X'01', 0, 100, 5)")
          << QStringLiteral("INSERT INTO run_bays(run_id, bay, recorded_at, cell_id, capacity, mean_voltage, "
                            "last_time) VALUES (3, 1, 1765000000, 7, 3100.5, 3.61, 120)")
          << QStringLiteral("INSERT INTO settings(key, value) VALUES ('scanner.prefix', 'VT:')")
          << QStringLiteral("PRAGMA application_id = %1").arg(library::ApplicationId)
          << QStringLiteral("PRAGMA user_version = 1");
    Raw(path, first);
    QCOMPARE(Raw(path, {"PRAGMA user_version"}).toInt(), 1);
    QCOMPARE(Raw(path, {"SELECT count(*) FROM sqlite_master WHERE name = 'measurements'"}).toInt(), 0);
    {
        Library lib(path);
        QVERIFY2(lib.isWritable(), qPrintable(lib.reason()));
        const QList<library::CellSummary> cells = lib.cellSummaries();
        QCOMPARE(cells.size(), 1);
        QCOMPARE(cells.first().info.id, qint64(7));
        QCOMPARE(cells.first().info.label, QStringLiteral("K-1"));
        QCOMPARE(cells.first().info.model, QStringLiteral("NCR18650B"));
        QCOMPARE(cells.first().info.nominalMah, 3200.0);
        QCOMPARE(cells.first().runCount, 1);
        QCOMPARE(cells.first().latestMah, 3100.5);
        QVERIFY(!cells.first().hasResistance);
        QCOMPARE(lib.setting("scanner.prefix"), QStringLiteral("VT:"));
        // The new table takes figures at once, its first id from RETURNING.
        const qint64 id = lib.addFigure(Resistance(QDate(2026, 12, 9), 41.5, 7));
        QVERIFY(id > 0);
        QCOMPARE(lib.figures(7).size(), 1);
        QCOMPARE(lib.figures(7).first().id, id);
    }
    QCOMPARE(Raw(path, {"PRAGMA user_version"}).toInt(), 2);
    QCOMPARE(library::SchemaVersion, 2);
    QCOMPARE(Raw(path, {"PRAGMA application_id"}).toLongLong(), qint64(library::ApplicationId));
    // Opened again: nothing left to migrate, nothing lost.
    Library again(path);
    QVERIFY(again.isWritable());
    QCOMPARE(again.figures(7).size(), 1);
    QCOMPARE(again.cellSummaries().first().resistanceMilliohm, 41.5);
    // A cell deleted takes its figures with it (the foreign key's cascade).
    Raw(path, {"PRAGMA foreign_keys = ON", "DELETE FROM cells WHERE id = 7"});
    QCOMPARE(Raw(path, {"SELECT count(*) FROM measurements"}).toInt(), 0);
}

void TestFigures::readFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("columns"); // FigureColumnsText
    // "label|date|kind|values" per record kept, "line:reason" per record left out.
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<QStringList>("refused");

    const QByteArray header = "ラベル,日付,測定,値\r\n";
    QTest::newRow("resistance") << header + "C-1,2026/12/09,内部抵抗,23.5\r\n"
                                << "1,2,3,4,header" << QStringList{"C-1|2026-12-09|0|23.5"} << QStringList{};
    QTest::newRow("self-discharge, slashes and blanks")
        << header + "C-1,2026-12-09,自己放電,4.18/4.12/30\r\nC-2,2026-12-10,SD, 4.2  4.1 7 \r\n"
        << "1,2,3,4,header" << QStringList{"C-1|2026-12-09|1|4.18/4.12/30", "C-2|2026-12-10|1|4.2/4.1/7"}
        << QStringList{};
    QTest::newRow("figure words in other spellings")
        << QByteArray("C-1,2026/12/9,内部抵抗(mΩ),10\nC-2,20261209,IR,11\nC-3,2026.12.09,Resistance,12\n") << "1,2,3,4"
        << QStringList{"C-1|2026-12-09|0|10", "C-2|2026-12-09|0|11", "C-3|2026-12-09|0|12"} << QStringList{};
    QTest::newRow("the ohm sign, full-width digits")
        << QByteArray("C-1,２０２６/１２/０９,内部抵抗(m\xE2\x84\xA6),\xEF\xBC\x92\xEF\xBC\x95\n") << "1,2,3,4"
        << QStringList{"C-1|2026-12-09|0|25"} << QStringList{};
    QTest::newRow("a date with a time keeps the date")
        << header + "C-1,2026/12/09 23:59,内部抵抗,20\r\n"
        << "1,2,3,4,header" << QStringList{"C-1|2026-12-09|0|20"} << QStringList{};
    QTest::newRow("columns in another order, quoted fields")
        << QByteArray("値,測定,x,ラベル,日付\r\n\"1.5\",内部抵抗,,\"C \"\"1\"\"\",2026/12/09\r\n"
                      "\"7,5\",IR,,C-2,2026/12/09\r\n")
        << "4,5,2,1,header" << QStringList{"C \"1\"|2026-12-09|0|1.5"} << QStringList{"3:値が数ではありません"};
    QTest::newRow("a quoted line break moves the lines on")
        << QByteArray("\"C\n1\",2026/12/09,IR,5\r\nC-2,2026/13/01,IR,5\r\n") << "1,2,3,4"
        << QStringList{"C\n1|2026-12-09|0|5"} << QStringList{"3:日付が読めません"};
    QTest::newRow("empty lines are no records")
        << QByteArray("\r\nC-1,2026/12/09,IR,5\r\n\r\n  \r\nC-2,2026/12/09,IR,6") << "1,2,3,4"
        << QStringList{"C-1|2026-12-09|0|5", "C-2|2026-12-09|0|6"} << QStringList{};
    QTest::newRow("bad records") << header
            + "C-1,2026/02/30,IR,5\r\n"
              "C-2,yesterday,IR,5\r\n"
              ",2026/12/09,IR,5\r\n"
              "C-4,2026/12/09,ESR,5\r\n"
              "C-5,2026/12/09,IR,0\r\n"
              "C-6,2026/12/09,IR,10001\r\n"
              "C-7,2026/12/09,IR,-3\r\n"
              "C-8,2026/12/09,IR,12mΩ\r\n"
              "C-9,2026/12/09,自己放電,4.2/4.1/-3\r\n"
              "C-10,2026/12/09,自己放電,4.2/4.1/0\r\n"
              "C-11,2026/12/09,自己放電,4.2/4.1\r\n"
              "C-12,2026/12/09,自己放電,4.2/4.1/2.5\r\n"
              "C-13,2026/12/09,自己放電,0/4.1/3\r\n"
              "C-14,2026/12/09\r\n"
              "C-15,2026/12/09,IR,10000\r\n"
                                 << "1,2,3,4,header" << QStringList{"C-15|2026-12-09|0|10000"}
                                 << QStringList{"2:日付が読めません", "3:日付が読めません", "4:ラベルがありません",
                                        "5:測定の種類がわかりません", "6:内部抵抗は 0 より大きく 10000 mΩ 以下です",
                                        "7:内部抵抗は 0 より大きく 10000 mΩ 以下です",
                                        "8:内部抵抗は 0 より大きく 10000 mΩ 以下です", "9:値が数ではありません",
                                        "10:日数は 1 日以上です", "11:日数は 1 日以上です",
                                        "12:自己放電の値は 充電後電圧/放置後電圧/日数 です", "13:値が数ではありません",
                                        "14:電圧は 0 より大きく 20 V 以下です", "15:列が足りません"};
    QTest::newRow("Shift-JIS as a spreadsheet saves it")
        << QByteArray("\x83\x89\x83\x78\x83\x8B,\x93\xFA\x95\x74,\x91\xAA\x92\xE8,\x92\x6C\r\n"
                      "\x83\x5A\x83\x8B-1,2026/12/09,\x93\xE0\x95\x94\x92\xEF\x8D\x52,30\r\n")
        << "1,2,3,4,header" << QStringList{"セル-1|2026-12-09|0|30"} << QStringList{};
    QTest::newRow("a byte order mark is no part of the header")
        << QByteArray("\xEF\xBB\xBF") + "C-1,2026/12/09,IR,5\r\n"
        << "1,2,3,4" << QStringList{"C-1|2026-12-09|0|5"} << QStringList{};
    QTest::newRow("nothing") << QByteArray() << "1,2,3,4,header" << QStringList{} << QStringList{};
}

void TestFigures::readFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, columns);
    QFETCH(QStringList, kept);
    QFETCH(QStringList, refused);
    const std::optional<library::FigureColumns> c = library::FigureColumnsFromText(columns);
    QVERIFY(c);
    const library::FigureFile file = library::ReadFigureFile(bytes, *c);
    QStringList gotKept, gotRefused;
    for (const library::FigureRecord &r : file.records) {
        const Measurement &m = r.measurement;
        const QString values = m.kind == FigureKind::Resistance
            ? QString::number(m.resistanceMilliohm)
            : QStringLiteral("%1/%2/%3").arg(m.chargedVolts).arg(m.restedVolts).arg(m.restDays);
        gotKept
            << QStringLiteral("%1|%2|%3|%4").arg(r.label, m.date.toString(Qt::ISODate)).arg(int(m.kind)).arg(values);
        QVERIFY(library::MeasurementProblem(m).isEmpty());
    }
    for (const library::BadFigureRecord &b : file.bad)
        gotRefused << QStringLiteral("%1:%2").arg(b.line).arg(b.reason);
    QCOMPARE(gotKept, kept);
    QCOMPARE(gotRefused, refused);
}

void TestFigures::columnsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("back"); // empty: not columns
    QTest::newRow("the default") << "1,2,3,4,header"
                                 << "1,2,3,4,header";
    QTest::newRow("no header, blanks") << " 4, 3 ,2,1"
                                       << "4,3,2,1";
    QTest::newRow("column 0") << "0,2,3,4"
                              << "";
    QTest::newRow("beyond the last") << "1,2,3,65"
                                     << "";
    QTest::newRow("three") << "1,2,3"
                           << "";
    QTest::newRow("another word") << "1,2,3,4,yes"
                                  << "";
    QTest::newRow("not numbers") << "a,b,c,d"
                                 << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestFigures::columnsText()
{
    QFETCH(QString, text);
    QFETCH(QString, back);
    const std::optional<library::FigureColumns> c = library::FigureColumnsFromText(text);
    QCOMPARE(c.has_value(), !back.isEmpty());
    if (c)
        QCOMPARE(library::FigureColumnsText(*c), back);
}

void TestFigures::importStoresGoodRecordsOnly_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QStringList>("refused"); // "line:reason"
    QTest::addColumn<QStringList>("figures"); // C-1's and C-2's afterwards, "label kind value"

    const QByteArray header = "ラベル,日付,測定,値\r\n";
    QTest::newRow("good records are stored") << header
            + "C-1,2026/12/01,内部抵抗,30.5\r\nC-1,2026/12/08,内部抵抗,31\r\nC-2,2026/12/09,自己放電,4.2/4.1/10\r\n"
                                             << 3 << QStringList{} << QStringList{"C-1 0 31", "C-1 0 30.5", "C-2 1 10"};
    QTest::newRow("unknown label") << header + "C-1,2026/12/01,IR,30\r\nZ-9,2026/12/01,IR,30\r\n"
                                   << 1 << QStringList{"3:ラベル Z-9 のセルはありません"} << QStringList{"C-1 0 30"};
    QTest::newRow("bad date") << header + "C-1,2026/12/32,IR,30\r\nC-2,2026/12/01,IR,40\r\n"
                              << 1 << QStringList{"2:日付が読めません"} << QStringList{"C-2 0 40"};
    QTest::newRow("IR 0") << header + "C-1,2026/12/01,IR,0\r\nC-2,2026/12/01,IR,40\r\n"
                          << 1 << QStringList{"2:内部抵抗は 0 より大きく 10000 mΩ 以下です"} << QStringList{"C-2 0 40"};
    QTest::newRow("IR 10001") << header + "C-1,2026/12/01,IR,10001\r\nC-2,2026/12/01,IR,10000\r\n"
                              << 1 << QStringList{"2:内部抵抗は 0 より大きく 10000 mΩ 以下です"}
                              << QStringList{"C-2 0 10000"};
    QTest::newRow("negative days") << header + "C-1,2026/12/01,自己放電,4.2/4.1/-7\r\nC-1,2026/12/01,IR,20\r\n"
                                   << 1 << QStringList{"2:日数は 1 日以上です"} << QStringList{"C-1 0 20"};
    QTest::newRow("label as typed, blanks around it") << header + " C-2 ,2026/12/01,IR,20\r\n"
                                                      << 1 << QStringList{} << QStringList{"C-2 0 20"};
    QTest::newRow("the same record twice is stored once") << header + "C-1,2026/12/01,IR,20\r\nC-1,2026/12/01,IR,20\r\n"
                                                          << 1 << QStringList{} << QStringList{"C-1 0 20"};
}

void TestFigures::importStoresGoodRecordsOnly()
{
    QFETCH(QByteArray, csv);
    QFETCH(int, stored);
    QFETCH(QStringList, refused);
    QFETCH(QStringList, figures);
    QTemporaryDir dir;
    const QString path = dir.filePath("library.sqlite");
    TwoCells(path);
    const QString file = dir.filePath("figures.csv");
    WriteFile(file, csv);
    Library lib(path);
    const library::FigureImportSummary s = lib.importFigures(file, library::FigureColumns());
    QCOMPARE(s.failure, QString());
    QCOMPARE(s.stored, stored);
    QStringList gotRefused;
    for (const library::BadFigureRecord &b : s.bad)
        gotRefused << QStringLiteral("%1:%2").arg(b.line).arg(b.reason);
    QCOMPARE(gotRefused, refused);
    QCOMPARE(s.records, stored + s.known + int(refused.size()));
    QStringList got;
    for (const QString &label : {QStringLiteral("C-1"), QStringLiteral("C-2")}) {
        for (const Measurement &m : lib.figures(lib.cellIdOf(label)))
            got << QStringLiteral("%1 %2 %3")
                       .arg(label)
                       .arg(int(m.kind))
                       .arg(m.kind == FigureKind::Resistance ? m.resistanceMilliohm : double(m.restDays));
    }
    QCOMPARE(got, figures);
    // Every record left out is named in the summary with its line and its text.
    const QString text = library::FigureSummaryText(s);
    for (const library::BadFigureRecord &b : s.bad)
        QVERIFY2(text.contains(QStringLiteral("行 %1: %2: %3").arg(b.line).arg(b.reason, b.text)), qPrintable(text));
    // The same file again stores nothing new.
    const library::FigureImportSummary again = lib.importFigures(file, library::FigureColumns());
    QCOMPARE(again.stored, 0);
    QCOMPARE(again.known, s.stored + s.known);
}

void TestFigures::importOfFilesThatCannotBeRead()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("library.sqlite");
    TwoCells(path);
    Library lib(path);
    const library::FigureImportSummary missing = lib.importFigures(dir.filePath("none.csv"), {});
    QVERIFY2(missing.failure.startsWith(QStringLiteral("ファイル %1 は開けません").arg(dir.filePath("none.csv"))),
        qPrintable(missing.failure));
    QCOMPARE(missing.stored, 0);
    WriteFile(dir.filePath("binary.csv"), QByteArray("C-1,2026/12/01,IR,20\r\n") + QByteArray(64, '\0'));
    const library::FigureImportSummary binary = lib.importFigures(dir.filePath("binary.csv"), {});
    QCOMPARE(binary.failure, QStringLiteral("テキストではありません: %1").arg(dir.filePath("binary.csv")));
    QCOMPARE(lib.figures(lib.cellIdOf("C-1")).size(), 0);
    QVERIFY(library::FigureSummaryText(binary).endsWith(QStringLiteral("読めません: %1\n").arg(binary.failure)));
}

void TestFigures::addAndDelete()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("library.sqlite");
    TwoCells(path);
    Library lib(path);
    const qint64 c1 = lib.cellIdOf("C-1");
    const qint64 a = lib.addFigure(Resistance(QDate(2026, 12, 1), 20.0, c1));
    const qint64 b = lib.addFigureFor(QStringLiteral(" C-1 "), SelfDischarge(QDate(2026, 12, 3), 4.2, 4.17, 10));
    QVERIFY(a > 0 && b > a);
    QList<Measurement> list = lib.figures(c1);
    QCOMPARE(list.size(), 2);
    // Newest first, as they were given.
    QCOMPARE(list.at(0).id, b);
    QCOMPARE(list.at(0).kind, FigureKind::SelfDischarge);
    QCOMPARE(list.at(0).dropMvPerDay(), 3.0);
    QCOMPARE(list.at(1), Resistance(QDate(2026, 12, 1), 20.0, c1));
    // Refused: a cell that is not there, a label no cell has, a figure out of range.
    QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.addFigure(Resistance(QDate(2026, 12, 1), 20.0, 999)));
    try {
        lib.addFigureFor("Z-1", Resistance(QDate(2026, 12, 1), 20.0));
        QFAIL("a label no cell has was taken");
    } catch (const library::LibraryError &e) {
        QCOMPARE(e.text(), QStringLiteral("セル Z-1 はありません"));
    }
    QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.addFigure(Resistance(QDate(2026, 12, 1), 0.0, c1)));
    QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.addFigure(Resistance(QDate(), 5.0, c1)));
    lib.deleteFigure(a);
    QCOMPARE(lib.figures(c1).size(), 1);
    QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.deleteFigure(a));
}

void TestFigures::latestFiguresInTheSummaries()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("library.sqlite");
    TwoCells(path);
    Library lib(path);
    const qint64 c1 = lib.cellIdOf("C-1"), c2 = lib.cellIdOf("C-2");
    // Stored out of date order: the latest is by date, the later stored within one date.
    lib.addFigure(Resistance(QDate(2026, 12, 5), 25.0, c1));
    lib.addFigure(Resistance(QDate(2026, 11, 1), 99.0, c1));
    lib.addFigure(SelfDischarge(QDate(2026, 12, 2), 4.2, 4.0, 20, c1));
    lib.addFigure(Resistance(QDate(2026, 12, 9), 40.0, c2));
    lib.addFigure(Resistance(QDate(2026, 12, 9), 45.25, c2));
    const QList<library::CellSummary> cells = lib.cellSummaries();
    const library::CellSummary *one = Find(cells, "C-1"), *two = Find(cells, "C-2");
    QVERIFY(one && two);
    QVERIFY(one->hasResistance && one->hasSelfDischarge);
    QCOMPARE(one->resistanceMilliohm, 25.0);
    QCOMPARE(one->selfDischargeMvPerDay, 10.0);
    QVERIFY(two->hasResistance && !two->hasSelfDischarge);
    QCOMPARE(two->resistanceMilliohm, 45.25);
    // The tab's and the CSV's columns.
    QCOMPARE(library::CellColumnTitle(library::CellResistance), QStringLiteral("内部抵抗(mΩ)"));
    QCOMPARE(library::CellColumnTitle(library::CellSelfDischarge), QStringLiteral("自己放電(mV/日)"));
    QCOMPARE(library::CellColumnText(*one, library::CellResistance), QStringLiteral("25.0"));
    QCOMPARE(library::CellColumnText(*one, library::CellSelfDischarge), QStringLiteral("10.0"));
    QCOMPARE(library::CellColumnText(*two, library::CellResistance), QStringLiteral("45.3"));
    QCOMPARE(library::CellColumnText(*two, library::CellSelfDischarge), QString());
    // Missing figures sort below every value.
    QVERIFY(library::CellSortKey(*two, library::CellSelfDischarge).toDouble()
        < library::CellSortKey(*one, library::CellSelfDischarge).toDouble());
    const QStringList csv = QString::fromUtf8(library::CellsCsv(cells, lib.gradeLimits())).split("\r\n");
    const QStringList header = csv.first().split(',');
    const qsizetype ir = header.indexOf("内部抵抗(mΩ)"), sd = header.indexOf("自己放電(mV/日)");
    QVERIFY(ir >= 0 && sd >= 0);
    QCOMPARE(csv.at(1).split(',').at(ir), QStringLiteral("25.0"));
    QCOMPARE(csv.at(1).split(',').at(sd), QStringLiteral("10.0"));
    QCOMPARE(csv.at(2).split(',').at(ir), QStringLiteral("45.3"));
}

void TestFigures::gradeByFigures_data()
{
    QTest::addColumn<double>("health"); // -1: none
    QTest::addColumn<double>("resistance"); // -1: not measured
    QTest::addColumn<double>("selfDischarge"); // -1: not measured
    QTest::addColumn<QString>("grade");
    // Limits: 良 up to 30 mΩ and 2 mV/日, 可 up to 50 mΩ and 5 mV/日.
    QTest::newRow("good within both") << 95.0 << 30.0 << 2.0 << "良";
    QTest::newRow("good, resistance above 良's") << 95.0 << 30.1 << 1.0 << "可";
    QTest::newRow("good, self-discharge above 良's") << 95.0 << 10.0 << 2.5 << "可";
    QTest::newRow("good, resistance above 可's") << 95.0 << 50.5 << 1.0 << "不良";
    QTest::newRow("fair stays fair below 可's") << 85.0 << 40.0 << 4.0 << "可";
    QTest::newRow("fair, self-discharge above 可's") << 85.0 << 10.0 << 6.0 << "不良";
    QTest::newRow("figures not measured") << 95.0 << -1.0 << -1.0 << "良";
    QTest::newRow("poor stays poor") << 50.0 << 10.0 << 1.0 << "不良";
    QTest::newRow("no health: no grade") << -1.0 << 99.0 << 9.0 << "―";
}

void TestFigures::gradeByFigures()
{
    QFETCH(double, health);
    QFETCH(double, resistance);
    QFETCH(double, selfDischarge);
    QFETCH(QString, grade);
    library::GradeLimits limits{90.0, 80.0, 30.0, 50.0, 2.0, 5.0};
    QVERIFY(library::LimitsAreValid(limits));
    library::CellSummary cell;
    if (health >= 0) {
        cell.runCount = 1;
        cell.info.hasNominal = true;
        cell.info.nominalMah = 1000.0;
        cell.latestMah = health * 10.0;
    }
    cell.hasResistance = resistance >= 0;
    cell.resistanceMilliohm = resistance;
    cell.hasSelfDischarge = selfDischarge >= 0;
    cell.selfDischargeMvPerDay = selfDischarge;
    QCOMPARE(library::GradeText(library::GradeOfCell(cell, limits)), grade);
    // Without figure limits the figures change nothing.
    if (health >= 0)
        QCOMPARE(library::GradeOfCell(cell, library::GradeLimits{90.0, 80.0}),
            library::GradeOf(health, library::GradeLimits{90.0, 80.0}));
}

void TestFigures::figureLimitsAreKept()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("library.sqlite");
    {
        Library lib(path);
        QVERIFY(!lib.gradeLimits().goodResistance && !lib.gradeLimits().fairSelfDischarge);
        lib.setGradeLimits({92.0, 70.0, 25.0, std::nullopt, std::nullopt, 4.5});
        // 良's resistance above 可's, a limit of 0: refused, the stored ones stay.
        QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.setGradeLimits({90.0, 80.0, 60.0, 50.0}));
        QVERIFY_THROWS_EXCEPTION(
            library::LibraryError, lib.setGradeLimits({90.0, 80.0, std::nullopt, std::nullopt, 0.0}));
    }
    Library lib(path);
    const library::GradeLimits l = lib.gradeLimits();
    QCOMPARE(l.good, 92.0);
    QCOMPARE(l.fair, 70.0);
    QCOMPARE(l.goodResistance, std::optional<double>(25.0));
    QCOMPARE(l.fairResistance, std::optional<double>());
    QCOMPARE(l.goodSelfDischarge, std::optional<double>());
    QCOMPARE(l.fairSelfDischarge, std::optional<double>(4.5));
    // Cleared again: no limit.
    lib.setGradeLimits({92.0, 70.0});
    QVERIFY(!lib.gradeLimits().goodResistance && !lib.gradeLimits().fairSelfDischarge);
}

QTEST_GUILESS_MAIN(TestFigures)
#include "tst_figures.moc"
