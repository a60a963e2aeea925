// The discharger simulator: its text model, and the program itself driven
// through a pseudo-terminal by the port component.
#include "core/Settings.h"
#include "serial/Commx.h"
#include "tests/support/PtyHelpers.h"
#include "tools/zeph4-sim/Zeph4Model.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace zeph4;

using IntList = QList<int>;

class TestZeph4Sim : public QObject
{
    Q_OBJECT
private slots:
    void curveFalls();
    void demoFitsDefaultTimeAxis_data();
    void demoFitsDefaultTimeAxis();
    void tableDump_data();
    void tableDump();
    void cyclesVary_data();
    void cyclesVary();
    void settingMode_data();
    void settingMode();
    void loneCrCancels();
    void programSettingMode_data();
    void programSettingMode();
    void programDumpAndDischarge();
    void programCyclesVary();
    void dischargeWaitsForTheLine();

private:
    struct Running {
        QProcess proc;
        TCommX comm;
        QByteArray text;
        QByteArray out;
    };
    bool Start(Running &r, const QStringList &args, int openAfterMs = 0);
    QStringList CycleTables(Running &r, const QString &seed);
};

void TestZeph4Sim::curveFalls()
{
    double last = 10;
    for (int i = 0; i <= 100; ++i) {
        const double v = CellVoltage(i / 100.0);
        QVERIFY2(v < last, qPrintable(QString("not falling at %1").arg(i)));
        last = v;
    }
    QVERIFY(qAbs(CellVoltage(0) - 1.45) < 1e-9);
    QVERIFY(CellVoltage(0.5) > 1.2 && CellVoltage(0.5) < 1.3); // the plateau
    QVERIFY(CellVoltage(1.0) < 1.0); // past any stop voltage
}

void TestZeph4Sim::demoFitsDefaultTimeAxis_data()
{
    QTest::addColumn<int>("stop");
    QTest::newRow("device default 1.00 V") << 100;
    QTest::newRow("lowest stop voltage") << 0;
}

void TestZeph4Sim::demoFitsDefaultTimeAxis()
{
    QFETCH(int, stop);
    settings::ResetToDefaults();
    const std::array<int, 4> lengths = CellLengths(DefaultCounts("demo"));
    // The discharge stops at the longest cell's length at the latest.
    QVERIFY(*std::max_element(lengths.begin(), lengths.end()) <= settings::Gtmax);
    const std::array<int, 4> plain = CellLengths(150);
    QCOMPARE(*std::max_element(plain.begin(), plain.end()), 150); // as --counts says
    const QList<QByteArray> rows = QByteArray::fromStdString(TableDump(lengths, stop, 5)).split('\n');
    static const QRegularExpression row(R"(^\d\.\d\dV +(\d+) +(\d+) +(\d+) +(\d+)\r$)");
    int last = 0;
    for (const QByteArray &l : rows) {
        const auto m = row.match(QString::fromLatin1(l));
        for (int c = 1; m.hasMatch() && c <= 4; ++c)
            last = std::max(last, m.captured(c).toInt());
    }
    QVERIFY(last > settings::Gtmax / 2); // the curves use the axis, not a corner of it
    QVERIFY2(last <= settings::Gtmax, QByteArray::number(last).constData());
}

void TestZeph4Sim::cyclesVary_data()
{
    QTest::addColumn<int>("counts");
    QTest::addColumn<uint>("seed");
    QTest::newRow("demo") << DefaultCounts("demo") << 1u;
    QTest::newRow("demo, another seed") << DefaultCounts("demo") << 4000000000u;
    QTest::newRow("long") << 150 << 7u;
    QTest::newRow("very short, little room to vary") << 3 << 2u;
}

void TestZeph4Sim::cyclesVary()
{
    QFETCH(int, counts);
    QFETCH(uint, seed);
    settings::ResetToDefaults();
    const std::array<int, 4> plain = CellLengths(counts);
    std::array<int, 4> previous = plain;
    QSet<QByteArray> tables;
    for (int cycle = 0; cycle < 40; ++cycle) {
        const std::array<int, 4> l = CycleLengths(counts, seed, cycle, previous);
        QVERIFY2(l != previous, qPrintable(QString::number(cycle)));
        // The same seed and cycle give the same set, so a seeded run can be repeated.
        QVERIFY(CycleLengths(counts, seed, cycle, previous) == l);
        for (int i = 0; i < 4; ++i) {
            QVERIFY2(l[i] >= 2, qPrintable(QString::number(l[i])));
            if (counts >= 50) {
                QVERIFY2(l[i] >= plain[i] * 0.95 && l[i] <= plain[i] * 1.04, qPrintable(QString::number(l[i])));
            }
        }
        if (counts == DefaultCounts("demo"))
            QVERIFY(*std::max_element(l.begin(), l.end()) <= settings::Gtmax);
        tables.insert(QByteArray::fromStdString(TableDump(l, 100, 5)));
        previous = l;
    }
    // Different sets give different tables, which the cell library stores as new runs.
    if (counts >= 50)
        QVERIFY2(tables.size() > 30, qPrintable(QString::number(tables.size())));
}

void TestZeph4Sim::tableDump_data()
{
    QTest::addColumn<int>("counts");
    QTest::addColumn<int>("stop");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("rows");
    QTest::newRow("defaults") << 150 << 100 << 5 << 10;
    QTest::newRow("fine steps") << 200 << 100 << 1 << 46;
    QTest::newRow("stop 1.20") << 150 << 120 << 5 << 6;
    QTest::newRow("long discharge capped") << 400 << 100 << 5 << 10;
    QTest::newRow("short discharge") << 10 << 110 << 5 << 8;
}

void TestZeph4Sim::tableDump()
{
    QFETCH(int, counts);
    QFETCH(int, stop);
    QFETCH(int, step);
    QFETCH(int, rows);
    const QByteArray dump = QByteArray::fromStdString(TableDump(CellLengths(counts), stop, step));
    QVERIFY(dump.endsWith("\r\n"));
    QList<QByteArray> lines = dump.split('\n');
    lines.removeLast();
    for (const QByteArray &l : lines)
        QVERIFY2(l.endsWith('\r'), l.constData());
    QCOMPARE(lines.first(), QByteArray("Bat-V Bat1 Bat2 Bat3 Bat4\r"));
    QCOMPARE(lines.size() - 1, rows);
    QCOMPARE(lines.at(1), QByteArray("1.45V   0    0    0    0\r"));
    static const QRegularExpression row(R"(^(\d\.\d\d)V +(\d+) +(\d+) +(\d+) +(\d+)\r$)");
    double lastV = 9;
    int last[4] = {0, 0, 0, 0};
    bool cellsDiffer = false;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray &l = lines.at(i);
        QCOMPARE(l.mid(4, 2), QByteArray("V "));
        const auto m = row.match(QString::fromLatin1(l));
        QVERIFY2(m.hasMatch(), l.constData());
        const double v = m.captured(1).toDouble();
        QVERIFY(v < lastV);
        QVERIFY(v >= stop / 100.0 - 1e-9);
        if (i > 1)
            QVERIFY(qAbs(lastV - v - step / 100.0) < 1e-6);
        lastV = v;
        for (int c = 0; c < 4; ++c) {
            const int t = m.captured(2 + c).toInt();
            QVERIFY(t >= last[c]);
            QVERIFY(t <= 255);
            if (i > 1)
                QVERIFY(t > 0);
            last[c] = t;
        }
        cellsDiffer = cellsDiffer || !(last[0] == last[1] && last[1] == last[2] && last[2] == last[3]);
    }
    QVERIFY(cellsDiffer); // as real cells do
}

void TestZeph4Sim::settingMode_data()
{
    QTest::addColumn<IntList>("order");
    QTest::addColumn<int>("stuckAt");
    QTest::addColumn<int>("leaveAfter");
    QTest::addColumn<QStringList>("prompts"); // asked, in order
    QTest::addColumn<IntList>("received"); // by prompt index after six answers
    QTest::addColumn<bool>("finished");
    const QStringList table{"Vstop:", " Vref:", "TXcyc:", " Beep:", "Tstop:", " Tsel:"};
    QTest::newRow("table order") << IntList{0, 1, 2, 3, 4, 5} << -2 << -1 << table << IntList{10, 11, 12, 13, 14, 15}
                                 << true;
    QTest::newRow("reversed") << IntList{5, 4, 3, 2, 1, 0} << -2 << -1
                              << QStringList{" Tsel:", "Tstop:", " Beep:", "TXcyc:", " Vref:", "Vstop:"}
                              << IntList{15, 14, 13, 12, 11, 10} << true;
    QTest::newRow("stuck everywhere") << IntList{0, 1, 2, 3, 4, 5} << -1 << -1
                                      << QStringList{"Vstop:", "Vstop:", " Vref:", " Vref:", "TXcyc:", "TXcyc:"}
                                      << IntList{11, 13, 15, -1, -1, -1} << false;
    QTest::newRow("stuck at the third") << IntList{0, 1, 2, 3, 4, 5} << 2 << -1
                                        << QStringList{"Vstop:", " Vref:", "TXcyc:", "TXcyc:", " Beep:", "Tstop:"}
                                        << IntList{10, 11, 13, 14, 15, -1} << false;
    QTest::newRow("leaves after two") << IntList{0, 1, 2, 3, 4, 5} << -2 << 2 << QStringList{"Vstop:", " Vref:"}
                                      << IntList{10, 11, -1, -1, -1, -1} << true;
}

void TestZeph4Sim::settingMode()
{
    QFETCH(IntList, order);
    QFETCH(int, stuckAt);
    QFETCH(int, leaveAfter);
    QFETCH(QStringList, prompts);
    QFETCH(IntList, received);
    QFETCH(bool, finished);
    SettingMode::Options o;
    o.order.assign(order.begin(), order.end());
    o.stuckAt = stuckAt;
    o.leaveAfter = leaveAfter;
    SettingMode mode(o);
    std::string shown = mode.Start();
    QStringList asked;
    for (int answer = 0; answer < 6 && !mode.Finished(); ++answer) {
        // The prompt stands at the start of the last line.
        const size_t nl = shown.rfind('\n');
        asked << QString::fromStdString(shown.substr(nl + 1));
        const std::string value = std::to_string(10 + answer) + "\r";
        std::string echo;
        bool answered = false;
        for (char c : value)
            echo += mode.Feed(c, answered);
        QVERIFY(answered);
        QCOMPARE(QString::fromStdString(echo), QString::number(10 + answer));
        shown = mode.Next();
        QVERIFY(shown.rfind("\r\n", 0) == 0); // every prompt on a new line
    }
    QCOMPARE(asked, prompts);
    QCOMPARE(mode.Finished(), finished);
    QVERIFY(!mode.Cancelled());
    const auto &r = mode.Received();
    QCOMPARE(IntList(r.begin(), r.end()), received);
}

void TestZeph4Sim::loneCrCancels()
{
    SettingMode mode({});
    mode.Start();
    bool answered = true;
    QCOMPARE(mode.Feed('\r', answered), std::string());
    QVERIFY(!answered);
    QVERIFY(mode.Finished());
    QVERIFY(mode.Cancelled());
    QCOMPARE(mode.Answers(), 0);
}

bool TestZeph4Sim::Start(Running &r, const QStringList &args, int openAfterMs)
{
    r.proc.start(QStringLiteral(ZEPH4_SIM), args);
    if (!r.proc.waitForStarted(5000) || !r.proc.waitForReadyRead(5000))
        return false;
    while (!r.proc.canReadLine())
        if (!r.proc.waitForReadyRead(5000))
            return false;
    const QString path = QString::fromLocal8Bit(r.proc.readLine()).trimmed();
    if (!path.startsWith("/dev/"))
        return false;
    r.comm.setChannelResolver([path](qint32) { return path; });
    r.comm.OnReceive = [&r](TCustomCommX *s, qint32 n) {
        for (qint32 i = 0; i < n; ++i)
            r.text.append(static_cast<char>(s->ReceiveChar()));
    };
    QObject::connect(&r.proc, &QProcess::readyReadStandardOutput, [&r] { r.out += r.proc.readAllStandardOutput(); });
    if (openAfterMs > 0)
        QTest::qWait(openAfterMs); // the program starts later than the simulator
    r.comm.PortOpen();
    return true;
}

static QByteArray LastLine(const QByteArray &text)
{
    QByteArray t = text;
    if (t.endsWith("\r\n"))
        t.chop(2);
    return t.mid(t.lastIndexOf('\n') + 1);
}

void TestZeph4Sim::programSettingMode_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("answers"); // "name=value" lines on stdout
    QTest::addColumn<QByteArray>("values"); // the closing line
    QTest::newRow("table order") << QStringList{}
                                 << QStringList{"answer Vstop=100", "answer Vref=250", "answer TXcyc=0",
                                        "answer Beep=1", "answer Tstop=0", "answer Tsel=0"}
                                 << QByteArray("values Vstop=100 Vref=250 TXcyc=0 Beep=1 Tstop=0 Tsel=0");
    QTest::newRow("another order") << QStringList{"--order", "1,0,3,2,5,4"}
                                   << QStringList{"answer Vref=250", "answer Vstop=100", "answer Beep=1",
                                          "answer TXcyc=0", "answer Tsel=0", "answer Tstop=0"}
                                   << QByteArray("values Vstop=100 Vref=250 TXcyc=0 Beep=1 Tstop=0 Tsel=0");
    QTest::newRow("leaves after three") << QStringList{"--leave-after", "3"}
                                        << QStringList{"answer Vstop=100", "answer Vref=250", "answer TXcyc=0"}
                                        << QByteArray("values Vstop=100 Vref=250 TXcyc=0 Beep=-1 Tstop=-1 Tsel=-1");
}

void TestZeph4Sim::programSettingMode()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, answers);
    QFETCH(QByteArray, values);
    QTemporaryDir dir;
    const QString record = dir.filePath("rx.bin");
    Running r;
    QVERIFY(Start(r, QStringList{"--scenario", "idle", "--record", record} + args));
    r.proc.write("setting\n");
    const QMap<QByteArray, QByteArray> value{
        {"Vstop:", "100"}, {" Vref:", "250"}, {"TXcyc:", "0"}, {" Beep:", "1"}, {"Tstop:", "0"}, {" Tsel:", "0"}};
    QByteArray sent;
    for (int i = 0; i < answers.size(); ++i) {
        // Answer whatever prompt stands on the last line, as the program does.
        QTRY_VERIFY_WITH_TIMEOUT(value.contains(LastLine(r.text).left(6)), 5000);
        const QByteArray answer = value.value(LastLine(r.text).left(6)) + "\r";
        sent += answer;
        const int before = r.text.size();
        QVERIFY(r.comm.TransString(answer));
        QTRY_VERIFY_WITH_TIMEOUT(r.text.size() > before + answer.size() - 1 && r.text.mid(before).contains('\n'), 5000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(r.out.contains("values"), 5000);
    QList<QByteArray> lines = r.out.trimmed().split('\n');
    QCOMPARE(lines.size(), answers.size() + 1);
    for (int i = 0; i < answers.size(); ++i)
        QCOMPARE(QString::fromLatin1(lines.at(i)), answers.at(i));
    QCOMPARE(lines.last(), values);
    QFile f(record);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), sent);
    r.proc.write("quit\n");
    QVERIFY(r.proc.waitForFinished(5000));
}

void TestZeph4Sim::programDumpAndDischarge()
{
    Running r;
    QVERIFY(Start(r, QStringList{"--scenario", "idle", "--speed", "3000", "--counts", "30"}));
    r.proc.write("discharge\n");
    QTRY_VERIFY_WITH_TIMEOUT(r.text.contains("Discharge end\r\n"), 20000);
    const int progress = r.text.count("\r\nT=");
    QVERIFY2(progress >= 20, qPrintable(QString::number(progress)));
    r.proc.write("dump\n");
    QTRY_VERIFY_WITH_TIMEOUT(r.text.endsWith("\r\n") && r.text.contains("Bat-V Bat1 Bat2 Bat3 Bat4\r\n")
            && LastLine(r.text).startsWith("1.00V"),
        5000);
    r.proc.write("quit\n");
    QVERIFY(r.proc.waitForFinished(5000));
}

namespace {
// The tables in the text, each from its header to its last row.
QStringList Tables(const QByteArray &bytes)
{
    const QString text = QString::fromLatin1(bytes);
    QStringList out;
    const QString header = QStringLiteral("Bat-V Bat1 Bat2 Bat3 Bat4\r\n");
    for (int at = text.indexOf(header); at >= 0; at = text.indexOf(header, at + 1)) {
        QString t = header;
        for (const QString &line : text.mid(at + header.size()).split(QStringLiteral("\r\n"))) {
            // ("Bat-V " has the row mark too.)
            if (line.size() < 6 || line.mid(4, 2) != QLatin1String("V ") || line.startsWith(QLatin1String("Bat-V")))
                break;
            t += line + QStringLiteral("\r\n");
        }
        out << t;
    }
    return out;
}

} // namespace

// A seeded simulator's tables: the first cycle dumped twice, then the second
// cycle's; empty when the simulator did not answer in time.
QStringList TestZeph4Sim::CycleTables(Running &r, const QString &seed)
{
    if (!Start(r, QStringList{"--scenario", "idle", "--speed", "3000", "--counts", "30", "--seed", seed}))
        return {};
    for (int cycle = 0; cycle < 2; ++cycle) {
        r.proc.write("discharge\n");
        const int ends = cycle + 1;
        if (!QTest::qWaitFor([&] { return r.text.count("Discharge end\r\n") == ends; }, 20000))
            return {};
        for (int dump = 0; dump < (cycle == 0 ? 2 : 1); ++dump) {
            const int before = int(Tables(r.text).size());
            r.proc.write("dump\n");
            if (!QTest::qWaitFor(
                    [&] { return Tables(r.text).size() == before + 1 && LastLine(r.text).startsWith("1.00V"); }, 5000))
                return {};
        }
    }
    r.proc.write("quit\n");
    r.proc.waitForFinished(5000);
    return Tables(r.text);
}

void TestZeph4Sim::programCyclesVary()
{
    Running a, b;
    const QStringList first = CycleTables(a, "77");
    QCOMPARE(first.size(), 3);
    QCOMPARE(first.at(1), first.at(0)); // a second dump repeats the cycle's table
    QVERIFY(first.at(2) != first.at(0)); // the next cycle discharged another set
    // The same seed discharges the same sets again.
    QCOMPARE(CycleTables(b, "77"), first);
}

// With --wait-for-open a program that opens the line late still receives the
// discharge from its first line on; nothing is sent into a line nobody set up.
void TestZeph4Sim::dischargeWaitsForTheLine()
{
    Running r;
    QVERIFY(
        Start(r, QStringList{"--scenario", "discharge", "--wait-for-open", "--speed", "3000", "--counts", "30"}, 1500));
    QTRY_VERIFY_WITH_TIMEOUT(r.text.contains("T=   1m"), 10000);
    const qsizetype start = r.text.indexOf("Discharge start");
    QVERIFY2(start >= 0 && start < r.text.indexOf("T=   0m"), r.text.left(200).constData());
    r.proc.write("quit\n");
    QVERIFY(r.proc.waitForFinished(5000));
}

SERIAL_TEST_MAIN(TestZeph4Sim)
#include "tst_zeph4sim.moc"
