// What a pseudo-terminal cannot show: modem lines, line errors, breaks and
// half-duplex RTS, through a fake line; and a device that disappears while
// open (the far end of the pseudo-terminal closed), reported once through
// the application's error display.
#include "serial/Commx.h"
#include "tests/support/PtyHelpers.h"

#include <QThread>
#include <QtTest>
#include <thread>

namespace {
void Attach(TCustomCommX &comm, const Pty &pty, FakeLineState &state)
{
    const QString name = pty.name;
    comm.setChannelResolver([name](qint32 ch) { return ch == 1 ? name : QString(); });
    comm.setLineFactory([&state](int) { return std::unique_ptr<ICommLine>(new FakeLine(state)); });
}

RecordingApp *App()
{
    return static_cast<RecordingApp *>(qApp);
}

int Count(const std::vector<QByteArray> &log, const QByteArray &what)
{
    return static_cast<int>(std::count(log.begin(), log.end(), what));
}
} // namespace

class TestCommxLine : public QObject
{
    Q_OBJECT
private slots:
    void init() { App()->takeErrors(); }

    void lineEventsComeBeforeData_data();
    void lineEventsComeBeforeData();
    void modemStatus_data();
    void modemStatus();
    void linesAtOpenAndClose_data();
    void linesAtOpenAndClose();
    void halfDuplexSwitchesRtsPerBatch_data();
    void halfDuplexSwitchesRtsPerBatch();
    void dtrDsrHoldsOutputWhileDsrLow();
    void rs485LeftOnIsCleared_data();
    void rs485LeftOnIsCleared();
    void sendBreak_data();
    void sendBreak();
    void lostDevice_data();
    void lostDevice();
};

void TestCommxLine::lineEventsComeBeforeData_data()
{
    QTest::addColumn<quint32>("frame");
    QTest::addColumn<quint32>("parity");
    QTest::addColumn<quint32>("overrun");
    QTest::addColumn<quint32>("brk");
    QTest::addColumn<quint32>("bufOverrun");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("framing error") << 1u << 0u << 0u << 0u << 0u << QStringList{"error 8", "data 1"};
    QTest::newRow("overrun and parity") << 0u << 3u << 1u << 0u << 0u << QStringList{"error 6", "data 1"};
    QTest::newRow("break") << 0u << 0u << 0u << 1u << 0u << QStringList{"break", "data 1"};
    QTest::newRow("break and framing") << 1u << 0u << 0u << 2u << 0u << QStringList{"error 8", "break", "data 1"};
    QTest::newRow("driver overflow only") << 0u << 0u << 0u << 0u << 4u << QStringList{"data 1"};
    QTest::newRow("clean data") << 0u << 0u << 0u << 0u << 0u << QStringList{"data 1"};
}

void TestCommxLine::lineEventsComeBeforeData()
{
    QFETCH(quint32, frame);
    QFETCH(quint32, parity);
    QFETCH(quint32, overrun);
    QFETCH(quint32, brk);
    QFETCH(quint32, bufOverrun);
    QFETCH(QStringList, events);
    Pty pty;
    FakeLineState state;
    TCommX comm;
    Attach(comm, pty, state);
    QStringList seen;
    comm.OnReceive = [&](TCustomCommX *s, qint32 n) {
        seen << QString("data %1").arg(n);
        for (qint32 i = 0; i < n; ++i)
            s->ReceiveChar();
    };
    comm.OnError = [&](TCustomCommX *, qint32 e) { seen << QString("error %1").arg(e); };
    comm.OnBreak = [&](TCustomCommX *) { seen << "break"; };
    comm.PortOpen();
    {
        std::lock_guard<std::mutex> g(state.lock);
        state.counters.frame += frame;
        state.counters.parity += parity;
        state.counters.overrun += overrun;
        state.counters.brk += brk;
        state.counters.bufOverrun += bufOverrun;
    }
    QVERIFY(pty.writeAll(QByteArray(1, '\0')));
    QTRY_COMPARE(seen.size(), events.size());
    QCOMPARE(seen, events);
    // Each change is reported once: the next byte is plain data.
    QVERIFY(pty.writeAll("z"));
    QTRY_COMPARE(seen.size(), events.size() + 1);
    QCOMPARE(seen.last(), QString("data 1"));
}

void TestCommxLine::modemStatus_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("cts");
    QTest::addColumn<bool>("dsr");
    QTest::addColumn<bool>("ring");
    QTest::addColumn<bool>("rlsd");
    QTest::newRow("none") << 0 << false << false << false << false;
    QTest::newRow("CTS") << int(TIOCM_CTS) << true << false << false << false;
    QTest::newRow("DSR and carrier") << int(TIOCM_DSR | TIOCM_CAR) << false << true << false << true;
    QTest::newRow("ring") << int(TIOCM_RNG) << false << false << true << false;
}

void TestCommxLine::modemStatus()
{
    QFETCH(int, bits);
    QFETCH(bool, cts);
    QFETCH(bool, dsr);
    QFETCH(bool, ring);
    QFETCH(bool, rlsd);
    Pty pty;
    FakeLineState state;
    TCommX comm;
    Attach(comm, pty, state);
    state.modemBits = bits;
    QVERIFY(!comm.IsSignal(0xF0)); // closed: false whatever the line says
    comm.PortOpen();
    QCOMPARE(comm.IsCtsSignal(), cts);
    QCOMPARE(comm.IsDsrSignal(), dsr);
    QCOMPARE(comm.IsRingSignal(), ring);
    QCOMPARE(comm.IsRlsdSignal(), rlsd);
    QCOMPARE(comm.IsSignal(0xF0), bits != 0);
}

void TestCommxLine::linesAtOpenAndClose_data()
{
    QTest::addColumn<int>("flow");
    QTest::addColumn<QByteArray>("dtrAtOpen");
    QTest::addColumn<QByteArray>("rtsAtOpen");
    QTest::newRow("RTS/CTS: raised, then the driver's") << int(cfcRtsCts) << QByteArray("DTR+") << QByteArray("RTS+");
    QTest::newRow("DTR/DSR") << int(cfcDtrDsr) << QByteArray("DTR+") << QByteArray("RTS+");
    QTest::newRow("half high: RTS idles low") << int(cfcHalfHigh) << QByteArray("DTR+") << QByteArray("RTS-");
    QTest::newRow("half low: RTS idles high") << int(cfcHalfLow) << QByteArray("DTR+") << QByteArray("RTS+");
    QTest::newRow("none") << int(cfcNone) << QByteArray("DTR+") << QByteArray("RTS+");
}

void TestCommxLine::linesAtOpenAndClose()
{
    QFETCH(int, flow);
    QFETCH(QByteArray, dtrAtOpen);
    QFETCH(QByteArray, rtsAtOpen);
    Pty pty;
    FakeLineState state;
    TCommX comm;
    Attach(comm, pty, state);
    comm.setFlowCtrl(static_cast<TCommFlowCtrls>(flow));
    comm.PortOpen();
    auto log = state.takeLog();
    QVERIFY(!log.empty());
    std::vector<QByteArray> dtr, rts;
    for (const auto &e : log)
        (e.startsWith("DTR") ? dtr : rts).push_back(e);
    QCOMPARE(dtr.back(), dtrAtOpen);
    QVERIFY(!rts.empty());
    QCOMPARE(rts.back(), rtsAtOpen);
    comm.SetRtsSignal(true);
    comm.SetDtrSignal(false);
    QCOMPARE(state.takeLog(), (std::vector<QByteArray>{"RTS+", "DTR-"}));
    comm.PortClose();
    log = state.takeLog();
    QVERIFY(log.size() >= 2);
    QCOMPARE(log[0], QByteArray("DTR-"));
    QCOMPARE(log[1], QByteArray("RTS-"));
    comm.SetRtsSignal(true); // closed: nothing reaches the line
    QVERIFY(state.takeLog().empty());
}

void TestCommxLine::halfDuplexSwitchesRtsPerBatch_data()
{
    QTest::addColumn<int>("flow");
    QTest::addColumn<bool>("driver");
    QTest::addColumn<QByteArray>("during");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("half high, toggled") << int(cfcHalfHigh) << false << QByteArray("RTS+") << QByteArray("RTS-");
    QTest::newRow("half low, toggled") << int(cfcHalfLow) << false << QByteArray("RTS-") << QByteArray("RTS+");
    QTest::newRow("half high, driver RS-485") << int(cfcHalfHigh) << true << QByteArray() << QByteArray();
    QTest::newRow("half low, driver RS-485") << int(cfcHalfLow) << true << QByteArray() << QByteArray();
}

void TestCommxLine::halfDuplexSwitchesRtsPerBatch()
{
    QFETCH(int, flow);
    QFETCH(bool, driver);
    QFETCH(QByteArray, during);
    QFETCH(QByteArray, after);
    Pty pty;
    FakeLineState state;
    state.rs485Available = driver;
    TCommX comm;
    Attach(comm, pty, state);
    comm.setFlowCtrl(static_cast<TCommFlowCtrls>(flow));
    comm.PortOpen();
    const auto openLog = state.takeLog();
    QCOMPARE(Count(openLog, "485+H"), driver && flow == cfcHalfHigh ? 1 : 0);
    QCOMPARE(Count(openLog, "485+L"), driver && flow == cfcHalfLow ? 1 : 0);
    // Three blocks queued at once go out as one batch.
    const QByteArray data(5000, 'h');
    QVERIFY(comm.TransString(data));
    QCOMPARE(pty.readCount(data.size()).size(), data.size());
    QTRY_COMPARE(comm.GetTransLength(), 0);
    std::vector<QByteArray> log;
    const auto gather = [&] {
        for (QByteArray &entry : state.takeLog())
            log.push_back(std::move(entry));
        return log.size();
    };
    if (driver) {
        QTest::qWait(100); // past the guard time after the batch: nothing is switched by us
        QCOMPARE(gather(), size_t(0));
    } else {
        // The line turns back after the guard time; a busy machine may be late.
        QTRY_VERIFY(gather() >= 2);
        QCOMPARE(log, (std::vector<QByteArray>{during, after}));
    }
}

void TestCommxLine::dtrDsrHoldsOutputWhileDsrLow()
{
    Pty pty;
    FakeLineState state;
    TCommX comm;
    Attach(comm, pty, state);
    comm.setFlowCtrl(cfcDtrDsr);
    comm.PortOpen();
    QVERIFY(comm.TransString("wait"));
    QCOMPARE(pty.readFor(150), QByteArray());
    {
        std::lock_guard<std::mutex> g(state.lock);
        state.modemBits |= TIOCM_DSR;
    }
    QCOMPARE(pty.readCount(4), QByteArray("wait"));
}

void TestCommxLine::rs485LeftOnIsCleared_data()
{
    QTest::addColumn<int>("flow");
    QTest::addColumn<QByteArray>("atOpen");
    QTest::newRow("RTS/CTS") << int(cfcRtsCts) << QByteArray("485-");
    QTest::newRow("none") << int(cfcNone) << QByteArray("485-");
    QTest::newRow("half high") << int(cfcHalfHigh) << QByteArray("485+H");
}

void TestCommxLine::rs485LeftOnIsCleared()
{
    QFETCH(int, flow);
    QFETCH(QByteArray, atOpen);
    Pty pty;
    FakeLineState state;
    state.rs485Available = true; // another program may have left it on
    TCommX comm;
    Attach(comm, pty, state);
    comm.setFlowCtrl(static_cast<TCommFlowCtrls>(flow));
    comm.PortOpen();
    const auto log = state.takeLog();
    QCOMPARE(Count(log, "485-") + Count(log, "485+H") + Count(log, "485+L"), 1);
    QCOMPARE(Count(log, atOpen), 1);
}

void TestCommxLine::sendBreak_data()
{
    QTest::addColumn<QString>("output");
    QTest::newRow("nothing pending") << "idle";
    QTest::newRow("pending output drains first") << "drains";
    QTest::newRow("stalled output is given up") << "stalled";
}

void TestCommxLine::sendBreak()
{
    QFETCH(QString, output);
    Pty pty;
    FakeLineState state;
    TCommX comm;
    Attach(comm, pty, state);
    comm.SendBreak(); // closed: nothing
    QVERIFY(state.takeLog().empty());
    comm.setTimeOutTrans(200);
    comm.PortOpen();
    state.takeLog();
    if (output != "idle") {
        std::lock_guard<std::mutex> g(state.lock);
        state.outputPending = 100;
    }
    std::thread drain;
    if (output == "drains") {
        drain = std::thread([&state] {
            QThread::msleep(50);
            std::lock_guard<std::mutex> g(state.lock);
            state.outputPending = 0;
            state.note("drained");
        });
    }
    QElapsedTimer t;
    t.start();
    comm.SendBreak();
    const qint64 took = t.elapsed();
    if (drain.joinable())
        drain.join();
    if (output == "drains")
        QCOMPARE(state.takeLog(), (std::vector<QByteArray>{"drained", "BRK+", "BRK-"}));
    else
        QCOMPARE(state.takeLog(), (std::vector<QByteArray>{"BRK+", "BRK-"}));
    if (output == "stalled")
        QVERIFY2(took >= 200 + 300 && took < 10000, QByteArray::number(took).constData());
}

void TestCommxLine::lostDevice_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("idle") << "idle";
    QTest::newRow("in the middle of received data") << "receiving";
    QTest::newRow("while transmitting") << "transmitting";
    QTest::newRow("while a handler runs") << "handler";
}

void TestCommxLine::lostDevice()
{
    QFETCH(QString, when);
    auto pty = std::make_unique<Pty>();
    FakeLineState state;
    TCommX comm;
    Attach(comm, *pty, state);
    qint64 received = 0;
    comm.OnReceive = [&](TCustomCommX *s, qint32 n) {
        if (when == "handler")
            QThread::msleep(100);
        for (qint32 i = 0; i < n; ++i)
            if (s->ReceiveChar() >= 0)
                ++received;
    };
    comm.PortOpen();
    std::thread farSide;
    if (when == "receiving") {
        farSide = std::thread([&] {
            const QByteArray chunk(4096, 'r');
            for (int i = 0; i < 50; ++i)
                pty->writeAll(chunk);
            pty->closeMaster();
        });
    } else if (when == "transmitting") {
        ::tcflow(pty->slave, TCOOFF); // the queue cannot drain before the unplug
        QVERIFY(comm.TransString(QByteArray(60000, 't')));
        pty->closeMaster();
    } else if (when == "handler") {
        QVERIFY(pty->writeAll("x"));
        QTest::qWait(20);
        pty->closeMaster();
    } else {
        pty->closeMaster();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!comm.IsOpen(), 20000);
    if (farSide.joinable())
        farSide.join();
    QTest::qWait(100);
    const QStringList errors = App()->takeErrors();
    QCOMPARE(errors, QStringList{QString::fromUtf8(commmsg::PortLost)});
    QCOMPARE(comm.Handle(), 0xFFFFFFFFu);
    QVERIFY(!comm.TransString("x"));
    QCOMPARE(comm.GetTransLength(), 0);
    // The user reopens on a working device.
    Pty fresh;
    const QString name = fresh.name;
    comm.setChannelResolver([name](qint32) { return name; });
    comm.PortOpen();
    QVERIFY(comm.TransString("back"));
    QCOMPARE(fresh.readCount(4), QByteArray("back"));
    comm.PortClose();
    QVERIFY(App()->takeErrors().isEmpty());
}

SERIAL_TEST_MAIN(TestCommxLine)
#include "tst_commx_line.moc"
