// The port component against a pseudo-terminal: data both ways, queueing,
// time-outs, purges, opening and closing in every order.
#include "serial/CommTermios.h"
#include "serial/Commx.h"
#include "tests/support/FilePermissions.h"
#include "tests/support/PtyHelpers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <sys/file.h>
#include <sys/mman.h>
#include <thread>

namespace {

QByteArray Pattern(qsizetype size, quint32 seed)
{
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator g(seed);
    for (qsizetype i = 0; i < size; ++i)
        b[i] = static_cast<char>(i < 256 ? i : g.bounded(256)); // every byte value first
    return b;
}

// Opens comm on the given pseudo-terminal as channel 1.
void Attach(TCustomCommX &comm, const Pty &pty)
{
    const QString name = pty.name;
    comm.setChannelResolver([name](qint32 ch) { return ch == 1 ? name : QString(); });
}

// Records the sizes of the transmit blocks the component makes.
class BlockRecorder : public TCommX
{
public:
    QList<qint32> sizes;
    int failAt = -1; // this allocation (0-based) fails
protected:
    char *NewBlock(qint32 size) override
    {
        const int index = static_cast<int>(sizes.size());
        sizes << size;
        if (index == failAt)
            return nullptr;
        return TCommX::NewBlock(size);
    }
};

int CountOpenDescriptors()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

// Threads are compared by id, not counted: a thread joined just before the
// first look may still be listed then (the kernel drops its entry a moment
// after the join returns) and gone later, which must not fail the test.
QStringList ThreadIds()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
}

QStringList NewThreads(const QStringList &before)
{
    QStringList added;
    for (const QString &id : ThreadIds())
        if (!before.contains(id))
            added << id;
    return added;
}

QString Msg(const char *m)
{
    return QString::fromUtf8(m);
}

} // namespace

class TestCommxPty : public QObject
{
    Q_OBJECT
private slots:
    void init() { static_cast<RecordingApp *>(qApp)->takeErrors(); }

    void receiveReachesHandlerInOrder_data();
    void receiveReachesHandlerInOrder();
    void unreadBytesDoNotRepeatNotifications();
    void transmitSplitsIntoBlocks_data();
    void transmitSplitsIntoBlocks();
    void failedBlockAllocationIsReported();
    void emptyTransmissions();
    void oversizedTransmissionsAreRefused();
    void leftoverLineStates_data();
    void leftoverLineStates();
    void deviceWithoutPermission();
    void writeTimeOutGivesUpStalledBlocks();
    void clearTransBufDuringLongTransmission();
    void openFailures_data();
    void openFailures();
    void openErrorText_data();
    void openErrorText();
    void secondPortOpenKeepsPortOpen();
    void closeTwiceAndUnopened();
    void portNoWhileOpenMovesTheLink();
    void notificationAfterPortCloseDoesNothing();
    void notificationFindingNothingWaitingDoesNothing();
    void closeFromInsideHandler();
    void settingsReachTheLine_data();
    void settingsReachTheLine();
    void refusedSettings_data();
    void refusedSettings();
    void xonXoffStopsOutput();
    void receiveBlockWaitsForCount();
    void openCloseCyclesLeaveNothingBehind();
};

void TestCommxPty::receiveReachesHandlerInOrder_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<bool>("busyUi");
    QTest::newRow("all byte values once") << 256 << 256 << false;
    QTest::newRow("1 MB in large writes") << (1 << 20) << 65536 << false;
    QTest::newRow("200 KB in single bytes") << 200000 << 1 << false;
    QTest::newRow("1 MB with a busy UI thread") << (1 << 20) << 4096 << true;
}

void TestCommxPty::receiveReachesHandlerInOrder()
{
    QFETCH(int, size);
    QFETCH(int, chunk);
    QFETCH(bool, busyUi);
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    QByteArray received;
    bool offThread = false;
    int notifications = 0;
    comm.OnReceive = [&](TCustomCommX *sender, qint32 n) {
        if (QThread::currentThread() != qApp->thread() || sender != &comm)
            offThread = true;
        ++notifications;
        for (qint32 i = 0; i < n; ++i) {
            const qint32 c = sender->ReceiveChar();
            if (c < 0) {
                offThread = true; // a reported byte that cannot be read
                break;
            }
            received.append(static_cast<char>(c));
        }
        if (busyUi && notifications % 7 == 0)
            QThread::msleep(3);
    };
    comm.PortOpen();
    QTimer busy;
    if (busyUi) {
        QObject::connect(&busy, &QTimer::timeout, [] { QThread::msleep(5); });
        busy.start(1);
    }
    const QByteArray data = Pattern(size, 7);
    std::thread writer([&] {
        for (qsizetype at = 0; at < data.size(); at += chunk)
            pty.writeAll(data.mid(at, chunk));
    });
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), data.size(), 60000);
    writer.join();
    busy.stop();
    QVERIFY(!offThread);
    QVERIFY(received == data);
    // Nothing doubled late.
    QTest::qWait(50);
    QCOMPARE(received.size(), data.size());
    comm.PortClose();
}

void TestCommxPty::unreadBytesDoNotRepeatNotifications()
{
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    QList<qint32> sizes;
    comm.OnReceive = [&](TCustomCommX *, qint32 n) { sizes << n; }; // reads nothing
    comm.PortOpen();
    QVERIFY(pty.writeAll("abc"));
    QTRY_VERIFY(!sizes.isEmpty() && sizes.last() == 3);
    const qsizetype settled = sizes.size(); // 1, unless the pty split the write
    QTest::qWait(200);
    QCOMPARE(sizes.size(), settled);
    // New bytes: one more notification, reporting all that waits.
    QVERIFY(pty.writeAll("d"));
    QTRY_COMPARE(sizes.size(), settled + 1);
    QCOMPARE(sizes.last(), 4);
    QTest::qWait(100);
    QCOMPARE(sizes.size(), settled + 1);
}

void TestCommxPty::transmitSplitsIntoBlocks_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("bufLen");
    QTest::addColumn<QList<qint32>>("blocks");
    QTest::newRow("5000 at 2048") << 5000 << 2048 << QList<qint32>{2048, 2048, 904};
    QTest::newRow("exactly one block") << 2048 << 2048 << QList<qint32>{2048};
    QTest::newRow("one byte") << 1 << 2048 << QList<qint32>{1};
    QTest::newRow("small blocks") << 10 << 4 << QList<qint32>{4, 4, 2};
    QTest::newRow("more than 32 blocks") << 100 << 3 << [] {
        QList<qint32> l;
        for (int i = 0; i < 33; ++i)
            l << 3;
        l << 1;
        return l;
    }();
}

void TestCommxPty::transmitSplitsIntoBlocks()
{
    QFETCH(int, size);
    QFETCH(int, bufLen);
    QFETCH(QList<qint32>, blocks);
    Pty pty;
    BlockRecorder comm;
    Attach(comm, pty);
    comm.setBufLenTrans(bufLen);
    comm.PortOpen();
    const QByteArray data = Pattern(size, 11);
    QVERIFY(comm.TransString(data));
    QVERIFY(comm.GetTransLength() <= size);
    QCOMPARE(comm.sizes, blocks);
    const QByteArray got = pty.readCount(size);
    QCOMPARE(got.size(), data.size());
    QVERIFY(got == data);
    QTRY_COMPARE_WITH_TIMEOUT(comm.GetTransLength(), 0, 10000);
}

void TestCommxPty::failedBlockAllocationIsReported()
{
    Pty pty;
    BlockRecorder comm;
    Attach(comm, pty);
    comm.failAt = 1;
    comm.PortOpen();
    const QByteArray data = Pattern(5000, 3);
    QVERIFY(!comm.TransString(data));
    // The block before the failure still goes out; nothing after it.
    QTRY_COMPARE_WITH_TIMEOUT(comm.GetTransLength(), 0, 10000);
    const QByteArray got = pty.readFor(200);
    QVERIFY(got == data.left(2048));
}

void TestCommxPty::emptyTransmissions()
{
    TCommX comm;
    QVERIFY(comm.TransString(QByteArray())); // even while closed
    QVERIFY(comm.TransBlock("x", 0));
    QVERIFY(!comm.TransChar('x'));
    Pty pty;
    Attach(comm, pty);
    comm.PortOpen();
    QVERIFY(comm.TransChar('\x0d'));
    QCOMPARE(pty.readCount(1), QByteArray("\r"));
}

void TestCommxPty::oversizedTransmissionsAreRefused()
{
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    comm.PortOpen();
    // Address space only: nothing is committed, and nothing may be read.
    const size_t huge = (size_t(1) << 31) + 16;
    void *area = ::mmap(nullptr, huge, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    QVERIFY(area != MAP_FAILED);
    const QByteArray tooLong = QByteArray::fromRawData(static_cast<const char *>(area), qsizetype(huge));
    QVERIFY(!comm.TransString(tooLong));
    QVERIFY(!comm.TransBlock("abc", -1));
    ::munmap(area, huge);
    QCOMPARE(comm.GetTransLength(), 0);
    QCOMPARE(pty.readFor(100), QByteArray());
    QVERIFY(comm.TransString("ok"));
    QCOMPARE(pty.readCount(2), QByteArray("ok"));
}

void TestCommxPty::leftoverLineStates_data()
{
    QTest::addColumn<QString>("left"); // as another program left the port
    QTest::newRow("start and stop undefined") << "undef";
    QTest::newRow("start and stop both ^S") << "same";
    QTest::newRow("5 data bits, 2 stop bits, parity") << "cs5";
    QTest::newRow("cooked, echoing, XON/XOFF") << "cooked";
}

void TestCommxPty::leftoverLineStates()
{
    QFETCH(QString, left);
    Pty pty;
    termios t{};
    QCOMPARE(::tcgetattr(pty.slave, &t), 0);
    t.c_cc[VSTART] = left == "undef" ? _POSIX_VDISABLE : left == "same" ? 0x13 : t.c_cc[VSTART];
    t.c_cc[VSTOP] = left == "undef" ? _POSIX_VDISABLE : left == "same" ? 0x13 : t.c_cc[VSTOP];
    if (left == "cs5")
        t.c_cflag = (t.c_cflag & ~tcflag_t(CSIZE)) | CS5 | CSTOPB | PARENB | PARODD;
    if (left == "cooked") {
        t.c_iflag |= ICRNL | IXON | IXOFF | IXANY;
        t.c_oflag |= OPOST | ONLCR;
        t.c_lflag |= ICANON | ECHO | ISIG;
    }
    QCOMPARE(::tcsetattr(pty.slave, TCSANOW, &t), 0);
    TCommX comm;
    Attach(comm, pty);
    comm.PortOpen();
    // Exactly what the properties say, nothing left over.
    const termios want = BuildTermios(OpenBaseDcb(cfcRtsCts, 2048, 17, 19)).tio;
    QCOMPARE(::tcgetattr(pty.slave, &t), 0);
    QCOMPARE(t.c_iflag, want.c_iflag);
    QCOMPARE(t.c_oflag, want.c_oflag);
    QCOMPARE(t.c_lflag, want.c_lflag);
    QCOMPARE(t.c_cflag, want.c_cflag);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(t.c_cc), NCCS),
        QByteArray(reinterpret_cast<const char *>(want.c_cc), NCCS));
}

void TestCommxPty::deviceWithoutPermission()
{
    Pty pty;
    QVERIFY(QFile::setPermissions(pty.name, QFileDevice::ReadOwner));
    TCommX comm;
    Attach(comm, pty);
    {
        WithoutPermissionOverride asUser;
        try {
            comm.PortOpen();
            QFAIL("PortOpen must fail");
        } catch (const ECommError &e) {
            QCOMPARE(e.Message(), OpenErrorText(EACCES));
        }
    }
    QVERIFY(!comm.IsOpen());
}

void TestCommxPty::writeTimeOutGivesUpStalledBlocks()
{
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    comm.setTimeOutTrans(150);
    comm.PortOpen();
    QCOMPARE(::tcflow(pty.slave, TCOOFF), 0);
    const QByteArray data = Pattern(64 * 1024, 5);
    QElapsedTimer t;
    t.start();
    QVERIFY(comm.TransString(data));
    QTRY_COMPARE_WITH_TIMEOUT(comm.GetTransLength(), 0, 60000);
    QVERIFY(t.elapsed() >= 150);
    ::tcflow(pty.slave, TCOON);
    const QByteArray got = pty.readFor(300);
    QVERIFY2(got.size() < data.size(), "a stalled line cannot have taken everything");
    // What did go out went out in order: whole blocks and block prefixes.
    qsizetype at = 0;
    for (qsizetype b = 0; b < data.size() && at < got.size(); b += 2048) {
        const QByteArray block = data.mid(b, 2048);
        const QByteArray part = got.mid(at, block.size());
        if (block.startsWith(part) && part.size() > 0)
            at += part.size();
    }
    QCOMPARE(at, got.size());
}

void TestCommxPty::clearTransBufDuringLongTransmission()
{
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    comm.PortOpen();
    ::tcflow(pty.slave, TCOOFF);
    const QByteArray data = Pattern(60 * 1024, 9);
    QVERIFY(comm.TransString(data));
    QVERIFY(comm.GetTransLength() > 0);
    comm.ClearTransBuf();
    QCOMPARE(comm.GetTransLength(), 0);
    ::tcflow(pty.slave, TCOON);
    const QByteArray got = pty.readFor(300);
    QVERIFY(got.size() < data.size());
    // The queue works again afterwards.
    QVERIFY(comm.TransString("after"));
    QCOMPARE(pty.readCount(5), QByteArray("after"));
}

void TestCommxPty::openFailures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("no device for the channel") << "none";
    QTest::newRow("missing device node") << "missing";
    QTest::newRow("not a terminal") << "file";
    QTest::newRow("held by another component") << "locked";
    QTest::newRow("channel 0") << "channel0";
}

void TestCommxPty::openFailures()
{
    QFETCH(QString, kind);
    Pty pty;
    QTemporaryFile file;
    QVERIFY(file.open());
    TCommX other;
    TCommX comm;
    QString path;
    if (kind == "missing")
        path = "/dev/nonexistent-tty-for-test";
    else if (kind == "file")
        path = file.fileName();
    else if (kind == "locked" || kind == "channel0") {
        path = pty.name;
        Attach(other, pty);
        if (kind == "locked")
            other.PortOpen();
    }
    comm.setChannelResolver([path](qint32 ch) { return ch >= 1 ? path : QString(); });
    if (kind == "channel0")
        comm.setPortNo(0);
    try {
        comm.PortOpen();
        QFAIL("PortOpen must fail");
    } catch (const ECommError &e) {
        QCOMPARE(e.Message(), Msg(commmsg::CannotOpen));
    }
    QCOMPARE(comm.Handle(), 0xFFFFFFFFu);
    QVERIFY(!comm.IsOpen());
    QVERIFY(!comm.TransString("abc"));
    QCOMPARE(comm.ReceiveChar(), -1);
    QCOMPARE(comm.GetTransLength(), 0);
    QCOMPARE(comm.GetReceiveLength(), 0);
    QVERIFY(!comm.IsCtsSignal());
    if (kind == "locked") {
        // The holder is unaffected.
        QVERIFY(other.IsOpen());
        QVERIFY(other.TransString("ok"));
        QCOMPARE(pty.readCount(2), QByteArray("ok"));
    }
}

void TestCommxPty::openErrorText_data()
{
    QTest::addColumn<int>("err");
    QTest::addColumn<bool>("hint");
    QTest::newRow("permission denied") << int(EACCES) << true;
    QTest::newRow("not permitted") << int(EPERM) << true;
    QTest::newRow("no such file") << int(ENOENT) << false;
    QTest::newRow("busy") << int(EBUSY) << false;
}

void TestCommxPty::openErrorText()
{
    QFETCH(int, err);
    QFETCH(bool, hint);
    const QString text = OpenErrorText(err);
    QVERIFY(text.startsWith(Msg(commmsg::CannotOpen)));
    QCOMPARE(text.contains(QLatin1String("dialout")), hint);
}

void TestCommxPty::secondPortOpenKeepsPortOpen()
{
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    comm.PortOpen();
    const quint32 handle = comm.Handle();
    try {
        comm.PortOpen();
        QFAIL("second PortOpen must throw");
    } catch (const ECommError &e) {
        QCOMPARE(e.Message(), Msg(commmsg::AlreadyOpen));
    }
    QCOMPARE(comm.Handle(), handle);
    QVERIFY(comm.TransString("still"));
    QCOMPARE(pty.readCount(5), QByteArray("still"));
}

void TestCommxPty::closeTwiceAndUnopened()
{
    TCommX never;
    never.PortClose();
    QCOMPARE(never.Handle(), 0xFFFFFFFFu);
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    comm.PortOpen();
    QVERIFY(comm.Handle() != 0xFFFFFFFFu);
    QCOMPARE(comm.EventMask(), 0xC1u);
    comm.PortClose();
    comm.PortClose();
    QCOMPARE(comm.Handle(), 0xFFFFFFFFu);
    QCOMPARE(comm.EventMask(), 0u);
    QVERIFY(!comm.TransChar('a'));
    // The device is free again.
    TCommX next;
    Attach(next, pty);
    next.PortOpen();
    QVERIFY(next.IsOpen());
}

void TestCommxPty::portNoWhileOpenMovesTheLink()
{
    Pty a, b;
    TCommX comm;
    const QString na = a.name, nb = b.name;
    comm.setChannelResolver([na, nb](qint32 ch) { return ch == 1 ? na : ch == 2 ? nb : QString(); });
    QByteArray received;
    comm.OnReceive = [&](TCustomCommX *s, qint32 n) {
        for (qint32 i = 0; i < n; ++i)
            received.append(static_cast<char>(s->ReceiveChar()));
    };
    comm.setPortNo(2); // closed: only stored
    QVERIFY(!comm.IsOpen());
    comm.setPortNo(1);
    comm.PortOpen();
    QCOMPARE(comm.DevicePath(), na);
    comm.setPortNo(2);
    QVERIFY(comm.IsOpen());
    QCOMPARE(comm.DevicePath(), nb);
    QVERIFY(b.writeAll("from b"));
    QTRY_COMPARE(received, QByteArray("from b"));
    QVERIFY(comm.TransString("to b"));
    QCOMPARE(b.readCount(4), QByteArray("to b"));
    // The old device was released.
    TCommX other;
    Attach(other, a);
    other.PortOpen();
    // A channel without a device: the setter throws and leaves the port closed.
    try {
        comm.setPortNo(3);
        QFAIL("setPortNo to a missing device must throw");
    } catch (const ECommError &e) {
        QCOMPARE(e.Message(), Msg(commmsg::CannotOpen));
    }
    QVERIFY(!comm.IsOpen());
    QCOMPARE(comm.PortNo(), 3);
}

// Waits until n bytes are waiting and the receive thread has had time to post
// its notification, without letting the UI thread handle it.
static void WaitWithoutEvents(TCommX &comm, qint32 n)
{
    QElapsedTimer t;
    t.start();
    while (comm.GetReceiveLength() < n && t.elapsed() < 5000)
        QThread::msleep(1);
    QThread::msleep(50);
}

void TestCommxPty::notificationAfterPortCloseDoesNothing()
{
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    int calls = 0;
    comm.OnReceive = [&](TCustomCommX *, qint32) { ++calls; };
    comm.PortOpen();
    QVERIFY(pty.writeAll("late"));
    // Let the receive thread see the bytes and post its notification, but
    // do not let the UI thread run it before the close.
    WaitWithoutEvents(comm, 4);
    comm.PortClose();
    QCoreApplication::processEvents();
    QTest::qWait(50);
    QCOMPARE(calls, 0);
}

void TestCommxPty::notificationFindingNothingWaitingDoesNothing()
{
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    int calls = 0;
    comm.OnReceive = [&](TCustomCommX *, qint32) { ++calls; };
    comm.PortOpen();
    QVERIFY(pty.writeAll("ab"));
    WaitWithoutEvents(comm, 2);
    // Read before the notification is handled: it then finds nothing.
    char buf[2];
    QCOMPARE(comm.ReceiveBlock(buf, 2), 2);
    QCOMPARE(QByteArray(buf, 2), QByteArray("ab"));
    QTest::qWait(100);
    QCOMPARE(calls, 0);
    QVERIFY(pty.writeAll("c"));
    QTRY_COMPARE(calls, 1);
}

void TestCommxPty::closeFromInsideHandler()
{
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    int calls = 0;
    comm.OnReceive = [&](TCustomCommX *s, qint32) {
        ++calls;
        s->PortClose();
    };
    comm.PortOpen();
    QVERIFY(pty.writeAll("x"));
    QTRY_COMPARE(calls, 1);
    QVERIFY(!comm.IsOpen());
    QVERIFY(pty.writeAll("y"));
    QTest::qWait(50);
    QCOMPARE(calls, 1);
    // And it opens again.
    comm.OnReceive = [&](TCustomCommX *s, qint32 n) {
        calls += n;
        s->ReceiveBlock(nullptr, 0);
    };
    comm.PortOpen();
    QVERIFY(pty.writeAll("zz"));
    QTRY_VERIFY(calls >= 3);
}

void TestCommxPty::settingsReachTheLine_data()
{
    QTest::addColumn<int>("bitRate");
    QTest::addColumn<int>("flow");
    QTest::addColumn<bool>("crtscts");
    QTest::addColumn<bool>("ixon");
    QTest::addColumn<int>("speed");
    QTest::newRow("defaults") << 9600 << int(cfcRtsCts) << true << false << int(B9600);
    QTest::newRow("xon/xoff 19200") << 19200 << int(cfcXonXoff) << false << true << int(B19200);
    QTest::newRow("none 115200") << 115200 << int(cfcNone) << false << false << int(B115200);
    QTest::newRow("half high 300") << 300 << int(cfcHalfHigh) << false << false << int(B300);
}

void TestCommxPty::settingsReachTheLine()
{
    QFETCH(int, bitRate);
    QFETCH(int, flow);
    QFETCH(bool, crtscts);
    QFETCH(bool, ixon);
    QFETCH(int, speed);
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    comm.setBitRate(bitRate);
    comm.setFlowCtrl(static_cast<TCommFlowCtrls>(flow));
    comm.PortOpen();
    termios t{};
    QCOMPARE(::tcgetattr(pty.slave, &t), 0);
    QCOMPARE(bool(t.c_cflag & CRTSCTS), crtscts);
    QCOMPARE(bool(t.c_iflag & IXON), ixon);
    QCOMPARE(int(cfgetospeed(&t)), speed);
    QCOMPARE(t.c_lflag & (ICANON | ECHO), tcflag_t(0));
    QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
    // The same change while open is applied at once.
    comm.setBitRate(4800);
    QCOMPARE(::tcgetattr(pty.slave, &t), 0);
    QCOMPARE(int(cfgetospeed(&t)), int(B4800));
}

void TestCommxPty::refusedSettings_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("message");
    QTest::newRow("bit rate below 10") << "BitRate" << 9 << Msg(commmsg::BitRate);
    QTest::newRow("bit rate 0") << "BitRate" << 0 << Msg(commmsg::BitRate);
    QTest::newRow("9 data bits") << "CharSize" << 9 << Msg(commmsg::CharSize);
    QTest::newRow("4 data bits") << "CharSize" << 4 << Msg(commmsg::CharSize);
    QTest::newRow("1.5 stop bits with 8 data bits") << "StopBit" << int(csb1p5) << Msg(commmsg::StopBit);
    QTest::newRow("XON equal to XOFF") << "XonChar" << 19 << Msg(commmsg::XonChar);
    QTest::newRow("XOFF equal to XON") << "XoffChar" << 17 << Msg(commmsg::XoffChar);
    QTest::newRow("negative time-out") << "TimeOutTrans" << -1 << Msg(commmsg::TimeOut);
    QTest::newRow("empty transmit buffer") << "BufLenTrans" << 0 << Msg(commmsg::Buffer);
    QTest::newRow("empty receive buffer") << "BufLenReceive" << 0 << Msg(commmsg::Buffer);
}

static void SetProperty(TCustomCommX &c, const QString &p, int v)
{
    if (p == "BitRate")
        c.setBitRate(v);
    else if (p == "CharSize")
        c.setCharSize(v);
    else if (p == "StopBit")
        c.setStopBit(static_cast<TCommStopBits>(v));
    else if (p == "XonChar")
        c.setXonChar(static_cast<char>(v));
    else if (p == "XoffChar")
        c.setXoffChar(static_cast<char>(v));
    else if (p == "TimeOutTrans")
        c.setTimeOutTrans(v);
    else if (p == "BufLenTrans")
        c.setBufLenTrans(v);
    else if (p == "BufLenReceive")
        c.setBufLenReceive(v);
    else
        QFAIL("unknown property");
}

void TestCommxPty::refusedSettings()
{
    QFETCH(QString, property);
    QFETCH(int, value);
    QFETCH(QString, message);
    Pty pty;
    {
        // While open: the setter throws, the port stays open.
        TCommX comm;
        Attach(comm, pty);
        comm.PortOpen();
        try {
            SetProperty(comm, property, value);
            QFAIL("the setter must refuse");
        } catch (const ECommError &e) {
            QCOMPARE(e.Message(), message);
        }
        QVERIFY(comm.IsOpen());
    }
    {
        // While closed it is stored; the next PortOpen refuses and stays closed.
        TCommX comm;
        Attach(comm, pty);
        SetProperty(comm, property, value);
        try {
            comm.PortOpen();
            QFAIL("PortOpen must refuse");
        } catch (const ECommError &e) {
            QCOMPARE(e.Message(), message);
        }
        QVERIFY(!comm.IsOpen());
        QCOMPARE(comm.Handle(), 0xFFFFFFFFu);
    }
}

void TestCommxPty::xonXoffStopsOutput()
{
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    comm.setFlowCtrl(cfcXonXoff);
    comm.PortOpen();
    QVERIFY(pty.writeAll(QByteArray(1, '\x13')));
    QTest::qWait(50);
    QVERIFY(comm.TransString("held"));
    QCOMPARE(pty.readFor(150), QByteArray());
    QVERIFY(pty.writeAll(QByteArray(1, '\x11')));
    QCOMPARE(pty.readCount(4), QByteArray("held"));
}

void TestCommxPty::receiveBlockWaitsForCount()
{
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    comm.setTimeOutReceive(5000);
    comm.PortOpen();
    std::thread writer([&] {
        QThread::msleep(50);
        pty.writeAll("abc");
        QThread::msleep(50);
        pty.writeAll("def");
    });
    char buf[6];
    const qint32 n = comm.ReceiveBlock(buf, 6);
    writer.join();
    QCOMPARE(n, 6);
    QCOMPARE(QByteArray(buf, 6), QByteArray("abcdef"));
    // A short read ends at the time-out with what there was.
    comm.setTimeOutReceive(100);
    QVERIFY(pty.writeAll("gh"));
    QTRY_COMPARE(comm.GetReceiveLength(), 2);
    QCOMPARE(comm.ReceiveBlock(buf, 6), 2);
    QCOMPARE(comm.ReceiveChar(), -1);
}

void TestCommxPty::openCloseCyclesLeaveNothingBehind()
{
    Pty pty;
    TCommX comm;
    Attach(comm, pty);
    comm.PortOpen();
    comm.PortClose();
    const int fds = CountOpenDescriptors();
    const QStringList threads = ThreadIds();
    for (int i = 0; i < 100; ++i) {
        comm.PortOpen();
        QVERIFY(comm.TransChar(static_cast<char>('0' + i % 10)));
        comm.PortClose();
    }
    QCOMPARE(CountOpenDescriptors(), fds);
    // A joined thread's entry may linger a moment before the kernel drops it.
    QTRY_COMPARE(NewThreads(threads), QStringList());
}

SERIAL_TEST_MAIN(TestCommxPty)
#include "tst_commx_pty.moc"
