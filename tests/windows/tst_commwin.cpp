// The Win32 port component on a real COM port: scripts/windows maps COM1 and COM2 to the two ends of one
// pseudo-terminal pair (Wine's dosdevices), so what the component sends on COM1 arrives on COM2 and back. The
// far end is a plain overlapped handle, independent of the component.
#include "serial/Commx.h"
#include "serial/PortMap.h"

#include <QRandomGenerator>
#include <QtTest>

#include <windows.h>

namespace {

QByteArray Pattern(qsizetype size, quint32 seed)
{
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator g(seed);
    for (qsizetype i = 0; i < size; ++i)
        b[i] = static_cast<char>(i < 256 ? i : g.bounded(256)); // every byte value first
    return b;
}

// The other end of the line, raw Win32: 9600 8N1 without flow control, reads that return at once.
// The variable is "peer": <windows.h> defines "far" and "near" away.
class FarEnd
{
public:
    explicit FarEnd(const wchar_t *name)
    {
        m_h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (m_h == INVALID_HANDLE_VALUE)
            return;
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        GetCommState(m_h, &dcb);
        dcb.BaudRate = 9600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        SetCommState(m_h, &dcb);
        COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 2000};
        SetCommTimeouts(m_h, &t);
        PurgeComm(m_h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    ~FarEnd()
    {
        if (ok())
            CloseHandle(m_h);
    }
    bool ok() const { return m_h != INVALID_HANDLE_VALUE; }
    bool write(const QByteArray &b)
    {
        DWORD n = 0;
        return WriteFile(m_h, b.constData(), DWORD(b.size()), &n, nullptr) && n == DWORD(b.size());
    }
    QByteArray readSome()
    {
        char buf[4096];
        DWORD n = 0;
        if (!ReadFile(m_h, buf, sizeof buf, &n, nullptr))
            return {};
        return QByteArray(buf, int(n));
    }

private:
    HANDLE m_h = INVALID_HANDLE_VALUE;
};

} // namespace

class TestCommWin : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        FarEnd probe(L"\\\\.\\COM2");
        if (!probe.ok())
            QSKIP("no COM2: run through scripts/windows --test, which maps COM1 and COM2 to a pty pair");
    }

    void channelIsComPort_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("path");
        QTest::newRow("COM1") << 1 << QStringLiteral("\\\\.\\COM1");
        QTest::newRow("COM12, above the old DOS names") << 12 << QStringLiteral("\\\\.\\COM12");
        QTest::newRow("no channel 0") << 0 << QString();
    }
    void channelIsComPort()
    {
        QFETCH(int, channel);
        QFETCH(QString, path);
        QCOMPARE(ResolveChannel(channel), path);
    }

    // The channel dialog's list: both ends of the pair are COM ports the system knows.
    void presentPorts()
    {
        const QStringList ports = PresentComPorts();
        QVERIFY2(ports.contains(QStringLiteral("COM1")) && ports.contains(QStringLiteral("COM2")),
            qPrintable(ports.join(QLatin1Char(' '))));
        QCOMPARE(ports, OrderComNames(ports)); // in number order, each once
    }

    // Bytes sent from the far end arrive through the receive thread's event, whole and in order.
    void receives_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("a table row") << QByteArray("4.20 4.19 4.21 4.18\r\n");
        QTest::newRow("every byte value") << Pattern(256, 1);
        QTest::newRow("more than a read chunk") << Pattern(6000, 2);
    }
    void receives()
    {
        QFETCH(QByteArray, bytes);
        FarEnd peer(L"\\\\.\\COM2");
        QVERIFY(peer.ok());
        TCommX comm;
        comm.setPortNo(1);
        comm.setFlowCtrl(cfcNone);
        QByteArray got;
        int events = 0;
        comm.OnReceive = [&](TCustomCommX *sender, qint32 size) {
            ++events;
            QByteArray chunk(size, '\0');
            const qint32 n = sender->ReceiveBlock(chunk.data(), size);
            if (n > 0)
                got.append(chunk.left(n));
        };
        comm.PortOpen();
        QVERIFY(comm.IsOpen());
        QCOMPARE(comm.DevicePath(), QStringLiteral("\\\\.\\COM1"));
        QVERIFY(peer.write(bytes));
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), bytes.size(), 20000);
        QCOMPARE(got, bytes);
        QVERIFY(events >= 1);
        comm.PortClose();
        QVERIFY(!comm.IsOpen());
    }

    // What the component queues reaches the peer end whole, in order, also when it spans several blocks.
    void transmits_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("blockSize");
        QTest::newRow("one answer") << QByteArray("100\r") << 2048;
        QTest::newRow("every byte value") << Pattern(256, 3) << 2048;
        QTest::newRow("many small blocks") << Pattern(3000, 4) << 64;
    }
    void transmits()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, blockSize);
        FarEnd peer(L"\\\\.\\COM2");
        QVERIFY(peer.ok());
        TCommX comm;
        comm.setPortNo(1);
        comm.setFlowCtrl(cfcNone);
        comm.setBufLenTrans(blockSize);
        comm.PortOpen();
        QVERIFY(comm.TransString(bytes));
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += peer.readSome()).size() >= bytes.size(), 20000);
        QCOMPARE(got, bytes);
        QTRY_COMPARE(comm.GetTransLength(), 0);
    }

    void refusals_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<bool>("openFirst");
        QTest::addColumn<QString>("message");
        QTest::newRow("a port that is not there") << 9 << false << QString::fromUtf8(commmsg::CannotOpen);
        QTest::newRow("opened twice") << 1 << true << QString::fromUtf8(commmsg::AlreadyOpen);
    }
    void refusals()
    {
        QFETCH(int, channel);
        QFETCH(bool, openFirst);
        QFETCH(QString, message);
        TCommX comm;
        comm.setPortNo(channel);
        if (openFirst)
            comm.PortOpen();
        try {
            comm.PortOpen();
            QFAIL("opened");
        } catch (const ECommError &e) {
            QCOMPARE(e.Message(), message);
        }
        QCOMPARE(comm.IsOpen(), openFirst);
    }

    // The port cannot be had twice: a second component (another copy of the program) is refused while the
    // first holds it, and gets it once the first lets go.
    void exclusive()
    {
        // Wine opens a serial port as often as asked (checked with a plain CreateFileW under Wine 8.0).
        if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
            QSKIP("Wine does not refuse a second open of a COM port; Windows does");
        TCommX first;
        first.setPortNo(1);
        first.PortOpen();
        TCommX second;
        second.setPortNo(1);
        QVERIFY_THROWS_EXCEPTION(ECommError, second.PortOpen());
        first.PortClose();
        second.PortOpen();
        QVERIFY(second.IsOpen());
    }
};

QTEST_MAIN(TestCommWin)
#include "tst_commwin.moc"
