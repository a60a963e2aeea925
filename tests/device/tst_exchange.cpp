#include "core/LogLines.h"
#include "core/Settings.h"
#include "device/Exchange.h"

#include <QtTest>

// Drives the exchange step by step: before each step the log's last line is set
// to the given text, as the discharger would have left it.
struct Run {
    QList<QByteArray> sent;
    QStringList warnings;
    QList<QByteArray> order; // sends and warnings interleaved, to check the CR precedes the box

    void step(const QByteArray &lastLine)
    {
        ByteLines log = ByteLines::fromText(lastLine);
        exchange::Step(
            log,
            [this](const QByteArray &b) {
                sent << b;
                order << b;
                return true;
            },
            [this](const QString &w) {
                warnings << w;
                order << "WARN";
            });
    }
};

class TestExchange : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        settings::ResetToDefaults();
        exchange::ParamStep = exchange::ParamWait = exchange::ParamMask = 0;
    }

    void findPrompt_data()
    {
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<int>("index");
        QTest::newRow("empty log") << QByteArray() << -1;
        QTest::newRow("Vstop with break") << QByteArray("ZEPH4\r\nVstop:\r\n") << 0;
        QTest::newRow("Vref with value after") << QByteArray(" Vref:250") << 1;
        QTest::newRow("TXcyc") << QByteArray("TXcyc:") << 2;
        QTest::newRow("Beep") << QByteArray(" Beep: 1") << 3;
        QTest::newRow("Tstop") << QByteArray("Tstop:") << 4;
        QTest::newRow("Tsel") << QByteArray(" Tsel:") << 5;
        QTest::newRow("Vref without its space") << QByteArray("Vref:") << -1;
        QTest::newRow("lower case") << QByteArray("vstop:") << -1;
        QTest::newRow("Txcyc as the setting is spelt") << QByteArray("Txcyc:") << -1;
        QTest::newRow("prompt not on the last line") << QByteArray("Vstop:\r\n1.00V 3 4 5 6\r\n") << -1;
        QTest::newRow("short last line") << QByteArray("Vst") << -1;
    }
    void findPrompt()
    {
        QFETCH(QByteArray, log);
        QFETCH(int, index);
        QCOMPARE(exchange::FindPrompt(ByteLines::fromText(log)), index);
    }

    void answers_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("100") << 100 << QByteArray("100\r");
        QTest::newRow("zero") << 0 << QByteArray("0\r");
        QTest::newRow("negative") << -5 << QByteArray("-5\r");
    }
    void answers()
    {
        QFETCH(int, value);
        QFETCH(QByteArray, bytes);
        QCOMPARE(exchange::AnswerText(value), bytes);
    }

    void fullExchange_data()
    {
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<QStringList>("warnings");
        const QList<QByteArray> inOrder = {"Vstop:", " Vref:", "TXcyc:", " Beep:", "Tstop:", " Tsel:"};
        const QList<QByteArray> defaults = {"100\r", "250\r", "0\r", "1\r", "0\r", "0\r"};
        QTest::newRow("table order") << inOrder << defaults << QStringList();
        QTest::newRow("another order") << QList<QByteArray>{" Tsel:", "Tstop:", " Beep:", "TXcyc:", " Vref:", "Vstop:"}
                                       << QList<QByteArray>{"0\r", "0\r", "1\r", "0\r", "250\r", "100\r"}
                                       << QStringList();
        QTest::newRow("empty log") << QList<QByteArray>{""} << QList<QByteArray>{"\r"}
                                   << QStringList{QString::fromUtf8(exchange::NotInSettingMode)};
        QTest::newRow("left setting mode midway")
            << QList<QByteArray>{"Vstop:", " Vref:", "1.20V  3  4  5  6"} << QList<QByteArray>{"100\r", "250\r", "\r"}
            << QStringList{QString::fromUtf8(exchange::NotInSettingMode)};
        QTest::newRow("device does not move on")
            << QList<QByteArray>{"Vstop:", " Vref:", " Vref:", "TXcyc:", " Beep:", "Tstop:"}
            << QList<QByteArray>{"100\r", "250\r", "250\r", "0\r", "1\r", "0\r", "\r"}
            << QStringList{QString::fromUtf8(exchange::SettingFailed)};
    }
    void fullExchange()
    {
        QFETCH(QList<QByteArray>, lines);
        QFETCH(QList<QByteArray>, sent);
        QFETCH(QStringList, warnings);
        exchange::Start();
        QCOMPARE(exchange::ParamWait, 2);
        Run run;
        for (const QByteArray &line : lines) {
            QVERIFY(exchange::ParamStep != 0);
            run.step(line);
        }
        QCOMPARE(run.sent, sent);
        QCOMPARE(run.warnings, warnings);
        QCOMPARE(exchange::ParamStep, 0);
        if (!warnings.isEmpty())
            QCOMPARE(run.order.mid(run.order.size() - 2), (QList<QByteArray>{"\r", "WARN"}));
        // Idle: a step that comes due does nothing.
        run.step("Vstop:");
        QCOMPARE(run.sent, sent);
    }

    void stepsArePacedFiveTicksApart()
    {
        exchange::Start();
        Run run;
        run.step("Vstop:");
        QCOMPARE(exchange::ParamWait, 5);
        QCOMPARE(exchange::ParamStep, 2);
        QCOMPARE(exchange::ParamMask, 1);
    }

    void secondStartOnlyChangesValues()
    {
        exchange::Start();
        Run run;
        run.step("Vstop:");
        settings::Vref = 247;
        exchange::Start(); // 設定 pressed again while running
        QCOMPARE(exchange::ParamStep, 2);
        QCOMPARE(exchange::ParamWait, 5);
        run.step(" Vref:");
        QCOMPARE(run.sent.last(), QByteArray("247\r"));
    }

    void cancelStopsSilently()
    {
        exchange::Start();
        Run run;
        run.step("Vstop:");
        exchange::Cancel();
        run.step(" Vref:");
        QCOMPARE(run.sent, QList<QByteArray>{"100\r"});
        QVERIFY(run.warnings.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestExchange)
#include "tst_exchange.moc"
