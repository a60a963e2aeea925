// The program itself on the cell library, without a display: imports of many
// files, one killed in the middle, two at once into one library, and the CSV
// it prints read back by Python.
#include "tests/library/LibraryTestData.h"
#include "tests/support/PgServer.h"
#include "tests/support/TestFiles.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

struct Result {
    int status = -1;
    QByteArray out, err;
};

QProcessEnvironment NoDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(v));
    return env;
}

Result Voltrak(const QStringList &args, const QByteArray &input = QByteArray())
{
    QProcess p;
    p.setProcessEnvironment(NoDisplay());
    p.start(QStringLiteral(VOLTRAK_EXE), args);
    p.write(input);
    p.closeWriteChannel();
    Result r;
    if (!p.waitForFinished(120000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// count files, each with `tables` different tables, named f<first>.log on.
QStringList MakeLogs(const QString &folder, int first, int count, int tables)
{
    QStringList paths;
    for (int i = first; i < first + count; ++i) {
        QByteArray text = "2026/12/01 10:00\r\n";
        for (int t = 0; t < tables; ++t)
            text += TableText(i * tables + t) + "Discharge end\r\n";
        paths << folder + QStringLiteral("/f%1.log").arg(i);
        QFile f(paths.last());
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            return {};
    }
    return paths;
}

// One query on the file through a connection of the test's own.
class Reader
{
public:
    explicit Reader(const QString &path)
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
        m_db.setDatabaseName(path);
        m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        m_db.open();
    }
    ~Reader()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    }
    QList<QVariantList> rows(const QString &sql)
    {
        QList<QVariantList> out;
        QSqlQuery q(m_db);
        if (!q.exec(sql))
            return out;
        while (q.next()) {
            QVariantList row;
            for (int c = 0; c < q.record().count(); ++c)
                row << q.value(c);
            out << row;
        }
        return out;
    }
    QVariant value(const QString &sql)
    {
        const QList<QVariantList> r = rows(sql);
        return r.isEmpty() ? QVariant() : r.first().value(0);
    }

private:
    QSqlDatabase m_db;
};

} // namespace

class TestLibraryProgram : public QObject
{
    Q_OBJECT
private slots:
    void importManyFiles();
    void killedInTheMiddleOfAnImport();
    void initTestCase();
    void twoProcessesWriteOneLibrary_data();
    void twoProcessesWriteOneLibrary();
    void libraryCopyBothWays();
    void exportsReadBackByPython_data();
    void exportsReadBackByPython();
    void unopenableLibrary();
    void readingCommandsMakeNothing_data();
    void readingCommandsMakeNothing();
    void importNamesFilesThatGiveNothing();
    void importFigures();

private:
    // A new library of the store: a file in dir, or a database on the test's server (empty when none).
    QString libraryOf(const QString &store, const QTemporaryDir &dir, const QString &name);
    PgServer m_server;
    bool m_serverUp = false;
};

void TestLibraryProgram::importManyFiles()
{
    QTemporaryDir dir;
    const QStringList logs = MakeLogs(dir.path(), 0, 40, 3);
    QCOMPARE(logs.size(), 40);
    const QString lib = dir.filePath("lib.sqlite");
    Result r = Voltrak(QStringList{"--settings", dir.filePath("v.ini"), "--library", lib, "--import"} + logs);
    QCOMPARE(r.status, 0);
    QCOMPARE(QString::fromUtf8(r.out), QStringLiteral("ファイル: 40\n表: 120\n新しい記録: 120\n既知の記録: 0\n"));
    // Again, with a file that is not there: the others are known, the status says one was not read.
    const QString missing = dir.filePath("gone.log");
    r = Voltrak(QStringList{"--library=" + lib, "--import", logs.at(3), missing, logs.at(5)});
    QCOMPARE(r.status, 1);
    QCOMPARE(QString::fromUtf8(r.out),
        QStringLiteral("ファイル: 2\n表: 6\n新しい記録: 0\n既知の記録: 6\n読めません: %1: ファイルがありません\n")
            .arg(missing));
    Reader reader(lib);
    QCOMPARE(reader.value("SELECT count(*) FROM runs").toInt(), 120);
}

void TestLibraryProgram::killedInTheMiddleOfAnImport()
{
    QTemporaryDir dir;
    const QStringList logs = MakeLogs(dir.path(), 0, 500, 3);
    QCOMPARE(logs.size(), 500);
    const QString lib = dir.filePath("lib.sqlite");
    QProcess p;
    p.setProcessEnvironment(NoDisplay());
    p.start(QStringLiteral(VOLTRAK_EXE), QStringList{"--library", lib, "--import"} + logs);
    QVERIFY(p.waitForStarted());
    int seen = 0;
    {
        // Killed once a few dozen files are in, far from the end.
        Reader reader(lib);
        QElapsedTimer t;
        t.start();
        while (p.state() == QProcess::Running && seen < 60 && t.elapsed() < 60000) {
            if (QFile::exists(lib))
                seen = reader.value("SELECT count(*) FROM runs").toInt();
            QTest::qWait(2);
        }
    }
    QVERIFY2(p.state() == QProcess::Running, "the import ended before it could be killed");
    ::kill(pid_t(p.processId()), SIGKILL);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::CrashExit);

    int whole = 0;
    {
        Reader reader(lib);
        QCOMPARE(reader.value("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
        QCOMPARE(reader.value("PRAGMA foreign_key_check").isNull(), true);
        // Each file is in with all its tables or not at all.
        const QList<QVariantList> perFile = reader.rows("SELECT source, count(*) FROM runs GROUP BY source");
        for (const QVariantList &row : perFile) {
            QVERIFY2(row.at(1).toInt() == 3, qPrintable(row.at(0).toString()));
            ++whole;
        }
        QCOMPARE(reader.value("SELECT count(*) FROM run_bays").toInt(), whole * 3 * 4);
    }
    QVERIFY2(whole >= 20 && whole < 500, qPrintable(QString::number(whole)));
    // Started again, it finishes the rest and knows what it did.
    const Result r = Voltrak(QStringList{"--library", lib, "--import"} + logs);
    QCOMPARE(r.status, 0);
    QCOMPARE(QString::fromUtf8(r.out),
        QStringLiteral("ファイル: 500\n表: 1500\n新しい記録: %1\n既知の記録: %2\n")
            .arg(1500 - whole * 3)
            .arg(whole * 3));
}

void TestLibraryProgram::initTestCase()
{
    m_serverUp = m_server.start();
}

QString TestLibraryProgram::libraryOf(const QString &store, const QTemporaryDir &dir, const QString &name)
{
    if (store == "file")
        return dir.filePath(name + ".sqlite");
    return m_serverUp ? m_server.newDatabase() : QString();
}

void TestLibraryProgram::twoProcessesWriteOneLibrary_data()
{
    QTest::addColumn<QString>("store");
    QTest::newRow("file") << "file";
    QTest::newRow("server") << "server";
}

void TestLibraryProgram::twoProcessesWriteOneLibrary()
{
    QFETCH(QString, store);
    QTemporaryDir dir;
    const QString lib = libraryOf(store, dir, "shared");
    if (lib.isEmpty())
        QSKIP(qPrintable("no PostgreSQL server: " + m_server.reason()));
    // Two copies with their own settings, one library; 20 files given to both.
    const QStringList a = MakeLogs(dir.path(), 0, 120, 2), b = MakeLogs(dir.path(), 100, 120, 2);
    QProcess pa, pb;
    for (QProcess *p : {&pa, &pb})
        p->setProcessEnvironment(NoDisplay());
    pa.start(QStringLiteral(VOLTRAK_EXE),
        QStringList{"--settings", dir.filePath("a.ini"), "--library", lib, "--import"} + a);
    pb.start(QStringLiteral(VOLTRAK_EXE),
        QStringList{"--settings", dir.filePath("b.ini"), "--library", lib, "--import"} + b);
    QVERIFY(pa.waitForFinished(120000));
    QVERIFY(pb.waitForFinished(120000));
    QCOMPARE(pa.exitCode(), 0);
    QCOMPARE(pb.exitCode(), 0);
    QCOMPARE(pa.readAllStandardError() + pb.readAllStandardError(), QByteArray());
    // Read back as the user would: one CSV record per run and bay.
    const Result runs = Voltrak({"--settings", dir.filePath("a.ini"), "--library", lib, "--export-runs"});
    QCOMPARE(runs.status, 0);
    QList<QByteArray> records = runs.out.split('\n');
    records.removeFirst();
    records.removeAll(QByteArray());
    QCOMPARE(records.size(), 220 * 2 * 4);
    QSet<QByteArray> sources;
    for (const QByteArray &r : std::as_const(records))
        sources.insert(r.split(',').value(1));
    QCOMPARE(sources.size(), 220);
    if (store == "file") {
        Reader reader(lib);
        QCOMPARE(reader.value("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
    }
}

void TestLibraryProgram::libraryCopyBothWays()
{
    QTemporaryDir dir;
    const QString server = libraryOf("server", dir, "");
    if (server.isEmpty())
        QSKIP(qPrintable("no PostgreSQL server: " + m_server.reason()));
    const QString file = dir.filePath("bench.sqlite"), back = dir.filePath("back/again.sqlite");
    const QString ini = dir.filePath("v.ini");
    // Five logs of three tables, each table with its own two cells and one cell in all of them.
    QStringList logs;
    for (int i = 0; i < 5; ++i) {
        QByteArray text = "2026/12/01 10:00\r\n";
        for (int t = 0; t < 3; ++t)
            text += QStringLiteral("CELLS: A-%1 B-%1 - C-1\r\n").arg(i * 3 + t).toLatin1() + TableText(i * 3 + t)
                + "Discharge end\r\n";
        logs << dir.filePath(QStringLiteral("c%1.log").arg(i));
        QFile f(logs.last());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QCOMPARE(Voltrak(QStringList{"--settings", ini, "--library", file, "--import"} + logs).status, 0);
    const auto exported = [&](const QString &lib, const char *what) {
        return Voltrak({"--settings", ini, "--library", lib, what}).out;
    };
    const Result in = Voltrak({"--settings", ini, "--library-copy", file, server});
    QCOMPARE(in.status, 0);
    QVERIFY2(in.out.contains("セル 31、放電記録 15（ベイ 60）、測定 0"), in.out.constData());
    const Result out = Voltrak({"--settings", ini, "--library-copy", server, back});
    QCOMPARE(out.status, 0);
    QVERIFY2(out.out.contains("放電記録 15（ベイ 60）"), out.out.constData());
    for (const char *what : {"--export-cells", "--export-runs"}) {
        const QByteArray original = exported(file, what);
        QVERIFY(original.count('\n') > 15);
        QCOMPARE(exported(server, what), original);
        QCOMPARE(exported(back, what), original);
    }
    // Into a library that holds something: refused, and it stays as it was.
    const QByteArray before = exported(back, "--export-runs");
    const Result again = Voltrak({"--settings", ini, "--library-copy", file, back});
    QCOMPARE(again.status, 1);
    QVERIFY2(again.err.contains("空ではありません"), again.err.constData());
    QCOMPARE(exported(back, "--export-runs"), before);
    // From nothing: nothing is made.
    const Result none = Voltrak({"--settings", ini, "--library-copy", dir.filePath("missing.sqlite"), server});
    QCOMPARE(none.status, 1);
    QVERIFY(none.err.contains("セル台帳がありません"));
    QVERIFY(!QFile::exists(dir.filePath("missing.sqlite")));
}

void TestLibraryProgram::exportsReadBackByPython_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QStringList>("firstRecord"); // its first fields
    QTest::addColumn<int>("labelColumn");
    QTest::addColumn<QStringList>("labels"); // that column of every record
    QTest::newRow("cells") << "--export-cells"
                           << "ラベル,型番,公称(mAh),回数,最新(mAh),最大(mAh),初回(mAh),劣化(%),健全度(%),平均電圧(V),"
                              "内部抵抗(mΩ),自己放電(mV/日),最終測定,状態,判定"
                           << QStringList{"A, first", "", "", "1"} << 0 << QStringList{"A, first", "B", "Q\"uote", "x"};
    QTest::newRow("runs") << "--export-runs"
                          << "日時,出典,時間軸,放電抵抗(Ω),FET電圧(V),ベイ,ラベル,容量(mAh),平均電圧(V),放電時間"
                          << QStringList{"2026/12/02 11:00", "two.log", "分", "1.00", "0.05", "1", "x"} << 6
                          << QStringList{"x", "", "Q\"uote", "", "A, first", "B", "", ""};
}

void TestLibraryProgram::exportsReadBackByPython()
{
    QFETCH(QString, option);
    QFETCH(QString, header);
    QFETCH(QStringList, firstRecord);
    QFETCH(int, labelColumn);
    QFETCH(QStringList, labels);
    if (QStandardPaths::findExecutable("python3").isEmpty())
        QSKIP("python3 is not installed");
    QTemporaryDir dir;
    const QString lib = dir.filePath("lib.sqlite"), ini = dir.filePath("v.ini");
    WriteFile(dir.filePath("one.log"), "2026/12/01 10:00\r\nCELLS: \"A, B\r\n" + TableText(1));
    WriteFile(
        dir.filePath("two.log"), QByteArray("2026/12/02 11:00\r\nCELLS: x - Q\"uote\r\n") + TableText(2) + "end\r\n");
    QCOMPARE(
        Voltrak({"--settings", ini, "--library", lib, "--import", dir.filePath("one.log"), dir.filePath("two.log")})
            .status,
        0);
    // A label with a comma and a quote needs the CSV form's quoting.
    Reader(lib).rows("UPDATE cells SET label = 'A, first' WHERE label = '\"A,'");
    const Result out = Voltrak({"--settings", ini, "--library", lib, option});
    QCOMPARE(out.status, 0);
    QVERIFY(out.out.endsWith("\r\n"));
    QCOMPARE(out.out.count("\r\n"), out.out.count('\n'));
    QVERIFY(!out.out.startsWith("\xEF\xBB\xBF"));
    QProcess py;
    py.start("python3",
        {"-c",
            "import csv,sys,json,io\n"
            "print(json.dumps(list(csv.reader(io.TextIOWrapper(sys.stdin.buffer, encoding='utf-8', "
            "newline='')))))"});
    QVERIFY(py.waitForStarted());
    py.write(out.out);
    py.closeWriteChannel();
    QVERIFY(py.waitForFinished(30000));
    QCOMPARE(py.exitCode(), 0);
    const QJsonArray rows = QJsonDocument::fromJson(py.readAllStandardOutput()).array();
    QCOMPARE(rows.size(), labels.size() + 1);
    const auto fields = [&](int i) {
        QStringList f;
        for (const QJsonValue &v : rows.at(i).toArray())
            f << v.toString();
        return f;
    };
    const QStringList head = fields(0);
    QCOMPARE(head.join(','), header);
    QCOMPARE(fields(1).mid(0, firstRecord.size()), firstRecord);
    QStringList column;
    for (int i = 1; i < rows.size(); ++i) {
        QCOMPARE(fields(i).size(), head.size());
        column << fields(i).at(labelColumn);
    }
    QCOMPARE(column, labels);
}

void TestLibraryProgram::unopenableLibrary()
{
    QTemporaryDir dir;
    const QString lib = dir.filePath("lib.sqlite");
    WriteFile(lib, "not a database at all");
    WriteFile(dir.filePath("one.log"), TableText(1));
    for (const QStringList &args : {QStringList{"--import", dir.filePath("one.log")}, QStringList{"--export-cells"}}) {
        const Result r = Voltrak(QStringList{"--library", lib} + args);
        QCOMPARE(r.status, 1);
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(QString::fromUtf8(r.err),
            QStringLiteral("セル台帳を開けません: %1 はデータベースではないか、壊れています\n").arg(lib));
    }
    QCOMPARE(ReadFile(lib), QByteArray("not a database at all"));
}

// The folder's files and folders with the files' sizes.
QStringList Listing(const QString &folder)
{
    QStringList out;
    for (const QFileInfo &i : QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        out << i.fileName() + ' ' + QString::number(i.isFile() ? i.size() : -1);
    return out;
}

// The commands that only read the library: no library there is said in one
// line, and nothing is made, neither the file nor its folder.
void TestLibraryProgram::readingCommandsMakeNothing_data()
{
    QTest::addColumn<QStringList>("args"); // @ = the test's folder
    QTest::addColumn<QString>("library");
    QTest::newRow("cells, in a missing folder")
        << QStringList{"--library", "@/no/such/lib.sqlite", "--export-cells"} << "@/no/such/lib.sqlite";
    QTest::newRow("runs, a missing file") << QStringList{"--library=@/lib.sqlite", "--export-runs"} << "@/lib.sqlite";
    QTest::newRow("pack, beside the settings")
        << QStringList{"--settings", "@/s.ini", "--pack", "2S"} << "@/library.sqlite";
    QTest::newRow("cells, an empty file")
        << QStringList{"--library", "@/empty.sqlite", "--export-cells"} << "@/empty.sqlite";
    // Cells are known by their labels: a new library would know none.
    QTest::newRow("figures, a missing file")
        << QStringList{"--library", "@/lib.sqlite", "--import-figures", "@/s.ini"} << "@/lib.sqlite";
}

void TestLibraryProgram::readingCommandsMakeNothing()
{
    QFETCH(QStringList, args);
    QFETCH(QString, library);
    QTemporaryDir dir;
    WriteFile(dir.filePath("empty.sqlite"), QByteArray());
    WriteFile(dir.filePath("s.ini"), "[VOLTRAK]\r\n");
    const QStringList before = Listing(dir.path());
    const Result r = Voltrak(args.replaceInStrings("@", dir.path()));
    QCOMPARE(r.status, 1);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(
        QString::fromUtf8(r.err), QStringLiteral("セル台帳がありません: %1\n").arg(library.replace("@", dir.path())));
    QCOMPARE(Listing(dir.path()), before);
}

// --import names on standard error each file that gave nothing, imports the
// others and ends with status 1; a receive journal is read whatever its bytes.
void TestLibraryProgram::importNamesFilesThatGiveNothing()
{
    QTemporaryDir dir;
    const QString good = dir.filePath("a.log"), binary = dir.filePath("copy.sqlite"),
                  journal = dir.filePath("20261201-090000.log"), none = dir.filePath("notes.txt");
    WriteFile(good, "2026/12/01 10:00\r\n" + TableText(1));
    WriteFile(binary, QByteArray("SQLite format 3\0", 16) + TableText(2));
    WriteFile(journal, QByteArray("\0\xff\r\n", 4) + TableText(3)); // the line's noise before the table
    WriteFile(none, "2026/12/01 10:00\r\nBat-V Bat1 Bat2 Bat3 Bat4\r\nno rows\r\n");
    const QString lib = dir.filePath("lib.sqlite");
    const Result r
        = Voltrak({"--settings", dir.filePath("v.ini"), "--library", lib, "--import", good, binary, journal, none});
    QCOMPARE(r.status, 1);
    QCOMPARE(
        QString::fromUtf8(r.err), QStringLiteral("テキストではありません: %1\n表がありません: %2\n").arg(binary, none));
    QCOMPARE(QString::fromUtf8(r.out),
        QStringLiteral("ファイル: 3\n表: 2\n新しい記録: 2\n既知の記録: 0\n日時: %1: 受信記録の開始 1\n").arg(journal));
    QCOMPARE(Reader(lib).value("SELECT count(*) FROM runs").toInt(), 2);
}

// --import-figures stores the good records of a figures CSV, lists the others
// with their lines and ends with status 1; the columns given are kept for the
// next import, which stores nothing twice.
void TestLibraryProgram::importFigures()
{
    QTemporaryDir dir;
    const QString lib = dir.filePath("lib.sqlite"), log = dir.filePath("a.log"), csv = dir.filePath("ir.csv");
    WriteFile(log, "\x83\x5A\x83\x8B: K-1 K-2 - -\r\n2026/12/01 10:00\r\n" + TableText(1));
    QCOMPARE(Voltrak({"--settings", dir.filePath("v.ini"), "--library", lib, "--import", log}).status, 0);
    WriteFile(csv,
        "2026/12/05;x,K-1,23.5,内部抵抗\r\n"
        "2026/12/05,K-2,4.2/4.1/10,自己放電\r\n"
        "2026/12/05,K-3,20,内部抵抗\r\n"
        "2026/12/05,K-2,-5,内部抵抗\r\n");
    const QStringList args{"--settings", dir.filePath("v.ini"), "--library", lib, "--import-figures", csv};
    Result r = Voltrak(args + QStringList{"--figure-columns", "2,1,4,3"});
    QCOMPARE(QString::fromUtf8(r.err), QString());
    QCOMPARE(QString::fromUtf8(r.out),
        QStringLiteral("記録: 4\n新しい測定: 1\n既知の測定: 0\n取り込まなかった記録: 3\n"
                       "行 1: 日付が読めません: 2026/12/05;x,K-1,23.5,内部抵抗\n"
                       "行 3: ラベル K-3 のセルはありません: 2026/12/05,K-3,20,内部抵抗\n"
                       "行 4: 内部抵抗は 0 より大きく 10000 mΩ 以下です: 2026/12/05,K-2,-5,内部抵抗\n"));
    QCOMPARE(r.status, 1);
    QCOMPARE(Reader(lib).value("SELECT count(*) FROM measurements").toInt(), 1);
    QCOMPARE(Reader(lib).value("SELECT value FROM settings WHERE key = 'figures.columns'").toString(),
        QStringLiteral("2,1,4,3"));
    // The columns kept; a file of good records only gives status 0, the cells' export shows the figure.
    WriteFile(csv, "2026/12/06,K-1,30,IR\r\n2026/12/05,K-2,4.2/4.1/10,自己放電\r\n");
    r = Voltrak(args);
    QCOMPARE(QString::fromUtf8(r.out), QStringLiteral("記録: 2\n新しい測定: 1\n既知の測定: 1\n"));
    QCOMPARE(r.status, 0);
    r = Voltrak({"--settings", dir.filePath("v.ini"), "--library", lib, "--export-cells"});
    const QStringList lines = QString::fromUtf8(r.out).split("\r\n");
    const QStringList header = lines.first().split(',');
    const qsizetype ir = header.indexOf("内部抵抗(mΩ)"), sd = header.indexOf("自己放電(mV/日)");
    QVERIFY2(ir >= 0 && sd >= 0, qPrintable(lines.first()));
    QCOMPARE(lines.at(1).split(',').at(ir), QStringLiteral("30.0"));
    QCOMPARE(lines.at(2).split(',').at(sd), QStringLiteral("10.0"));
    // Columns that are not four numbers: status 2, nothing read.
    r = Voltrak(args + QStringList{"--figure-columns", "1,2,3"});
    QCOMPARE(r.status, 2);
    QVERIFY(r.err.startsWith("voltrak: --figure-columns takes four column numbers"));
}

QTEST_GUILESS_MAIN(TestLibraryProgram)
#include "tst_libraryprogram.moc"
