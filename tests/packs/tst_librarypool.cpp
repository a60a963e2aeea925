// The planner on a real cell library: which cells make the pool, the grade
// limits kept in the library, cells recorded as built into a pack, and the
// command line's plan.
#include "library/Library.h"
#include "library/Pool.h"
#include "packs/LibraryPlan.h"
#include "packs/PackCommand.h"
#include "packs/PackPlan.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>

using library::CellState;
using library::Grade;

namespace {

// A table whose bays fall through 1.40 to 1.00 V, each bay `minutes[j]`
// minutes a step: the capacities follow the minutes.
QList<QByteArray> rowsFor(const QList<int> &minutes)
{
    QList<QByteArray> rows;
    for (int k = 0; k < 5; ++k) {
        QByteArray r = "1." + QByteArray::number(4 - k) + "0V";
        for (int m : minutes)
            r += ' ' + QByteArray::number(k * m);
        rows.append(r);
    }
    return rows;
}

void record(library::Library &lib, const QList<int> &minutes, const QStringList &labels, int day)
{
    library::RunInput run;
    run.when = QDateTime(QDate(2026, 12, day), QTime(10, 0));
    run.source = QStringLiteral("test.log");
    run.rows = rowsFor(minutes);
    for (int j = 0; j < labels.size(); ++j)
        run.labels[j] = labels.at(j);
    lib.recordRun(run);
}

library::CellSummary summaryOf(library::Library &lib, const QString &label)
{
    for (const library::CellSummary &s : lib.cellSummaries()) {
        if (s.info.label == label)
            return s;
    }
    return {};
}

void setNominal(library::Library &lib, const QString &label, double nominal)
{
    library::CellInfo info = lib.cell(lib.cellIdOf(label));
    info.hasNominal = true;
    info.nominalMah = nominal;
    lib.updateCell(info);
}

QStringList sortedLabels(const QList<library::PoolCandidate> &pool)
{
    QStringList labels;
    for (const library::PoolCandidate &c : pool)
        if (!c.builtIn)
            labels << c.label;
    labels.sort();
    return labels;
}

} // namespace

class TestLibraryPool : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void pool_data();
    void pool();
    void latestCurves();
    void curveNeighbours();
    void gradeLimitsStayInTheLibrary();
    void builtIn();
    void resistanceLimit_data();
    void resistanceLimit();
    void command_data();
    void command();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestLibraryPool::init()
{
    // Eight cells A..H, two runs of four; D measured again later, weaker.
    m_dir = std::make_unique<QTemporaryDir>();
    m_path = m_dir->filePath("library.sqlite");
    library::Library lib(m_path);
    QVERIFY2(lib.isWritable(), qPrintable(lib.reason()));
    record(lib, {100, 102, 110, 130}, {"A", "B", "C", "D"}, 1);
    record(lib, {101, 103, 140, 90}, {"E", "F", "G", "H"}, 2);
    record(lib, {60}, {"D"}, 3);
    lib.ensureCell(QStringLiteral("never measured"));
    library::CellInfo g = lib.cell(lib.cellIdOf("G"));
    g.state = CellState::Retired;
    lib.updateCell(g);
    const double a = summaryOf(lib, "A").latestMah;
    // A at 95 % of nominal, B at 85 %, C at 70 %; the others have none.
    setNominal(lib, "A", a / 0.95);
    setNominal(lib, "B", summaryOf(lib, "B").latestMah / 0.85);
    setNominal(lib, "C", summaryOf(lib, "C").latestMah / 0.70);
}

void TestLibraryPool::pool_data()
{
    QTest::addColumn<QString>("grade"); // empty: every grade
    QTest::addColumn<double>("good");
    QTest::addColumn<double>("fair");
    QTest::addColumn<QStringList>("labels");
    // G is retired, "never measured" has no capacity.
    QTest::newRow("every grade") << "" << 90.0 << 80.0 << QStringList{"A", "B", "C", "D", "E", "F", "H"};
    QTest::newRow("良") << "良" << 90.0 << 80.0 << QStringList{"A"};
    QTest::newRow("可") << "可" << 90.0 << 80.0 << QStringList{"B"};
    QTest::newRow("不良") << "不良" << 90.0 << 80.0 << QStringList{"C"};
    QTest::newRow("no nominal") << "―" << 90.0 << 80.0 << QStringList{"D", "E", "F", "H"};
    QTest::newRow("良 with lower limits") << "良" << 84.0 << 60.0 << QStringList{"A", "B"};
}

void TestLibraryPool::pool()
{
    QFETCH(QString, grade);
    QFETCH(double, good);
    QFETCH(double, fair);
    QFETCH(QStringList, labels);
    library::Library lib(m_path);
    library::PoolRequest request;
    request.grade = grade.isEmpty() ? std::nullopt : library::GradeFromText(grade);
    const QList<library::PoolCandidate> pool
        = library::PoolOf(lib.cellSummaries(), library::GradeLimits{good, fair}, request);
    QCOMPARE(sortedLabels(pool), labels);
    for (const library::PoolCandidate &c : pool) {
        QCOMPARE(lib.cell(c.cellId).label, c.label);
        // The latest capacity: D's second run, not its first.
        QCOMPARE(c.capacity, summaryOf(lib, c.label).latestMah);
    }
}

void TestLibraryPool::latestCurves()
{
    library::Library lib(m_path);
    const QList<library::PoolCandidate> pool = lib.planPool({});
    const auto at = [&](const QString &label) {
        for (const library::PoolCandidate &c : pool) {
            if (c.label == label)
                return c.curve;
        }
        return analysis::Curve();
    };
    // D's latest run is its 60-minute steps in bay 1; B is bay 2 of the first run.
    const analysis::Curve d = at("D"), b = at("B");
    QCOMPARE(d.size(), 5);
    QCOMPARE(d.first().millivolts, 1000);
    QCOMPARE(d.first().minutes, 240.0);
    QCOMPARE(b.first().minutes, 408.0);
    QCOMPARE(analysis::CurveDistance(d, b), std::optional<double>(168.0));
}

void TestLibraryPool::curveNeighbours()
{
    library::Library lib(m_path);
    // Steps of 100 minutes for A: B (102) lies 8 minutes away at 1.00 V, E
    // (101) 4, C (110) 40, D (60, its latest run) 160; G (140) is retired but
    // measured, so it counts.
    const QList<library::CurveNeighbour> n = lib.curveNeighbours(lib.cellIdOf("A"));
    QStringList order;
    QList<double> minutes;
    for (const library::CurveNeighbour &c : n) {
        order << lib.cell(c.cellId).label;
        minutes << c.minutes.value_or(-1);
    }
    QCOMPARE(order, (QStringList{"A", "E", "B", "F", "C", "H", "D", "G"}));
    QCOMPARE(minutes, (QList<double>{0, 4, 8, 12, 40, 40, 160, 160}));
    QVERIFY(lib.curveNeighbours(lib.cellIdOf("never measured")).isEmpty());
}

void TestLibraryPool::gradeLimitsStayInTheLibrary()
{
    {
        library::Library lib(m_path);
        QCOMPARE(lib.gradeLimits().good, 90.0);
        QCOMPARE(lib.gradeLimits().fair, 80.0);
        lib.setGradeLimits({92.5, 70});
        QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.setGradeLimits({70, 92.5}));
    }
    library::Library again(m_path);
    QCOMPARE(again.gradeLimits().good, 92.5);
    QCOMPARE(again.gradeLimits().fair, 70.0);
    // Limits written by hand that make no sense read as the defaults.
    again.setSetting("grade.fair", "95");
    QCOMPARE(again.gradeLimits().good, 90.0);
    again.setSetting("grade.fair", "abc");
    QCOMPARE(again.gradeLimits().fair, 80.0);
}

void TestLibraryPool::builtIn()
{
    library::Library lib(m_path);
    const QList<qint64> ids{lib.cellIdOf("A"), lib.cellIdOf("E")};
    lib.recordBuiltIn(ids, QStringLiteral("  4S 工具用 "));
    QCOMPARE(library::CellStateText(lib.cell(ids.at(0)).state, lib.cell(ids.at(0)).pack),
        QStringLiteral("組込み: 4S 工具用"));
    QCOMPARE(sortedLabels(library::PoolOf(lib.cellSummaries(), {}, {})), (QStringList{"B", "C", "D", "F", "H"}));
    // A plan short of cells says how many more are in packs.
    packs::PlanRequest tooLarge;
    tooLarge.shape = *packs::ParseShape("6S");
    const packs::LibraryPlan shortOf = packs::PlanFromLibrary(lib.planPool(tooLarge.pool()), tooLarge);
    QCOMPARE(shortOf.builtIn, 2);
    QCOMPARE(shortOf.result.error, QStringLiteral("セルが足りません（必要 6、候補 5）（ほかに組込み済み 2）"));

    // A cell no longer in use stops the whole record, and an earlier pack's
    // name is not written over.
    QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.recordBuiltIn({lib.cellIdOf("B"), lib.cellIdOf("A")}, "other"));
    QCOMPARE(lib.cell(lib.cellIdOf("B")).state, CellState::InUse);
    QCOMPARE(lib.cell(lib.cellIdOf("A")).pack, QStringLiteral("4S 工具用"));
    QVERIFY_THROWS_EXCEPTION(library::LibraryError, lib.recordBuiltIn({lib.cellIdOf("B")}, "  "));
    QCOMPARE(lib.cell(lib.cellIdOf("B")).state, CellState::InUse);

    lib.undoBuiltIn({ids.at(0)});
    QCOMPARE(lib.cell(ids.at(0)).state, CellState::InUse);
    QVERIFY(lib.cell(ids.at(0)).pack.isEmpty());
    // Undoing leaves a retired cell retired.
    lib.undoBuiltIn({lib.cellIdOf("G")});
    QCOMPARE(lib.cell(lib.cellIdOf("G")).state, CellState::Retired);
    QCOMPARE(sortedLabels(library::PoolOf(lib.cellSummaries(), {}, {})), (QStringList{"A", "B", "C", "D", "F", "H"}));
}

void TestLibraryPool::resistanceLimit_data()
{
    QTest::addColumn<double>("limit"); // 0: none
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<int>("above");
    // A 20 mΩ, B 35, C 50 (20 before), E 10 (80 before); D, F and H never measured.
    QTest::newRow("no limit") << 0.0 << QStringList{"A", "B", "C", "D", "E", "F", "H"} << 0;
    QTest::newRow("at a cell's figure it stays") << 35.0 << QStringList{"A", "B", "D", "E", "F", "H"} << 1;
    QTest::newRow("the latest figure counts, not an older one") << 19.9 << QStringList{"D", "E", "F", "H"} << 3;
    QTest::newRow("below every figure") << 5.0 << QStringList{"D", "F", "H"} << 4;
}

void TestLibraryPool::resistanceLimit()
{
    QFETCH(double, limit);
    QFETCH(QStringList, labels);
    QFETCH(int, above);
    library::Library lib(m_path);
    const auto ir = [&](const QString &label, int month, int day, double milliohm) {
        library::Measurement m;
        m.date = QDate(2026, month, day);
        m.resistanceMilliohm = milliohm;
        lib.addFigureFor(label, m);
    };
    ir("A", 12, 1, 20.0);
    ir("B", 12, 1, 35.0);
    ir("C", 11, 1, 20.0);
    ir("C", 12, 1, 50.0);
    ir("E", 12, 2, 10.0);
    ir("E", 10, 1, 80.0);
    packs::PlanRequest request;
    request.shape = *packs::ParseShape("7S");
    if (limit > 0)
        request.maxResistance = limit;
    const QList<library::PoolCandidate> pool = lib.planPool(request.pool());
    QStringList kept;
    int counted = 0;
    for (const library::PoolCandidate &c : pool) {
        counted += c.aboveResistance;
        if (!c.aboveResistance)
            kept << c.label;
        // Left out, no curve is read for it.
        QCOMPARE(c.curve.isEmpty(), c.aboveResistance);
    }
    kept.sort();
    QCOMPARE(kept, labels);
    QCOMPARE(counted, above);
    const packs::LibraryPlan plan = packs::PlanFromLibrary(pool, request);
    QCOMPARE(plan.aboveResistance, above);
    if (above == 0) {
        QVERIFY(plan.result.plan);
    } else {
        QCOMPARE(plan.result.error,
            QStringLiteral("セルが足りません（必要 7、候補 %1）（ほかに内部抵抗が上限を超えるもの %2）")
                .arg(labels.size())
                .arg(above));
    }
    // The planner sees each cell's latest figure: A and E side by side differ by 10 mΩ.
    packs::PlanRequest pair;
    pair.shape = *packs::ParseShape("1S2P");
    pair.onlyCells = QList<qint64>{lib.cellIdOf("A"), lib.cellIdOf("E")};
    pair.maxResistance = request.maxResistance;
    const packs::LibraryPlan two = packs::PlanFromLibrary(lib.planPool(pair.pool()), pair);
    if (labels.contains("A")) {
        QVERIFY2(two.result.plan, qPrintable(two.result.error));
        QCOMPARE(two.result.plan->figures.resistanceDifference, std::optional<double>(10.0));
    } else {
        QVERIFY(!two.result.plan);
    }

    // The command line's limit.
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QString errText;
    QTextStream err(&errText);
    packs::PackCommandOptions o;
    o.shape = QStringLiteral("%1S").arg(labels.size());
    o.maxResistance = limit > 0 ? QString::number(limit) : QString();
    QCOMPARE(packs::RunPack(m_path, o, buffer, err), 0);
    for (const QString label : {"A", "B", "C", "E"})
        QCOMPARE(out.contains("," + label.toUtf8() + ","), labels.contains(label));
    o.shape = QStringLiteral("%1S").arg(labels.size() + 1);
    QCOMPARE(packs::RunPack(m_path, o, buffer, err), 1);
    o.maxResistance = QStringLiteral("-1");
    QCOMPARE(packs::RunPack(m_path, o, buffer, err), 2);
    err.flush();
    QVERIFY2(
        errText.endsWith(QStringLiteral("voltrak: --max-ir takes a resistance in mΩ above 0\n")), qPrintable(errText));
}

void TestLibraryPool::command_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<int>("packCount");
    QTest::addColumn<QString>("grade");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message"); // the start of what goes to err
    QTest::newRow("4S1P") << "4S1P" << 1 << "" << 0 << "";
    QTest::newRow("2S1P x 3") << "2S" << 3 << "" << 0 << "";
    QTest::newRow("2S2P") << "2S2P" << 1 << "" << 0 << "";
    QTest::newRow("too few") << "4S2P" << 1 << "" << 1 << "セルが足りません（必要 8、候補 7）";
    QTest::newRow("too few of a grade") << "2S1P" << 1 << "良" << 1 << "セルが足りません（必要 2、候補 1）";
    QTest::newRow("not a shape") << "4x2" << 1 << "" << 2 << "voltrak: --pack 4x2 is not a shape";
    QTest::newRow("not a grade") << "2S" << 1 << "ok" << 2 << "voltrak: --grade takes";
    QTest::newRow("too many packs") << "2S" << 21 << "" << 2 << "voltrak: --packs takes";
}

void TestLibraryPool::command()
{
    QFETCH(QString, shape);
    QFETCH(int, packCount);
    QFETCH(QString, grade);
    QFETCH(int, status);
    QFETCH(QString, message);
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QString errText;
    QTextStream err(&errText);
    packs::PackCommandOptions o;
    o.shape = shape;
    o.packs = packCount;
    o.grade = grade;
    // The check below is of the closest capacities.
    o.aim = packs::Aim::Even;
    QCOMPARE(packs::RunPack(m_path, o, buffer, err), status);
    err.flush();
    QVERIFY2(message.isEmpty() ? errText.isEmpty() : errText.startsWith(message), qPrintable(errText));
    if (status != 0) {
        QVERIFY(out.isEmpty());
        return;
    }
    QVERIFY(errText.isEmpty());
    const QList<QByteArray> lines = out.split('\n');
    QVERIFY(lines.first().startsWith("\xE3\x83\x91")); // "パ", no byte order mark
    const int cells = packs::ParseShape(shape)->cellsNeeded() * packCount;
    QCOMPARE(out.count("\r\n"), 1 + cells);
    if (shape != "4S1P")
        return;
    // The four of closest capacity, by trying every four of the pool.
    library::Library lib(m_path);
    const QList<library::PoolCandidate> pool = library::PoolOf(lib.cellSummaries(), {}, {});
    double best = 1e300;
    QStringList bestLabels;
    const int n = int(pool.size());
    for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b)
            for (int c = b + 1; c < n; ++c)
                for (int d = c + 1; d < n; ++d) {
                    const QList<double> v{pool[a].capacity, pool[b].capacity, pool[c].capacity, pool[d].capacity};
                    const double range = *std::max_element(v.begin(), v.end()) - *std::min_element(v.begin(), v.end());
                    if (range < best) {
                        best = range;
                        bestLabels = QStringList{pool[a].label, pool[b].label, pool[c].label, pool[d].label};
                    }
                }
    bestLabels.sort();
    QStringList planned;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines.at(i).trimmed().split(',');
        if (f.size() >= 3)
            planned << QString::fromUtf8(f.at(2));
    }
    planned.sort();
    QCOMPARE(planned, bestLabels);
}

QTEST_GUILESS_MAIN(TestLibraryPool)
#include "tst_librarypool.moc"
