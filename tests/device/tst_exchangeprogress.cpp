// The line under the discharger dialog's group box: how far the exchange got.
#include "core/LogLines.h"
#include "core/Settings.h"
#include "device/Exchange.h"

#include <QtTest>

class TestExchangeProgress : public QObject
{
    Q_OBJECT

    // Runs Start() and one step per last line; the progress text after each step.
    static QStringList run(const QList<QByteArray> &lastLines, int cancelAfter = -1)
    {
        QStringList seen;
        exchange::Start();
        seen << exchange::ProgressText();
        for (int i = 0; i < lastLines.size(); ++i) {
            if (i == cancelAfter) {
                exchange::Cancel();
                seen << exchange::ProgressText();
                break;
            }
            const ByteLines log = ByteLines::fromText(lastLines.at(i));
            exchange::Step(
                log, [](const QByteArray &) { return true; }, [](const QString &) {});
            seen << exchange::ProgressText();
        }
        return seen;
    }

private slots:
    void init()
    {
        settings::ResetToDefaults();
        exchange::ParamStep = exchange::ParamWait = exchange::ParamMask = 0;
        exchange::LastOutcome = exchange::Outcome::None;
    }

    void progress_data()
    {
        QTest::addColumn<QList<QByteArray>>("lastLines");
        QTest::addColumn<int>("cancelAfter");
        QTest::addColumn<QStringList>("seen");
        const QList<QByteArray> all{"Vstop:", " Vref:", "TXcyc:", " Beep:", "Tstop:", " Tsel:"};
        QTest::newRow("all six") << all << -1
                                 << QStringList{"応答 0/6", "応答 1/6", "応答 2/6", "応答 3/6", "応答 4/6", "応答 5/6",
                                        "設定完了"};
        QTest::newRow("not in setting mode")
            << QList<QByteArray>{"1.20V 3 4 5 6"} << -1 << QStringList{"応答 0/6", "設定モードになっていません"};
        QTest::newRow("left setting mode after two")
            << QList<QByteArray>{"Vstop:", " Vref:", "END"} << -1
            << QStringList{"応答 0/6", "応答 1/6", "応答 2/6", "設定モードになっていません"};
        QTest::newRow("one prompt asked twice")
            << QList<QByteArray>{"Vstop:", "Vstop:", "TXcyc:", " Beep:", "Tstop:", " Tsel:"} << -1
            << QStringList{
                   "応答 0/6", "応答 1/6", "応答 2/6", "応答 3/6", "応答 4/6", "応答 5/6", "設定に失敗しました"};
        QTest::newRow("cancelled") << all << 2 << QStringList{"応答 0/6", "応答 1/6", "応答 2/6", ""};
    }
    void progress()
    {
        QFETCH(QList<QByteArray>, lastLines);
        QFETCH(int, cancelAfter);
        QFETCH(QStringList, seen);
        QCOMPARE(run(lastLines, cancelAfter), seen);
    }

    // A finished exchange's line stays until the next one starts.
    void nextStartShowsProgressAgain()
    {
        run({"Vstop:", " Vref:", "TXcyc:", " Beep:", "Tstop:", " Tsel:"});
        QCOMPARE(exchange::ProgressText(), QStringLiteral("設定完了"));
        exchange::Cancel(); // nothing running: the line stays
        QCOMPARE(exchange::ProgressText(), QStringLiteral("設定完了"));
        exchange::Start();
        QCOMPARE(exchange::ProgressText(), QStringLiteral("応答 0/6"));
    }
};

QTEST_GUILESS_MAIN(TestExchangeProgress)
#include "tst_exchangeprogress.moc"
