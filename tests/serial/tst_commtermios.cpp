// Line parameters -> termios, flow-control words, and the channel map:
// all pure, checked without a descriptor.
#include "serial/CommLine.h"
#include "serial/CommTermios.h"
#include "serial/PortMap.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/ioctl.h>

Q_DECLARE_METATYPE(TCommCounters)

namespace {
TCommDcb Dcb(quint32 baud, quint8 bits, quint8 parity, quint8 stop, TCommFlowCtrls flow)
{
    TCommDcb d;
    d.BaudRate = baud;
    d.ByteSize = bits;
    d.Parity = parity;
    d.StopBits = stop;
    ApplyFlowCtrl(d, flow, 2048);
    return d;
}
} // namespace

class TestCommTermios : public QObject
{
    Q_OBJECT
private slots:
    void flowWords_data();
    void flowWords();
    void thresholds_data();
    void thresholds();
    void buildTermios_data();
    void buildTermios();
    void refusedBlocks_data();
    void refusedBlocks();
    void rawModeAlways();
    void openBaseDcb_data();
    void openBaseDcb();
    void readBack_data();
    void readBack();
    void halfDelay_data();
    void halfDelay();
    void modemStatus_data();
    void modemStatus();
    void counters_data();
    void counters();
    void channelDevice_data();
    void channelDevice();
    void channelOfKey_data();
    void channelOfKey();
    void orderNames_data();
    void orderNames();
    void orderComNames_data();
    void orderComNames();
    void scanAndOverrides();
};

void TestCommTermios::flowWords_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<uint>("word");
    QTest::newRow("RTS/CTS") << int(cfcRtsCts) << 0x2017u;
    QTest::newRow("DTR/DSR") << int(cfcDtrDsr) << 0x102Bu;
    QTest::newRow("XON/XOFF") << int(cfcXonXoff) << 0x1313u;
    QTest::newRow("half high") << int(cfcHalfHigh) << 0x0013u;
    QTest::newRow("half low") << int(cfcHalfLow) << 0x1013u;
    QTest::newRow("none") << int(cfcNone) << 0x1013u;
}

void TestCommTermios::flowWords()
{
    QFETCH(int, mode);
    QFETCH(uint, word);
    QCOMPARE(FlowCtrlFlags(static_cast<TCommFlowCtrls>(mode)), word);
}

void TestCommTermios::thresholds_data()
{
    QTest::addColumn<int>("bufLen");
    QTest::addColumn<int>("limit");
    QTest::newRow("default") << 2048 << 512;
    QTest::newRow("1000") << 1000 << 250;
    QTest::newRow("truncating") << 1003 << 250;
    QTest::newRow("tiny") << 3 << 0;
}

void TestCommTermios::thresholds()
{
    QFETCH(int, bufLen);
    QFETCH(int, limit);
    TCommDcb d;
    ApplyFlowCtrl(d, cfcXonXoff, bufLen);
    QCOMPARE(int(d.XonLim), limit);
    QCOMPARE(int(d.XoffLim), limit);
}

void TestCommTermios::buildTermios_data()
{
    QTest::addColumn<TCommDcb>("dcb");
    QTest::addColumn<uint>("cflagBits"); // within CSIZE|PARENB|PARODD|CSTOPB|CRTSCTS
    QTest::addColumn<uint>("iflagBits"); // within IXON|IXOFF|IXANY|INPCK
    QTest::addColumn<int>("speed");
    QTest::addColumn<bool>("custom");
    QTest::newRow("8N1 RTS/CTS 9600") << Dcb(9600, 8, 0, 0, cfcRtsCts) << uint(CS8 | CRTSCTS) << 0u << int(B9600)
                                      << false;
    QTest::newRow("7E1 none") << Dcb(4800, 7, 2, 0, cfcNone) << uint(CS7 | PARENB) << uint(INPCK) << int(B4800)
                              << false;
    QTest::newRow("7O2 none") << Dcb(1200, 7, 1, 2, cfcNone) << uint(CS7 | PARENB | PARODD | CSTOPB) << uint(INPCK)
                              << int(B1200) << false;
    QTest::newRow("5 bits 1.5 stop") << Dcb(110, 5, 0, 1, cfcNone) << uint(CS5 | CSTOPB) << 0u << int(B110) << false;
    QTest::newRow("6N1") << Dcb(300, 6, 0, 0, cfcNone) << uint(CS6) << 0u << int(B300) << false;
    QTest::newRow("XON/XOFF both ways") << Dcb(19200, 8, 0, 0, cfcXonXoff) << uint(CS8) << uint(IXON | IXOFF)
                                        << int(B19200) << false;
    QTest::newRow("DTR/DSR: no kernel flow") << Dcb(9600, 8, 0, 0, cfcDtrDsr) << uint(CS8) << 0u << int(B9600) << false;
    QTest::newRow("half high: no CRTSCTS") << Dcb(9600, 8, 0, 0, cfcHalfHigh) << uint(CS8) << 0u << int(B9600) << false;
    QTest::newRow("half low") << Dcb(9600, 8, 0, 0, cfcHalfLow) << uint(CS8) << 0u << int(B9600) << false;
    QTest::newRow("odd rate 12345") << Dcb(12345, 8, 0, 0, cfcNone) << uint(CS8) << 0u << int(B38400) << true;
    QTest::newRow("rate 10 is allowed") << Dcb(10, 8, 0, 0, cfcNone) << uint(CS8) << 0u << int(B38400) << true;
    QTest::newRow("high rate 921600") << Dcb(921600, 8, 0, 0, cfcRtsCts) << uint(CS8 | CRTSCTS) << 0u << int(B921600)
                                      << false;
}

void TestCommTermios::buildTermios()
{
    QFETCH(TCommDcb, dcb);
    QFETCH(uint, cflagBits);
    QFETCH(uint, iflagBits);
    QFETCH(int, speed);
    QFETCH(bool, custom);
    const TermiosPlan plan = BuildTermios(dcb);
    QVERIFY(plan.ok);
    QCOMPARE(uint(plan.tio.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR)), cflagBits);
    QCOMPARE(uint(plan.tio.c_iflag & (IXON | IXOFF | IXANY | INPCK)), iflagBits);
    QCOMPARE(int(cfgetospeed(&plan.tio)), speed);
    QCOMPARE(int(cfgetispeed(&plan.tio)), speed);
    QCOMPARE(plan.customBaud, custom);
    QCOMPARE(plan.baud, dcb.BaudRate);
    QCOMPARE(int(plan.tio.c_cc[VSTART]), int(dcb.XonChar));
    QCOMPARE(int(plan.tio.c_cc[VSTOP]), int(dcb.XoffChar));
}

void TestCommTermios::refusedBlocks_data()
{
    QTest::addColumn<TCommDcb>("dcb");
    QTest::newRow("rate 0") << Dcb(0, 8, 0, 0, cfcNone);
    QTest::newRow("rate 9") << Dcb(9, 8, 0, 0, cfcNone);
    QTest::newRow("4 bits") << Dcb(9600, 4, 0, 0, cfcNone);
    QTest::newRow("9 bits") << Dcb(9600, 9, 0, 0, cfcNone);
    QTest::newRow("parity 3") << Dcb(9600, 8, 3, 0, cfcNone);
    QTest::newRow("1.5 stop with 8 bits") << Dcb(9600, 8, 0, 1, cfcNone);
    QTest::newRow("1.5 stop with 6 bits") << Dcb(9600, 6, 0, 1, cfcNone);
    QTest::newRow("2 stop with 5 bits") << Dcb(9600, 5, 0, 2, cfcNone);
    QTest::newRow("stop 3") << Dcb(9600, 8, 0, 3, cfcNone);
    TCommDcb same = Dcb(9600, 8, 0, 0, cfcXonXoff);
    same.XoffChar = same.XonChar;
    QTest::newRow("XON equals XOFF") << same;
}

void TestCommTermios::refusedBlocks()
{
    QFETCH(TCommDcb, dcb);
    QVERIFY(!BuildTermios(dcb).ok);
}

void TestCommTermios::rawModeAlways()
{
    const TermiosPlan plan = BuildTermios(Dcb(9600, 8, 0, 0, cfcRtsCts));
    QVERIFY(plan.ok);
    const termios &t = plan.tio;
    QCOMPARE(t.c_lflag & (ICANON | ECHO | ECHOE | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(t.c_iflag & (ICRNL | IXANY | BRKINT | IMAXBEL | ISTRIP | INLCR | IGNCR), tcflag_t(0));
    QCOMPARE(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    QCOMPARE(t.c_cflag & HUPCL, tcflag_t(HUPCL)); // as a fresh port has it
    QCOMPARE(t.c_lflag, tcflag_t(0));
    QCOMPARE(t.c_oflag, tcflag_t(0));
    QCOMPARE(int(t.c_cc[VMIN]), 0);
    QCOMPARE(int(t.c_cc[VTIME]), 0);
}

void TestCommTermios::openBaseDcb_data()
{
    QTest::addColumn<int>("xon");
    QTest::addColumn<int>("xoff");
    QTest::addColumn<int>("baseXon");
    QTest::addColumn<int>("baseXoff");
    QTest::newRow("defaults") << 17 << 19 << 17 << 19;
    QTest::newRow("swapped are kept") << 19 << 17 << 19 << 17;
    QTest::newRow("own characters") << int('A') << int('B') << int('A') << int('B');
    QTest::newRow("equal: DC1/DC3 until applied") << 19 << 19 << 17 << 19;
    QTest::newRow("both undefined") << 0 << 0 << 17 << 19;
}

void TestCommTermios::openBaseDcb()
{
    QFETCH(int, xon);
    QFETCH(int, xoff);
    QFETCH(int, baseXon);
    QFETCH(int, baseXoff);
    const TCommDcb d = OpenBaseDcb(cfcXonXoff, 1000, quint8(xon), quint8(xoff));
    QCOMPARE(d.Flags, FlowCtrlFlags(cfcXonXoff));
    QCOMPARE(int(d.XonLim), 250);
    const TermiosPlan plan = BuildTermios(d); // 9600 8N1 until the properties are applied
    QVERIFY(plan.ok);
    QCOMPARE(int(plan.tio.c_cc[VSTART]), baseXon);
    QCOMPARE(int(plan.tio.c_cc[VSTOP]), baseXoff);
}

void TestCommTermios::readBack_data()
{
    QTest::addColumn<TCommDcb>("dcb");
    QTest::newRow("7E2 4800") << Dcb(4800, 7, 2, 2, cfcNone);
    QTest::newRow("8O1 115200") << Dcb(115200, 8, 1, 0, cfcNone);
    QTest::newRow("5 bits 1.5") << Dcb(300, 5, 0, 1, cfcNone);
}

void TestCommTermios::readBack()
{
    QFETCH(TCommDcb, dcb);
    const TermiosPlan plan = BuildTermios(dcb);
    QVERIFY(plan.ok);
    const TCommDcb back = DcbFromTermios(plan.tio);
    QCOMPARE(back.BaudRate, dcb.BaudRate);
    QCOMPARE(back.ByteSize, dcb.ByteSize);
    QCOMPARE(back.Parity, dcb.Parity);
    QCOMPARE(back.StopBits, dcb.StopBits);
}

void TestCommTermios::halfDelay_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("ms");
    QTest::newRow("300") << 300 << 34;
    QTest::newRow("1200") << 1200 << 9;
    QTest::newRow("2400") << 2400 << 5;
    QTest::newRow("4800") << 4800 << 3;
    QTest::newRow("9600") << 9600 << 2;
    QTest::newRow("19200") << 19200 << 1;
    QTest::newRow("115200") << 115200 << 1;
    QTest::newRow("10") << 10 << 1001;
}

void TestCommTermios::halfDelay()
{
    QFETCH(int, rate);
    QFETCH(int, ms);
    QCOMPARE(HalfDelayFor(rate), ms);
}

void TestCommTermios::modemStatus_data()
{
    QTest::addColumn<int>("tiocm");
    QTest::addColumn<uint>("word");
    QTest::newRow("nothing") << 0 << 0u;
    QTest::newRow("CTS") << int(TIOCM_CTS) << 0x10u;
    QTest::newRow("DSR") << int(TIOCM_DSR) << 0x20u;
    QTest::newRow("RING") << int(TIOCM_RNG) << 0x40u;
    QTest::newRow("carrier") << int(TIOCM_CAR) << 0x80u;
    QTest::newRow("outputs are not status") << int(TIOCM_DTR | TIOCM_RTS) << 0u;
    QTest::newRow("all") << int(TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR) << 0xF0u;
}

void TestCommTermios::modemStatus()
{
    QFETCH(int, tiocm);
    QFETCH(uint, word);
    QCOMPARE(ModemStatusWord(tiocm), word);
}

void TestCommTermios::counters_data()
{
    QTest::addColumn<TCommCounters>("after");
    QTest::addColumn<int>("errors");
    QTest::addColumn<bool>("brk");
    TCommCounters c;
    QTest::newRow("unchanged") << c << 0 << false;
    c = {};
    c.frame = 1;
    QTest::newRow("framing") << c << 8 << false;
    c = {};
    c.overrun = 2;
    c.parity = 5;
    QTest::newRow("overrun and parity") << c << 6 << false;
    c = {};
    c.bufOverrun = 1;
    QTest::newRow("driver buffer overrun is not a line error") << c << 0 << false;
    c = {};
    c.brk = 1;
    QTest::newRow("break only") << c << 0 << true;
    c = {};
    c.brk = 1;
    c.frame = 1;
    QTest::newRow("break with framing") << c << 8 << true;
}

void TestCommTermios::counters()
{
    QFETCH(TCommCounters, after);
    QFETCH(int, errors);
    QFETCH(bool, brk);
    const TCommCounters before;
    QCOMPARE(CounterErrors(before, after), errors);
    QCOMPARE(CounterBreak(before, after), brk);
}

using Overrides = QMap<int, QString>;
Q_DECLARE_METATYPE(Overrides)

void TestCommTermios::channelDevice_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<Overrides>("overrides");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("device");
    const QStringList three{"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyACM0"};
    QTest::newRow("first present") << 1 << Overrides{} << three << "/dev/ttyS0";
    QTest::newRow("third present") << 3 << Overrides{} << three << "/dev/ttyACM0";
    QTest::newRow("beyond the present ones") << 4 << Overrides{} << three << "";
    QTest::newRow("nothing present") << 1 << Overrides{} << QStringList{} << "";
    QTest::newRow("channel 0") << 0 << Overrides{} << three << "";
    QTest::newRow("negative channel") << -2 << Overrides{} << three << "";
    QTest::newRow("override wins") << 1 << Overrides{{1, "/dev/ttyUSB0"}} << three << "/dev/ttyUSB0";
    QTest::newRow("named device skipped, lowest free channel")
        << 2 << Overrides{{1, "/dev/ttyUSB0"}} << three << "/dev/ttyS0";
    QTest::newRow("after the skip") << 3 << Overrides{{1, "/dev/ttyUSB0"}} << three << "/dev/ttyACM0";
    QTest::newRow("override higher up leaves low channels")
        << 1 << Overrides{{5, "/dev/ttyS0"}} << three << "/dev/ttyUSB0";
    QTest::newRow("override to a device not present")
        << 7 << Overrides{{7, "/dev/serial/by-id/usb-X"}} << three << "/dev/serial/by-id/usb-X";
    QTest::newRow("by-id link names the same device")
        << 1 << Overrides{{2, "/dev/serial/by-id/usb-FTDI"}} << three << "/dev/ttyS0";
    QTest::newRow("by-id link skipped") << 2 << Overrides{{1, "/dev/serial/by-id/usb-FTDI"}} << three << "/dev/ttyS0";
    QTest::newRow("by-id link skipped, next")
        << 3 << Overrides{{1, "/dev/serial/by-id/usb-FTDI"}} << three << "/dev/ttyACM0";
}

void TestCommTermios::channelDevice()
{
    QFETCH(int, channel);
    QFETCH(Overrides, overrides);
    QFETCH(QStringList, present);
    QFETCH(QString, device);
    const auto canonical
        = [](const QString &p) { return p == "/dev/serial/by-id/usb-FTDI" ? QString("/dev/ttyUSB0") : p; };
    QCOMPARE(ChannelDevice(channel, overrides, present, canonical), device);
}

void TestCommTermios::channelOfKey_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("channel");
    QTest::newRow("COM1") << "COM1" << 1;
    QTest::newRow("lower case") << "com12" << 12;
    QTest::newRow("spaces") << " COM3 " << 3;
    QTest::newRow("no number") << "COM" << 0;
    QTest::newRow("other key") << "LPT1" << 0;
    QTest::newRow("trailing text") << "COM1x" << 0;
    QTest::newRow("sign") << "COM-1" << 0;
}

void TestCommTermios::channelOfKey()
{
    QFETCH(QString, key);
    QFETCH(int, channel);
    QCOMPARE(ChannelOfKey(key), channel);
}

void TestCommTermios::orderNames_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("ordered");
    QTest::newRow("kinds in counting order") << QStringList{"ttyACM0", "ttyUSB1", "ttyS1", "ttyUSB0", "ttyS0"}
                                             << QStringList{"ttyS0", "ttyS1", "ttyUSB0", "ttyUSB1", "ttyACM0"};
    QTest::newRow("numbers, not text") << QStringList{"ttyS10", "ttyS2", "ttyS1"}
                                       << QStringList{"ttyS1", "ttyS2", "ttyS10"};
    QTest::newRow("others dropped") << QStringList{"tty0", "ttyprintk", "ttyUSB", "ttyAMA0", "ttyUSB3"}
                                    << QStringList{"ttyUSB3"};
}

void TestCommTermios::orderNames()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, ordered);
    QCOMPARE(OrderSerialNames(names), ordered);
}

// The registry lists COM ports in no particular order, sometimes twice, and names that are not ports.
void TestCommTermios::orderComNames_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("ordered");
    QTest::newRow("numbers, not text") << QStringList{"COM10", "COM2", "COM1"} << QStringList{"COM1", "COM2", "COM10"};
    QTest::newRow("case and blanks") << QStringList{" com3", "Com1 "} << QStringList{"COM1", "COM3"};
    QTest::newRow("each once") << QStringList{"COM4", "COM4", "com4"} << QStringList{"COM4"};
    QTest::newRow("others dropped") << QStringList{"LPT1", "COM", "COM0", "\\Device\\Serial0", "COMX", "COM7"}
                                    << QStringList{"COM7"};
}

void TestCommTermios::orderComNames()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, ordered);
    QCOMPARE(OrderComNames(names), ordered);
}

void TestCommTermios::scanAndOverrides()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *n : {"ttyS0", "ttyS1", "ttyUSB0", "ttyACM0", "tty1"}) {
        QFile f(dir.filePath(n));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    // A device this user may not open still takes its channel.
    QVERIFY(QFile::setPermissions(dir.filePath("ttyUSB0"), QFileDevice::Permissions()));
    const QString d = dir.path();
    // Only ttyS1 has a UART behind it.
    const auto present = [d](const QString &p) { return p == d + "/ttyS1"; };
    QCOMPARE(ScanSerialDevices(d, present), (QStringList{d + "/ttyS1", d + "/ttyUSB0", d + "/ttyACM0"}));

    QFile ini(dir.filePath("voltrak.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[VOLTRAK]\r\nComch=2\r\n[Ports]\r\nCOM2=/dev/ttyUSB7\r\ncom5 = "
              "/dev/serial/by-id/x\r\nCOMX=/dev/no\r\nCOM3=\r\n");
    ini.close();
    const QByteArray before = [&] {
        QFile f(ini.fileName());
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    const QMap<int, QString> map = ReadPortOverrides(ini.fileName());
    QCOMPARE(map, (QMap<int, QString>{{2, "/dev/ttyUSB7"}, {5, "/dev/serial/by-id/x"}}));
    QFile again(ini.fileName());
    QVERIFY(again.open(QIODevice::ReadOnly));
    QCOMPARE(again.readAll(), before); // read, never written
    QVERIFY(ReadPortOverrides(dir.filePath("missing.ini")).isEmpty());
}

QTEST_GUILESS_MAIN(TestCommTermios)
#include "tst_commtermios.moc"
