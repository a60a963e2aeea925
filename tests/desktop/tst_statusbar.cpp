// The main window's status bar and the dialogs' placing, in this process on a
// private X display under openbox (run-on-display starts both): what the bar
// says for an open port, no port and a pulled adapter, that the window's
// outer size is still the stored one, and that each dialog opens over the
// main window with its first field focused, every time.
#include "core/Settings.h"
#include "forms/Forms.h"
#include "forms/Ucomch.h"
#include "forms/Uparam.h"
#include "forms/Uvoltrak.h"
#include "journal/Journal.h"
#include "serial/Commx.h"
#include "serial/PortStatus.h"
#include "serial/PortWatcher.h"
#include "tests/support/PtyHelpers.h"
#include "widgets/Application.h"
#include "widgets/ElidedLabel.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"
#include "widgets/LogPane.h"
#include "widgets/NumericField.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

class TestStatusBar : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QStringList m_boxes;

    void start(const QString &port)
    {
        QFile f(m_dir.filePath(QStringLiteral("voltrak.ini")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Ports]\r\nCOM1=" + port.toLocal8Bit() + "\r\n[VOLTRAK]\r\nWmain=320\r\nHmain=430\r\n");
        f.close();
        settings::SetIniFilePath(f.fileName());
        forms::CreateForms();
        forms::main->show();
        QVERIFY(QTest::qWaitForWindowExposed(forms::main));
        // Framed by the window manager, at the stored outer size.
        QTRY_VERIFY_WITH_TIMEOUT(forms::main->frameGeometry().size() != forms::main->size(), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(forms::main->frameGeometry().size(), QSize(320, 430), 15000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "needs an X display (run-on-display)");
        fonts::InstallSubstitutions();
    }
    void init()
    {
        settings::ResetToDefaults();
        m_boxes.clear();
        errors::SetBoxHook([this](errors::BoxKind, const QString &title, const QString &text) {
            m_boxes << title + QLatin1Char('|') + text;
        });
    }
    void cleanup()
    {
        if (forms::main)
            forms::main->close();
        forms::DestroyForms();
        errors::SetBoxHook({});
        settings::SetIniFilePath({});
    }

    void adapterName_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("text");
        QTest::newRow("USB adapter") << QStringLiteral("/dev/ttyUSB0 — FTDI FT232R USB UART (0403:6001)")
                                     << QStringLiteral("COM1: /dev/ttyUSB0 FTDI FT232R USB UART");
        QTest::newRow("maker only") << QStringLiteral("/dev/ttyACM0 — Arduino")
                                    << QStringLiteral("COM1: /dev/ttyACM0 Arduino");
        QTest::newRow("path alone") << QStringLiteral("/dev/pts/4") << QStringLiteral("COM1: /dev/pts/4");
        // Windows' device names: the channel's own port is named once, another one without its prefix.
        QTest::newRow("own COM port") << QStringLiteral("\\\\.\\COM1") << QStringLiteral("COM1");
        QTest::newRow("own port, lower case") << QStringLiteral("\\\\.\\com1") << QStringLiteral("COM1");
        QTest::newRow("moved to COM5") << QStringLiteral("\\\\.\\COM5") << QStringLiteral("COM1: COM5");
        QTest::newRow("COM10 is not COM1") << QStringLiteral("\\\\.\\COM10") << QStringLiteral("COM1: COM10");
    }
    void adapterName()
    {
        QFETCH(QString, description);
        QFETCH(QString, text);
        QCOMPARE(portstatus::Text(portstatus::State::Open, 1, description.section(QLatin1Char(' '), 0, 0), description),
            text);
    }

    void openThenPulled()
    {
        auto pty = std::make_unique<Pty>();
        start(pty->name);
        Tmain *m = forms::main;
        QTRY_COMPARE(m->StatusPort->text(), QStringLiteral("COM1: ") + pty->name);
        QCOMPARE(m->StatusPort->toolTip(), m->StatusPort->text());
        QVERIFY(m->StatusPort->isVisible());
        // Under the log pane, inside the window.
        QVERIFY(m->statusBar()->geometry().top() >= m->RichEdit1->geometry().bottom());
        QVERIFY(m->statusBar()->geometry().bottom() < m->height());
        QVERIFY(m->StatusJournal->toolTip().startsWith(QStringLiteral("受信記録: ") + m->JournalFolder()));
        QVERIFY(m->StatusJournal->text().endsWith(QStringLiteral(".log")));
        QVERIFY(pty->writeAll("first\r\n"));
        QTRY_VERIFY(!m->Journal()->filePath().isEmpty());
        QTRY_COMPARE(m->StatusJournal->text(), QFileInfo(m->Journal()->filePath()).fileName());
        QCOMPARE(m->StatusJournal->toolTip(), QStringLiteral("受信記録: ") + m->Journal()->filePath());
        QVERIFY(!m->StatusLastRun->isVisible());
        m->ShowLastRun(QStringLiteral("前回 2026/12/08 4本"));
        QVERIFY(m->StatusLastRun->isVisible());

        pty->closeMaster(); // the adapter is pulled out
        QTRY_COMPARE_WITH_TIMEOUT(m->StatusPort->text(), QStringLiteral("装置の再接続を待っています"), 10000);
        QCOMPARE(m->StatusPort->toolTip(), m->StatusPort->text());
        QVERIFY(m->PortWatcher1->IsWatching());
        QCOMPARE(m->frameGeometry().size(), QSize(320, 430));
    }

    // At the main window's default size, with a library: the port, the bays,
    // the journal and the last run each show whole, inside the window, each
    // with its whole text in its tip.
    void fieldsFitTheDefaultWidth()
    {
        Pty pty;
        QFile f(m_dir.filePath(QStringLiteral("voltrak.ini")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Ports]\r\nCOM1=" + pty.name.toLocal8Bit() + "\r\n");
        f.close();
        settings::SetIniFilePath(f.fileName());
        forms::CreateForms(m_dir.filePath(QStringLiteral("library.sqlite")));
        Tmain *m = forms::main;
        m->show();
        QVERIFY(QTest::qWaitForWindowExposed(m));
        QTRY_COMPARE_WITH_TIMEOUT(m->frameGeometry().size(), QSize(settings::Wmain, settings::Hmain), 15000);
        QVERIFY(pty.writeAll("first\r\n"));
        QTRY_VERIFY(!m->Journal()->filePath().isEmpty());
        m->ShowLastRun(QStringLiteral("記録: 12/09 11:45 装着なし"));
        QTRY_COMPARE(m->StatusPort->text(), QStringLiteral("COM1: ") + pty.name);
        QTRY_COMPARE(m->StatusJournal->text(), QFileInfo(m->Journal()->filePath()).fileName());
        for (ElidedLabel *field : {m->StatusPort, m->StatusBays, m->StatusJournal, m->StatusLastRun}) {
            QVERIFY2(field->isVisible(), qPrintable(field->objectName()));
            QTRY_VERIFY2(!field->elided(),
                qPrintable(QStringLiteral("%1: %2 (%3 of %4 px)")
                               .arg(field->objectName(), field->shownText())
                               .arg(field->width())
                               .arg(field->sizeHint().width())));
            QVERIFY2(field->toolTip().contains(field->text()), qPrintable(field->objectName()));
            const QRect inWindow(field->mapTo(m, QPoint(0, 0)), field->size());
            QVERIFY2(m->rect().contains(inWindow), qPrintable(field->objectName()));
        }
        QVERIFY(m->statusBar()->geometry().top() >= m->RichEdit1->geometry().bottom());
    }

    // Opened through a link (as by-id names and the simulator's are), the bar names the device.
    void linkShowsTheDevice()
    {
        Pty pty;
        const QString link = m_dir.filePath(QStringLiteral("zeph4.tty"));
        QFile::remove(link);
        QVERIFY(QFile::link(pty.name, link));
        start(link);
        QTRY_COMPARE(forms::main->StatusPort->text(), QStringLiteral("COM1: ") + pty.name);
    }

    void noPort()
    {
        start(QStringLiteral("/nonexistent/voltrak-test-port"));
        QTRY_COMPARE(forms::main->StatusPort->text(), QStringLiteral("ポート未接続"));
    }

    // Each show: centred over the main window (kept on the screen), the first field focused.
    void dialogsOpenTheSameWay_data()
    {
        QTest::addColumn<int>("form");
        QTest::newRow("放電器の設定") << int(forms::FormId::Param);
        QTest::newRow("通信設定") << int(forms::FormId::Comch);
    }
    void dialogsOpenTheSameWay()
    {
        QFETCH(int, form);
        Pty pty;
        start(pty.name);
        Tmain *m = forms::main;
        m->move(40, 60);
        QTRY_VERIFY(m->frameGeometry().topLeft() == QPoint(40, 60) || m->pos() == QPoint(40, 60));
        const auto id = forms::FormId(form);
        QWidget *dlg = id == forms::FormId::Param ? static_cast<QWidget *>(forms::param) : forms::comch;
        QWidget *first
            = id == forms::FormId::Param ? static_cast<QWidget *>(forms::param->CSpVstop) : forms::comch->CSpComch;
        QWidget *other
            = id == forms::FormId::Param ? static_cast<QWidget *>(forms::param->BitBtn2) : forms::comch->BitBtn2;
        const QRect screen = dlg->screen()->geometry();
        for (int show = 1; show <= 2; ++show) {
            forms::ShowForm(id);
            QVERIFY(QTest::qWaitForWindowActive(dlg));
            QTRY_VERIFY_WITH_TIMEOUT(dlg->frameGeometry().size() != dlg->size(), 15000);
            QTRY_VERIFY(first->hasFocus());
            // Centred over the main window; the toolkit may not know the frame of a
            // window shown again, so the client's centre is compared, within a frame's slack.
            const auto offCentre = [&] {
                QPoint want = m->frameGeometry().center();
                const QSize half(dlg->frameGeometry().width() / 2, dlg->frameGeometry().height() / 2);
                want.setX(qBound(screen.x() + half.width(), want.x(), screen.right() - half.width()));
                want.setY(qBound(screen.y() + half.height(), want.y(), screen.bottom() - half.height()));
                return dlg->geometry().center() - want;
            };
            QTRY_VERIFY2_WITH_TIMEOUT(qAbs(offCentre().x()) <= 12 && qAbs(offCentre().y()) <= 12,
                qPrintable(QStringLiteral("show %1: %2,%3 off the main window's centre")
                               .arg(show)
                               .arg(offCentre().x())
                               .arg(offCentre().y())),
                15000);
            other->setFocus(); // left on another control, and the dialog moved away
            dlg->hide();
            QTRY_VERIFY(!dlg->isVisible());
            m->move(m->pos() + QPoint(200, 150));
        }
    }
};

int main(int argc, char **argv)
{
    VoltrakApplication app(argc, argv);
    TestStatusBar t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_statusbar.moc"
