// The simulated discharger built for Windows, playing on COM2 of the pair scripts/windows maps, heard on COM1 by
// the port component as VOLTRAK hears a real discharger: its table byte for byte, its setting mode answered from
// this side, its refusal without a port.
#include "serial/Commx.h"
#include "tools/zeph4-sim/Zeph4Model.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QtTest>

#include <memory>

#include <windows.h>

namespace {

QString Simulator()
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../zeph4-sim.exe"));
}

// COM1 opened by the component, gathering what arrives; the simulator started on COM2.
struct Running {
    TCommX comm;
    QByteArray text;
    QProcess proc;

    bool start(const QStringList &args)
    {
        comm.setPortNo(1);
        comm.setFlowCtrl(cfcNone);
        comm.OnReceive = [this](TCustomCommX *sender, qint32 size) {
            QByteArray chunk(size, '\0');
            const qint32 n = sender->ReceiveBlock(chunk.data(), size);
            if (n > 0)
                text.append(chunk.left(n));
        };
        comm.PortOpen();
        if (!comm.IsOpen())
            return false;
        proc.start(Simulator(), QStringList{"--port", "COM2"} + args);
        // Its first line names the port it plays on, once it has it open.
        return proc.waitForStarted(10000) && proc.waitForReadyRead(20000) && proc.readLine().trimmed() == "COM2";
    }
    ~Running()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.write("quit\n");
            if (!proc.waitForFinished(5000))
                proc.kill();
        }
        comm.PortClose();
    }
};

QByteArray LastLine(const QByteArray &text)
{
    const QByteArray t = text.endsWith("\r\n") ? text.chopped(2) : text;
    return t.mid(t.lastIndexOf('\n') + 1);
}

} // namespace

class TestSimWin : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!QFileInfo::exists(Simulator()))
            QSKIP("zeph4-sim.exe is not beside the tests");
        const HANDLE probe
            = CreateFileW(L"\\\\.\\COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE)
            QSKIP("no COM2: run through scripts/windows --test, which maps COM1 and COM2 to a pty pair");
        CloseHandle(probe);
    }

    // "dump" on its input: the table the model makes, whole.
    void dumpArrives()
    {
        Running r;
        QVERIFY2(r.start({"--scenario", "idle"}), qPrintable(r.proc.readAllStandardError()));
        r.proc.write("dump\n");
        const QByteArray table = QByteArray::fromStdString(
            zeph4::TableDump(zeph4::CellLengths(zeph4::DefaultCounts("idle")), zeph4::Settings().value[0], 5));
        QTRY_COMPARE_WITH_TIMEOUT(r.text.size(), table.size(), 20000);
        QCOMPARE(r.text, table);
    }

    // Setting mode: each prompt answered on COM1 is echoed and reported on the simulator's output.
    void settingAnswered()
    {
        Running r;
        QVERIFY2(r.start({"--scenario", "idle", "--leave-after", "2"}), qPrintable(r.proc.readAllStandardError()));
        r.proc.write("setting\n");
        QTRY_COMPARE_WITH_TIMEOUT(LastLine(r.text), QByteArray("Vstop:"), 10000);
        QVERIFY(r.comm.TransString("105\r"));
        QTRY_COMPARE_WITH_TIMEOUT(LastLine(r.text), QByteArray(" Vref:"), 10000);
        QVERIFY(r.comm.TransString("240\r"));
        QTRY_VERIFY_WITH_TIMEOUT(r.proc.canReadLine() && r.proc.peek(4096).contains("values"), 10000);
        const QList<QByteArray> lines = r.proc.readAll().trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(0).trimmed(), QByteArray("answer Vstop=105"));
        QCOMPARE(lines.at(1).trimmed(), QByteArray("answer Vref=240"));
        QCOMPARE(lines.at(2).trimmed(), QByteArray("values Vstop=105 Vref=240 TXcyc=-1 Beep=-1 Tstop=-1 Tsel=-1"));
    }

    // Without a port, or with one that is not there, it says so and stops.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("no port") << QStringList{"--scenario", "idle"}
                                 << QByteArray("zeph4-sim: --port COMn names the COM port to play on");
        QTest::newRow("no such port") << QStringList{"--port", "COM77", "--scenario", "idle"}
                                      << QByteArray("zeph4-sim: cannot open COM77");
    }
    void refusals()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, message);
        QProcess p;
        p.start(Simulator(), args);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(p.readAllStandardError().startsWith(message), qPrintable(message));
    }
};

QTEST_GUILESS_MAIN(TestSimWin)
#include "tst_simwin.moc"
