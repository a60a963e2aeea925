// The program's --labels and --labels-all on a real library, without a
// display: the PDF's pages read back by pdftoppm and zbarimg label by label,
// its text by pdftotext, and the failures that write nothing.
#include "labels/LabelLayout.h"
#include "labels/LabelSizes.h"
#include "tests/library/LibraryTestData.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr double PxPerMm = 300 / 25.4;

struct Result {
    int status = -1;
    QString out, err;
};

Result Run(const QString &program, const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(v));
    // Without one the toolkit's warning about it would be part of standard error.
    static const QTemporaryDir runtime;
    if (!env.contains(QStringLiteral("XDG_RUNTIME_DIR")))
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    p.setProcessEnvironment(env);
    p.start(program, args);
    Result r;
    if (!p.waitForFinished(120000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

Result Voltrak(const QTemporaryDir &dir, const QStringList &args)
{
    return Run(QStringLiteral(VOLTRAK_EXE), QStringList{"--settings", dir.filePath("v.ini")} + args);
}

QString Label(int i)
{
    return QStringLiteral("C-%1").arg(i, 3, 10, QLatin1Char('0'));
}

// The labels in the bays of one table each, four a table ("-" an empty bay).
bool WriteLog(const QString &path, const QStringList &labels)
{
    QByteArray text = "2026/12/01 10:00\r\n";
    for (int t = 0; t * 4 < labels.size(); ++t) {
        QStringList bays = labels.mid(t * 4, 4);
        while (bays.size() < 4)
            bays << QStringLiteral("-");
        text += "CELLS: " + bays.join(QLatin1Char(' ')).toUtf8() + "\r\n" + TableText(t) + "Discharge end\r\n";
    }
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

bool Sql(const QString &library, const QString &statement)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("edit"));
        db.setDatabaseName(library);
        ok = db.open() && QSqlQuery(db).exec(statement);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("edit"));
    return ok;
}

} // namespace

class TestLabelCommand : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void everyCellOnOneSheet();
    void whatALabelSays();
    void failures_data();
    void failures();

private:
    QTemporaryDir m_dir;
    QString m_library;
    QStringList m_labels; // in use, by label
    QString m_refused; // a label Code 128 cannot hold on a4-65
};

void TestLabelCommand::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (int i = 1; i <= 65; ++i)
        m_labels << Label(i);
    m_refused = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    m_library = m_dir.filePath("lib.sqlite");
    const QString log = m_dir.filePath("cells.log");
    // A 66th cell, retired, and the long one stay out of --labels-all.
    QVERIFY(WriteLog(log, m_labels + QStringList{"OLD-1", m_refused}));
    const Result r = Voltrak(m_dir, {"--library", m_library, "--import", log});
    QCOMPARE(r.err, QString());
    QCOMPARE(r.status, 0);
    QVERIFY(Sql(m_library, "UPDATE cells SET state = 1 WHERE label IN ('OLD-1', '" + m_refused + "')"));
}

void TestLabelCommand::everyCellOnOneSheet()
{
    const QString pdf = m_dir.filePath("all.pdf");
    const Result r = Voltrak(m_dir, {"--library", m_library, "--labels-all", "--output", pdf});
    QCOMPARE(r.err, QString());
    QCOMPARE(r.status, 0);
    QVERIFY(Run("pdfinfo", {pdf}).out.contains(QRegularExpression("^Pages: +1$", QRegularExpression::MultilineOption)));

    QTemporaryDir pages;
    QCOMPARE(Run("pdftoppm", {"-r", "300", "-gray", "-png", pdf, pages.filePath("page")}).status, 0);
    const QStringList rendered = QDir(pages.path()).entryList({"page*.png"}, QDir::Files, QDir::Name);
    QCOMPARE(rendered.size(), 1);
    const QImage sheet(pages.filePath(rendered.first()));
    const labels::LabelSize &size = *labels::FindLabelSize("a4-65");
    QStringList read;
    for (int i = 0; i < size.labelsPerPage(); ++i) {
        const QRectF mm = labels::LabelRectOnPage(size, i);
        const QString crop = pages.filePath(QStringLiteral("label-%1.png").arg(i));
        QVERIFY(sheet.copy(QRectF(mm.topLeft() * PxPerMm, mm.size() * PxPerMm).toRect()).save(crop));
        const Result z = Run("zbarimg", {"--raw", "-q", "-Sdisable", "-Sqrcode.enable", crop});
        read << z.out.split('\n', Qt::SkipEmptyParts).join('|');
    }
    QCOMPARE(read, m_labels);
}

void TestLabelCommand::whatALabelSays()
{
    // Two cells graded from their nominal capacities, one without a nominal (no grade line).
    QVERIFY(Sql(m_library, "UPDATE cells SET nominal_mah = 1 WHERE label = 'C-001'"));
    QVERIFY(Sql(m_library, "UPDATE cells SET nominal_mah = 1e9 WHERE label = 'C-002'"));
    const Result csv = Voltrak(m_dir, {"--library", m_library, "--export-cells"});
    QCOMPARE(csv.status, 0);
    QStringList first;
    for (const QString &record : csv.out.split("\r\n"))
        if (record.startsWith("C-001,"))
            first = record.split(',');
    QCOMPARE(first.value(0), QStringLiteral("C-001"));
    const QString mah = QString::number(first.value(4).toDouble(), 'f', 0) + QStringLiteral(" mAh");

    const QString pdf = m_dir.filePath("three.pdf");
    const Result r = Voltrak(m_dir,
        {"--library", m_library, "--labels", "C-001", "C-002", "C-003", "--output", pdf, "--label-size", "roll-62x29",
            "--code", "code128"});
    QCOMPARE(r.err, QString());
    QCOMPARE(r.status, 0);
    QStringList pages;
    for (int page = 1; page <= 3; ++page) {
        const Result text = Run("pdftotext", {"-f", QString::number(page), "-l", QString::number(page), pdf, "-"});
        pages << text.out.simplified();
    }
    QVERIFY2(pages.at(0).contains("C-001") && pages.at(0).contains(mah) && pages.at(0).contains("判定 良")
            && pages.at(0).contains("2026-12-01"),
        qPrintable(pages.at(0) + " / " + mah));
    QVERIFY2(pages.at(1).contains("C-002") && pages.at(1).contains("判定 不良"), qPrintable(pages.at(1)));
    QVERIFY2(pages.at(2).contains("C-003") && !pages.at(2).contains("判定"), qPrintable(pages.at(2)));
}

void TestLabelCommand::failures_data()
{
    QTest::addColumn<QStringList>("args"); // "@" stands for the library
    QTest::addColumn<QString>("err"); // "%1" for the missing library's path, "%2" for the refusal's reason
    QTest::addColumn<int>("status");
    QTest::newRow("unknown cell") << QStringList{"--library", "@", "--labels", "C-001", "NOPE", "C-002"}
                                  << "セルがありません: NOPE\n"
                                  << 1;
    QTest::newRow("two unknown cells") << QStringList{"--library", "@", "--labels", "X1", "C-001", "X2"}
                                       << "セルがありません: X1\nセルがありません: X2\n"
                                       << 1;
    QTest::newRow("no library") << QStringList{"--library", "%1", "--labels-all"} << "セル台帳がありません: %1\n" << 1;
    QTest::newRow("refused label") << QStringList{"--library", "@", "--labels", "C-001", "%2", "--code",
        "code128"} << "%2\n" << 1;
    QTest::newRow("refused as PNG") << QStringList{"--library", "@", "--labels", "%2", "--code=code128", "--output",
        "labels.png"} << "%2\n" << 1;
    QTest::newRow("not a size") << QStringList{"--library", "@", "--labels-all", "--label-size", "a5"}
                                << "voltrak: --label-size takes a4-65, roll-62x29, tape-24, tape-12\n"
                                << 2;
    QTest::newRow("not a code") << QStringList{"--library", "@", "--labels-all", "--code", "ean13"}
                                << "voltrak: --code takes qr, code128, datamatrix\n"
                                << 2;
}

void TestLabelCommand::failures()
{
    QFETCH(QStringList, args);
    QFETCH(QString, err);
    QFETCH(int, status);
    QTemporaryDir out;
    const QString missing = out.filePath("nowhere/lib.sqlite");
    labels::LabelContent refused;
    refused.code = m_refused;
    const QString reason = labels::RefusalReason(refused, *labels::FindLabelSize("a4-65"), labels::Symbology::Code128);
    QVERIFY(!reason.isEmpty());
    for (QString &a : args)
        a = a == "@" ? m_library : a.replace("%1", missing).replace("%2", m_refused);
    if (!args.contains("--output"))
        args << "--output"
             << "labels.pdf";
    const int at = args.indexOf("--output");
    args[at + 1] = out.filePath(args.at(at + 1));
    const Result r = Voltrak(m_dir, args);
    QCOMPARE(r.err, err.replace("%1", QDir::toNativeSeparators(missing)).replace("%2", reason));
    QCOMPARE(r.status, status);
    QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

QTEST_MAIN(TestLabelCommand)
#include "tst_labelcommand.moc"
