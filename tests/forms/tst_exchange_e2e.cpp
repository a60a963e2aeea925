// The settings exchange end to end: the real main window, its 100 ms timer, the
// serial port on a pseudo-terminal, and the discharger simulator at the far end.
#include "core/Settings.h"
#include "device/Exchange.h"
#include "forms/Forms.h"
#include "forms/Uparam.h"
#include "forms/Uvoltrak.h"
#include "tests/support/BoxRecorder.h"
#include "widgets/Application.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/LogPane.h"
#include "widgets/NumericField.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class TestExchangeEndToEnd : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QProcess m_sim;
    BoxRecorder m_boxes;
    QList<int> m_answerTicks; // timer tick on which each answer went out
    int m_ticks = 0;

    QString link() const { return m_dir.filePath(QStringLiteral("zeph4.tty")); }
    QString record() const { return m_dir.filePath(QStringLiteral("received.bin")); }

    QByteArray received() const
    {
        QFile f(record());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void startSimulator(const QStringList &extra)
    {
        QFile::remove(record());
        QFile::remove(link());
        m_sim.setProgram(QStringLiteral(ZEPH4_SIM));
        m_sim.setArguments(QStringList{QStringLiteral("--scenario"), QStringLiteral("idle"), QStringLiteral("--link"),
                               link(), QStringLiteral("--record"), record()}
            + extra);
        m_sim.start();
        QVERIFY(m_sim.waitForStarted());
        QTRY_VERIFY(QFile::exists(link()));

        settings::ResetToDefaults();
        QFile ini(settings::IniFilePath());
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Ports]\r\nCOM1=" + link().toUtf8() + "\r\n");
        ini.close();
        forms::CreateForms();
        QVERIFY(m_boxes.isEmpty()); // the port opened
        forms::main->show(); // its first show fills the dialogs from the settings
        connect(forms::main->Timer1, &QTimer::timeout, this, [this] {
            ++m_ticks;
            // The window's own timer handler ran first; only a step that just
            // answered leaves the countdown at 5.
            if (exchange::ParamWait == 5)
                m_answerTicks << m_ticks;
        });
    }

    void enterSettingMode()
    {
        m_sim.write("setting\n");
        QTRY_VERIFY(exchange::FindPrompt(*forms::main->RichEdit1) >= 0);
    }

    void press()
    {
        m_ticks = 0;
        m_answerTicks.clear();
        forms::param->BitBtn1Click();
    }

    void waitIdle()
    {
        QTRY_VERIFY_WITH_TIMEOUT(exchange::ParamStep == 0 && exchange::ParamWait == 0, 15000);
        QTest::qWait(300); // bytes sent after the end would show by now; a busy simulator may still be writing
    }

private slots:
    // Settings and journals of this test in its own folder.
    void initTestCase() { settings::SetIniFilePath(m_dir.filePath(QStringLiteral("voltrak.ini"))); }
    void init()
    {
        exchange::ParamStep = exchange::ParamWait = exchange::ParamMask = 0;
        m_boxes.clear();
    }
    void cleanup()
    {
        // Closed the normal way, so the next case's start finds no unfinished run.
        if (forms::main)
            forms::main->close();
        forms::DestroyForms();
        m_sim.write("quit\n");
        if (!m_sim.waitForFinished(3000))
            m_sim.kill();
        m_sim.waitForFinished();
        QFile::remove(settings::IniFilePath());
    }

    void exchange_data()
    {
        QTest::addColumn<QStringList>("simulator");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QStringList>("boxes");
        const QString modeWarning = QStringLiteral("警告|") + QString::fromUtf8(exchange::NotInSettingMode);
        const QString versionWarning = QStringLiteral("警告|") + QString::fromUtf8(exchange::SettingFailed);
        QTest::newRow("table order") << QStringList() << QByteArray("100\r250\r0\r1\r0\r0\r") << QStringList();
        QTest::newRow("another order") << QStringList{QStringLiteral("--order"), QStringLiteral("5,4,3,2,1,0")}
                                       << QByteArray("0\r0\r1\r0\r250\r100\r") << QStringList();
        QTest::newRow("does not move on") << QStringList{QStringLiteral("--stuck")}
                                          << QByteArray("100\r100\r250\r250\r0\r0\r\r") << QStringList{versionWarning};
        QTest::newRow("leaves setting mode") << QStringList{QStringLiteral("--leave-after"), QStringLiteral("2")}
                                             << QByteArray("100\r250\r\r") << QStringList{modeWarning};
    }
    void exchange()
    {
        QFETCH(QStringList, simulator);
        QFETCH(QByteArray, sent);
        QFETCH(QStringList, boxes);
        startSimulator(simulator);
        enterSettingMode();
        press();
        waitIdle();
        QTRY_COMPARE(received(), sent);
        QCOMPARE(m_boxes.texts(), boxes);
        // Answers go out on the second tick after the click, then every fifth tick.
        const int answers = int(sent.count('\r')) - (boxes.isEmpty() ? 0 : 1);
        QCOMPARE(m_answerTicks.size(), answers);
        for (int i = 0; i < m_answerTicks.size(); ++i)
            QCOMPARE(m_answerTicks.at(i), 2 + 5 * i);
    }

    void noPromptInLog_data()
    {
        QTest::addColumn<QByteArray>("lastLine");
        QTest::newRow("empty pane") << QByteArray();
        QTest::newRow("Vref without its space") << QByteArray("Vref:");
        QTest::newRow("lower case") << QByteArray("vstop:");
    }
    void noPromptInLog()
    {
        QFETCH(QByteArray, lastLine);
        startSimulator({});
        forms::main->RichEdit1->appendReceived(lastLine);
        press();
        waitIdle();
        QTRY_COMPARE(received(), QByteArray("\r"));
        QCOMPARE(m_boxes.texts(), QStringList{QStringLiteral("警告|") + QString::fromUtf8(exchange::NotInSettingMode)});
    }

    void cancelStopsSilently()
    {
        startSimulator({});
        enterSettingMode();
        press();
        QTRY_COMPARE(exchange::ParamStep, 2);
        forms::param->BitBtn2Click();
        QTest::qWait(1200);
        QTRY_COMPARE(received(), QByteArray("100\r"));
        QVERIFY(m_boxes.isEmpty());
    }

    void secondPressChangesLaterAnswers()
    {
        startSimulator({});
        enterSettingMode();
        forms::ShowForm(forms::FormId::Param);
        press();
        QTRY_COMPARE(exchange::ParamStep, 2);
        forms::param->CSpVref->setValue(247);
        forms::param->CSpTstop->setValue(30);
        forms::param->BitBtn1Click();
        waitIdle();
        QTRY_COMPARE(received(), QByteArray("100\r247\r0\r1\r30\r0\r"));
        QVERIFY(m_boxes.isEmpty());
        QCOMPARE(settings::Vref, 247);
    }
};

int main(int argc, char **argv)
{
    VoltrakApplication app(argc, argv);
    TestExchangeEndToEnd t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_exchange_e2e.moc"
