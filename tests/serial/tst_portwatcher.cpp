// A lost port comes back by itself: device links on pseudo-terminals are
// removed and made again under a new terminal, as udev does when an adapter
// is pulled out and plugged in; and what sysfs tells about an adapter.
#include "serial/Commx.h"
#include "serial/DeviceDescription.h"
#include "serial/PortWatcher.h"
#include "tests/support/PtyHelpers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestPortWatcher : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<Pty> m_pty;
    std::unique_ptr<TCommX> m_port;
    std::unique_ptr<PortWatcher> m_watcher;
    QByteArray m_received;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    static void Link(const QString &target, const QString &link)
    {
        QFile::remove(link);
        QVERIFY(QFile::link(target, link));
    }
    // The adapter is pulled out: its links go, then the terminal.
    void Unplug(const QStringList &links)
    {
        for (const QString &l : links)
            QVERIFY(QFile::remove(l));
        m_pty.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!m_port->IsOpen(), 10000);
    }
    void OpenOn(const QString &device)
    {
        m_port->setChannelResolver([device](qint32) { return device; });
        m_port->PortOpen();
        m_watcher->Remember(m_port->DevicePath());
    }
    bool Receives(const QByteArray &text)
    {
        m_received.clear();
        if (!m_pty->writeAll(text))
            return false;
        QElapsedTimer t;
        t.start();
        while (!m_received.contains(text) && t.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return m_received.contains(text);
    }

private slots:
    void init()
    {
        QDir().mkpath(path("dev"));
        QDir().mkpath(path("by-id"));
        m_pty = std::make_unique<Pty>();
        m_port = std::make_unique<TCommX>();
        m_port->setBitRate(19200);
        m_port->setFlowCtrl(cfcNone);
        m_watcher = std::make_unique<PortWatcher>(m_port.get());
        m_watcher->setByIdDir(path("by-id"));
        m_port->OnReceive = [this](TCustomCommX *c, qint32 n) {
            QByteArray b(n, 0);
            const qint32 got = c->ReceiveBlock(b.data(), n);
            m_received += b.left(qMax(got, 0));
        };
        m_port->OnLost = [this](TCustomCommX *, const QString &p) { return m_watcher->PortLost(p); };
        static_cast<RecordingApp *>(QCoreApplication::instance())->takeErrors();
    }
    void cleanup()
    {
        m_port.reset();
        m_watcher.reset();
        m_pty.reset();
        QDir(path("dev")).removeRecursively();
        QDir(path("by-id")).removeRecursively();
    }

    void samePathComesBack()
    {
        Link(m_pty->name, path("dev/zeph4"));
        OpenOn(path("dev/zeph4"));
        QVERIFY(m_watcher->ByIdName().isEmpty());
        QVERIFY(Receives("before\r\n"));

        Unplug({path("dev/zeph4")});
        auto *app = static_cast<RecordingApp *>(QCoreApplication::instance());
        const QStringList errors = app->takeErrors();
        QCOMPARE(
            errors, QStringList{QString::fromUtf8(commmsg::PortLost) + '\n' + QString::fromUtf8(commmsg::PortReturns)});
        QVERIFY(m_watcher->IsWatching());

        m_pty = std::make_unique<Pty>();
        QElapsedTimer back;
        back.start();
        Link(m_pty->name, path("dev/zeph4"));
        QTRY_VERIFY_WITH_TIMEOUT(m_port->IsOpen(), 10000);
        qInfo("reopened %lld ms after the device returned", back.elapsed());
        QCOMPARE(m_port->DevicePath(), path("dev/zeph4"));
        QVERIFY(!m_watcher->IsWatching());
        // The channel's settings, not the terminal's.
        termios t{};
        QCOMPARE(::tcgetattr(m_pty->slave, &t), 0);
        QCOMPARE(cfgetospeed(&t), speed_t(B19200));
        QVERIFY(Receives("after\r\n"));

        // Gone and back again: watched again, but no second box.
        Unplug({path("dev/zeph4")});
        QVERIFY(m_watcher->IsWatching());
        m_pty = std::make_unique<Pty>();
        Link(m_pty->name, path("dev/zeph4"));
        QTRY_VERIFY_WITH_TIMEOUT(m_port->IsOpen(), 10000);
        QVERIFY(Receives("again\r\n"));
        QVERIFY(app->takeErrors().isEmpty());
    }

    void adapterComesBackUnderAnotherNumber()
    {
        // The scan found ttyUSB0; udev's by-id link names the adapter.
        const QString byId = path("by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
        Link(m_pty->name, path("dev/ttyUSB0"));
        Link(path("dev/ttyUSB0"), byId);
        OpenOn(path("dev/ttyUSB0"));
        QCOMPARE(m_watcher->ByIdName(), QStringLiteral("usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"));
        Unplug({byId, path("dev/ttyUSB0")});

        // Another adapter takes the old number: not ours.
        auto other = std::make_unique<Pty>();
        Link(other->name, path("dev/ttyUSB0"));
        Link(path("dev/ttyUSB0"), path("by-id/usb-Prolific_PL2303-if00-port0"));
        QVERIFY(!m_watcher->CheckNow());
        QVERIFY(!m_port->IsOpen());
        QVERIFY(m_watcher->IsWatching());

        // Ours comes back as ttyUSB1.
        m_pty = std::make_unique<Pty>();
        Link(m_pty->name, path("dev/ttyUSB1"));
        Link(path("dev/ttyUSB1"), byId);
        QTRY_VERIFY_WITH_TIMEOUT(m_port->IsOpen(), 10000);
        QCOMPARE(m_port->DevicePath(), path("dev/ttyUSB1"));
        QVERIFY(Receives("renamed\r\n"));
    }

    void forgetEndsTheWatch()
    {
        Link(m_pty->name, path("dev/zeph4"));
        OpenOn(path("dev/zeph4"));
        Unplug({path("dev/zeph4")});
        QVERIFY(m_watcher->IsWatching());
        m_watcher->Forget();
        QVERIFY(!m_watcher->IsWatching());
        m_pty = std::make_unique<Pty>();
        Link(m_pty->name, path("dev/zeph4"));
        // Looked at once more, the device is there, but nobody is watching any longer.
        QTest::qWait(3 * PortWatcher::CheckIntervalMs);
        QVERIFY(!m_port->IsOpen());
    }

    void describeFromSysfs_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("expected");
        QTest::newRow("USB adapter") << "/dev/ttyUSB0"
                                     << "/dev/ttyUSB0 — FTDI FT232R USB UART (0403:6001)";
        QTest::newRow("CDC-ACM without maker") << "/dev/ttyACM3"
                                               << "/dev/ttyACM3 — ZEPH4 link (2341:0043)";
        QTest::newRow("built-in UART") << "/dev/ttyS0"
                                       << "/dev/ttyS0";
        QTest::newRow("unknown to sysfs") << "/dev/ttyUSB9"
                                          << "/dev/ttyUSB9";
    }
    void describeFromSysfs()
    {
        QFETCH(QString, device);
        QFETCH(QString, expected);
        const QString sys = path("sys");
        const auto file = [](const QString &p, const QByteArray &text) {
            QDir().mkpath(QFileInfo(p).absolutePath());
            QFile f(p);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text + "\n");
        };
        const auto port = [&](const QString &name, const QString &portDir) {
            QDir().mkpath(sys + "/class/tty/" + name);
            QDir().mkpath(portDir);
            Link(portDir, sys + "/class/tty/" + name + "/device");
        };
        const QString usb = sys + "/devices/pci0000:00/usb1/1-2";
        file(usb + "/idVendor", "0403");
        file(usb + "/idProduct", "6001");
        file(usb + "/manufacturer", "FTDI");
        file(usb + "/product", "FT232R USB UART");
        port("ttyUSB0", usb + "/1-2:1.0/ttyUSB0");
        const QString acm = sys + "/devices/pci0000:00/usb1/1-3";
        file(acm + "/idVendor", "2341");
        file(acm + "/idProduct", "0043");
        file(acm + "/product", "ZEPH4 link");
        port("ttyACM3", acm + "/1-3:1.0");
        port("ttyS0", sys + "/devices/pnp0/00:04/tty/ttyS0");
        QCOMPARE(DescribeSerialDevice(device, sys), expected);
    }
};

SERIAL_TEST_MAIN(TestPortWatcher)
#include "tst_portwatcher.moc"
