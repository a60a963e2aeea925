// The port channel dialog inside the real program windows: the link moves
// to the chosen channel, cancel changes nothing, a channel without a device
// is reported by the standard error display; and a port that disappears
// while open is reported once the same way. Channels are mapped to
// pseudo-terminals through the ini file's "Ports" section.
#include "core/Settings.h"
#include "forms/Forms.h"
#include "forms/Ucomch.h"
#include "forms/Uvoltrak.h"
#include "serial/Commx.h"
#include "serial/PortWatcher.h"
#include "tests/support/BoxRecorder.h"
#include "tests/support/PtyHelpers.h"
#include "widgets/Application.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/LogPane.h"
#include "widgets/NumericField.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
BoxRecorder *gRecorder = nullptr;
QStringList standardErrors()
{
    return gRecorder->textsOf(errors::BoxKind::StandardError);
}
} // namespace

class TestComch : public QObject
{
    Q_OBJECT
    std::unique_ptr<Pty> m_a, m_b, m_c;
    // Its own ini folder, so the journals of what the ports receive go away with the test.
    QTemporaryDir m_dir;

    void writeIni(int comch)
    {
        QFile f(settings::IniFilePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Ports]\r\nCOM1=" + m_c->name.toLocal8Bit() + "\r\nCOM7=" + m_a->name.toLocal8Bit()
            + "\r\nCOM8=" + m_b->name.toLocal8Bit() + "\r\nCOM9=/nonexistent/voltrak-test-port\r\n"
            + "[VOLTRAK]\r\nComch=" + QByteArray::number(comch) + "\r\n");
    }
    static TCommX *Port() { return forms::main->CommX1; }

private slots:
    void initTestCase() { settings::SetIniFilePath(m_dir.filePath(QStringLiteral("tst_comch.ini"))); }
    void cleanupTestCase() { settings::SetIniFilePath(QString()); }

    void init()
    {
        gRecorder->clear();
        m_a = std::make_unique<Pty>();
        m_b = std::make_unique<Pty>();
        m_c = std::make_unique<Pty>();
        settings::ResetToDefaults();
        writeIni(7);
        forms::CreateForms();
        QVERIFY(Port()->IsOpen());
        QCOMPARE(Port()->DevicePath(), m_a->name);
        QVERIFY(standardErrors().isEmpty());
    }
    void cleanup()
    {
        forms::DestroyForms();
        QFile::remove(settings::IniFilePath());
    }

    void confirmAndCancel_data();
    void confirmAndCancel();
    void toolTipNamesTheDevice_data();
    void toolTipNamesTheDevice();
    void toolTipNamesTheAdapter();
    void lostPortIsReportedOnceAndReopened();
};

void TestComch::confirmAndCancel_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<int>("comch"); // the setting afterwards
    QTest::addColumn<QString>("device"); // "a", "b", "c" or "" for closed
    QTest::addColumn<bool>("visible"); // the dialog afterwards
    QTest::addColumn<bool>("error"); // "ポートをオープンできませんでした" shown
    QTest::newRow("same channel reopens") << "7" << true << 7 << "a" << false << false;
    QTest::newRow("another channel") << "8" << true << 8 << "b" << false << false;
    QTest::newRow("cancel after a change") << "8" << false << 7 << "a" << false << false;
    QTest::newRow("channel with no device") << "9" << true << 9 << "" << true << true;
    QTest::newRow("text that is no number reads as 1") << "x2" << true << 1 << "c" << false << false;
}

void TestComch::confirmAndCancel()
{
    QFETCH(QString, typed);
    QFETCH(bool, confirm);
    QFETCH(int, comch);
    QFETCH(QString, device);
    QFETCH(bool, visible);
    QFETCH(bool, error);
    Tcomch *dlg = forms::comch;
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg));
    QCOMPARE(dlg->CSpComch->text(), QString("7"));
    dlg->CSpComch->setText(typed);
    // A real click: what escapes the handler goes through the application.
    QTest::mouseClick(confirm ? dlg->BitBtn1 : dlg->BitBtn2, Qt::LeftButton);
    QCOMPARE(settings::Comch, comch);
    QCOMPARE(dlg->isVisible(), visible);
    const QString path = device == "a" ? m_a->name : device == "b" ? m_b->name : device == "c" ? m_c->name : QString();
    QCOMPARE(Port()->IsOpen(), !path.isEmpty());
    QCOMPARE(Port()->DevicePath(), path);
    if (error) {
        QCOMPARE(standardErrors().size(), 1);
        QVERIFY(standardErrors().first().startsWith(QString::fromUtf8(commmsg::CannotOpen)));
        QCOMPARE(Port()->Handle(), 0xFFFFFFFFu);
        // Another channel from the still open dialog.
        dlg->CSpComch->setText("8");
        QTest::mouseClick(dlg->BitBtn1, Qt::LeftButton);
        QVERIFY(!dlg->isVisible());
        QCOMPARE(Port()->DevicePath(), m_b->name);
    } else {
        QVERIFY(standardErrors().isEmpty());
    }
    if (!confirm) {
        // The next show displays the stored channel again.
        dlg->show();
        QCOMPARE(dlg->CSpComch->text(), QString("7"));
        dlg->hide();
    }
    // Bytes from the device on the open channel reach the log pane.
    const Pty &open = *(Port()->DevicePath() == m_a->name ? m_a : Port()->DevicePath() == m_b->name ? m_b : m_c);
    QVERIFY(open.writeAll("hello\r\n"));
    QTRY_VERIFY(forms::main->RichEdit1->toPlainText().contains("hello"));
}

void TestComch::toolTipNamesTheDevice_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("device");
    QTest::newRow("ini override to a pty") << 8 << "b";
    QTest::newRow("override to a missing device") << 9 << "/nonexistent/voltrak-test-port";
    QTest::newRow("channel 1 override") << 1 << "c";
}

void TestComch::toolTipNamesTheDevice()
{
    QFETCH(int, channel);
    QFETCH(QString, device);
    const QString path = device == "b" ? m_b->name : device == "c" ? m_c->name : device;
    Tcomch *dlg = forms::comch;
    dlg->show();
    dlg->CSpComch->setValue(channel);
    QVERIFY2(dlg->CSpComch->toolTip().contains(path), qPrintable(dlg->CSpComch->toolTip()));
    QVERIFY(dlg->CSpComch->toolTip().contains(QString::number(channel)));
    // Another channel changes the tip.
    dlg->CSpComch->setValue(channel == 8 ? 7 : 8);
    QVERIFY(!dlg->CSpComch->toolTip().contains(path));
}

void TestComch::toolTipNamesTheAdapter()
{
    // A fake sysfs tree that knows the device of channel 9 as a USB adapter.
    QTemporaryDir sys;
    const QString usb = sys.filePath("devices/usb1/1-1");
    QVERIFY(QDir().mkpath(usb + "/1-1:1.0/port"));
    QVERIFY(QDir().mkpath(sys.filePath("class/tty/voltrak-test-port")));
    QVERIFY(QFile::link(usb + "/1-1:1.0/port", sys.filePath("class/tty/voltrak-test-port/device")));
    for (auto [name, text] : {std::pair{"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "FTDI"},
             {"product", "FT232R USB UART"}}) {
        QFile f(usb + '/' + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(text) + '\n');
    }
    Tcomch *dlg = forms::comch;
    dlg->SysfsRoot = sys.path();
    dlg->show();
    dlg->CSpComch->setValue(9);
    QCOMPARE(dlg->CSpComch->toolTip(),
        QStringLiteral("COM9: /nonexistent/voltrak-test-port — FTDI FT232R USB UART (0403:6001)"));
    dlg->SysfsRoot = QStringLiteral("/sys");
}

void TestComch::lostPortIsReportedOnceAndReopened()
{
    QVERIFY(m_a->writeAll("before\r\n"));
    QTRY_VERIFY(forms::main->RichEdit1->toPlainText().contains("before"));
    m_a->closeMaster(); // the adapter is pulled out
    QTRY_VERIFY_WITH_TIMEOUT(!Port()->IsOpen(), 10000);
    QTest::qWait(100);
    QCOMPARE(standardErrors().size(), 1);
    QVERIFY(standardErrors().first().startsWith(QString::fromUtf8(commmsg::PortLost).section('\n', 0, 0)));
    QVERIFY(standardErrors().first().contains(QString::fromUtf8(commmsg::PortReturns)));
    QVERIFY(forms::main->PortWatcher1->IsWatching());
    // Plugged in again (a new device node), chosen in the dialog.
    m_a = std::make_unique<Pty>();
    writeIni(7);
    Tcomch *dlg = forms::comch;
    dlg->show();
    QTest::mouseClick(dlg->BitBtn1, Qt::LeftButton);
    QVERIFY(Port()->IsOpen());
    QVERIFY(!forms::main->PortWatcher1->IsWatching()); // the choice ends the watch
    QCOMPARE(Port()->DevicePath(), m_a->name);
    QVERIFY(m_a->writeAll("after\r\n"));
    QTRY_VERIFY(forms::main->RichEdit1->toPlainText().contains("after"));
    QCOMPARE(standardErrors().size(), 1);
}

int main(int argc, char **argv)
{
    VoltrakApplication app(argc, argv);
    BoxRecorder recorder;
    gRecorder = &recorder;
    TestComch tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_comch.moc"
