// The plan's CSV as python3's csv module reads it, and its PDF as pdftotext
// and pdffonts read it.
#include "core/SafeWrite.h"
#include "packs/PlanFiles.h"
#include "tests/packs/PoolMaker.h"
#include "tests/support/TestFiles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <numeric>

using packs::Criterion;

namespace {

packs::PackShape shape(int s, int p, int k)
{
    packs::PackShape sh;
    sh.series = s;
    sh.parallel = p;
    sh.packs = k;
    return sh;
}

QString run(const QString &program, const QStringList &args, const QByteArray &input = {})
{
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>").arg(program, QString::fromUtf8(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Labels that a CSV writer must quote.
QList<packs::PoolCell> awkwardPool()
{
    QList<packs::PoolCell> pool = NormalPool(9, 3);
    pool[0].label = QStringLiteral("E,012");
    pool[1].label = QStringLiteral("say \"A\"");
    pool[2].label = QStringLiteral("セル　三");
    return pool;
}

} // namespace

class TestPlanFiles : public QObject
{
    Q_OBJECT
private slots:
    void csvReadByPython_data();
    void csvReadByPython();
    void pdfReadBack_data();
    void pdfReadBack();
    void unwritable();
};

void TestPlanFiles::csvReadByPython_data()
{
    QTest::addColumn<int>("s");
    QTest::addColumn<int>("p");
    QTest::addColumn<int>("k");
    QTest::newRow("strings") << 3 << 1 << 2;
    QTest::newRow("groups") << 2 << 2 << 2;
    QTest::newRow("one group of all") << 1 << 9 << 1;
}

void TestPlanFiles::csvReadByPython()
{
    QFETCH(int, s);
    QFETCH(int, p);
    QFETCH(int, k);
    const auto pool = awkwardPool();
    const auto r = packs::MakePlan(pool, shape(s, p, k), Criterion::Capacity);
    QVERIFY(r.plan);
    QTemporaryDir dir;
    const QString path = dir.filePath("plan.csv");
    packs::WritePlanCsv(path, pool, *r.plan);
    const QByteArray bytes = ReadFile(path);
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QCOMPARE(bytes.count("\r\n"), 1 + s * p * k);

    // Python reads the file and writes each record back as tab-separated fields.
    const QString script = QStringLiteral("import csv,sys\n"
                                          "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
                                          "    for row in csv.reader(f):\n"
                                          "        sys.stdout.write('\\t'.join(row) + '\\n')\n");
    const QStringList lines = run("python3", {"-c", script, path}).split('\n', Qt::SkipEmptyParts);
    // The first five columns as before; then the pack's weakest group, the
    // S x P strongest cells of the pool over S, and how far below that.
    QStringList expected{QStringLiteral(
        "パック\tグループ\tラベル\t容量(mAh)\tグループ計(mAh)\tパック容量(mAh)\t上限(mAh)\t上限との差(%)")};
    QList<double> strongest;
    for (const auto &c : pool)
        strongest.append(c.capacity);
    std::sort(strongest.begin(), strongest.end(), std::greater<double>());
    const double bound = std::accumulate(strongest.begin(), strongest.begin() + s * p, 0.0) / s;
    for (int pk = 0; pk < r.plan->packs.size(); ++pk) {
        const auto &groups = r.plan->packs.at(pk).groups;
        double weakest = groups.first().total;
        for (const auto &g : groups)
            weakest = std::min(weakest, g.total);
        for (int g = 0; g < groups.size(); ++g) {
            for (int c : groups.at(g).cells) {
                expected << QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\t%8")
                                .arg(pk + 1)
                                .arg(g + 1)
                                .arg(pool.at(c).label, QString::number(pool.at(c).capacity, 'f', 1),
                                    QString::number(groups.at(g).total, 'f', 1), QString::number(weakest, 'f', 1),
                                    QString::number(bound, 'f', 1),
                                    QString::number((bound - weakest) / bound * 100, 'f', 3));
            }
        }
    }
    QCOMPARE(lines, expected);
    // Standard output gets the same records without the mark.
    QCOMPARE(packs::PlanCsvText(pool, *r.plan), bytes.mid(3));
}

void TestPlanFiles::pdfReadBack_data()
{
    QTest::addColumn<int>("s");
    QTest::addColumn<int>("p");
    QTest::addColumn<int>("k");
    QTest::addColumn<int>("poolSize");
    QTest::addColumn<int>("minimumPages");
    QTest::addColumn<bool>("resistances"); // the cells' internal resistances known
    QTest::newRow("4S1P") << 4 << 1 << 1 << 9 << 1 << true;
    // 200 cells in 40 groups over four packs: more than one page.
    QTest::newRow("10S5P x 4") << 10 << 5 << 4 << 230 << 2 << false;
}

void TestPlanFiles::pdfReadBack()
{
    QFETCH(int, s);
    QFETCH(int, p);
    QFETCH(int, k);
    QFETCH(int, poolSize);
    QFETCH(int, minimumPages);
    QFETCH(bool, resistances);
    auto pool = NormalPool(poolSize, 11);
    pool[0].label = QStringLiteral("セル甲");
    for (qsizetype i = 0; i < pool.size() && resistances; ++i)
        pool[i].resistanceMilliohm = 20.0 + double(i % 7);
    const auto r = packs::MakePlan(pool, shape(s, p, k), Criterion::Capacity);
    QVERIFY(r.plan);
    QTemporaryDir dir;
    const QString path = dir.filePath("plan.pdf");
    packs::WritePlanPdf(path, pool, *r.plan);
    QVERIFY(ReadFile(path).startsWith("%PDF-"));

    const QString text = run("pdftotext", {"-enc", "UTF-8", path, "-"});
    QVERIFY2(text.contains(QStringLiteral("組電池の設計")), qPrintable(text.left(300)));
    QVERIFY(text.contains(QStringLiteral("余ったセル")));
    QVERIFY(text.contains(QStringLiteral("パック容量: %1 mAh").arg(r.plan->figures.packCapacity, 0, 'f', 1)));
    QVERIFY(text.contains(QStringLiteral("上限: %1 mAh").arg(r.plan->figures.capacityBound, 0, 'f', 1)));
    QVERIFY(text.contains(QStringLiteral("容量優先")));
    // The resistance figure only where resistances are known.
    QCOMPARE(text.contains(QStringLiteral("内部抵抗差")), resistances);
    QVERIFY(text.contains(QStringLiteral("%1 パック").arg(k)));
    // Every pack, and every cell the plan uses with its capacity: nothing cut off at a page's end.
    for (int pk = 0; pk < k; ++pk)
        QVERIFY2(text.contains(QStringLiteral("パック %1（").arg(pk + 1)), qPrintable(QString::number(pk)));
    for (const auto &pack : r.plan->packs) {
        for (const auto &g : pack.groups) {
            QVERIFY(text.contains(QString::number(g.total, 'f', 1)));
            for (int c : g.cells) {
                const QString cell = pool.at(c).label + QLatin1Char(' ') + QString::number(pool.at(c).capacity, 'f', 1);
                QVERIFY2(text.contains(cell), qPrintable(cell));
            }
        }
    }
    const int pages = int(text.count(QLatin1Char('\f')));
    QVERIFY2(pages >= minimumPages, qPrintable(QString::number(pages)));

    // Every font embedded, and the Japanese one is IPA's.
    const QStringList fonts = run("pdffonts", {path}).split('\n', Qt::SkipEmptyParts).mid(2);
    QVERIFY(!fonts.isEmpty());
    bool ipa = false;
    for (const QString &line : fonts) {
        const QStringList f = line.simplified().split(' ');
        QVERIFY2(f.size() >= 6 && f.at(f.size() - 5) == "yes", qPrintable(line));
        ipa = ipa || f.first().contains(QLatin1String("IPA"));
    }
    QVERIFY2(ipa, qPrintable(fonts.join('\n')));
}

void TestPlanFiles::unwritable()
{
    const auto pool = NormalPool(4, 1);
    const auto r = packs::MakePlan(pool, shape(4, 1, 1), Criterion::Capacity);
    QVERIFY(r.plan);
    QTemporaryDir dir;
    const QString path = dir.filePath("missing-folder/plan.csv");
    QVERIFY_THROWS_EXCEPTION(safewrite::WriteError, packs::WritePlanCsv(path, pool, *r.plan));
    QVERIFY_THROWS_EXCEPTION(safewrite::WriteError, packs::WritePlanPdf(path, pool, *r.plan));
    QVERIFY(!QFile::exists(path));
}

QTEST_MAIN(TestPlanFiles)
#include "tst_planfiles.moc"
