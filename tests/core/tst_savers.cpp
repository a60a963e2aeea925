// Saving in the background: the delay that gathers changes, the settings
// written shortly after they change, and the checks the command line and
// 開く make before reading a file.
#include "core/Debounce.h"
#include "core/FileReason.h"
#include "core/Settings.h"
#include "core/SettingsSaver.h"
#include "core/TextSniff.h"
#include "tests/support/FilePermissions.h"
#include "tests/support/TestFiles.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>

class TestSavers : public QObject
{
    Q_OBJECT

private slots:
    void init() { settings::ResetToDefaults(); }

    // Pokes every 20 ms for longer than the longest delay: due() still comes,
    // about the longest delay after the first poke, and once per burst.
    void steadyChangesAreStillSaved()
    {
        Debounce d(200, 600);
        QSignalSpy due(&d, &Debounce::due);
        QElapsedTimer t;
        t.start();
        qint64 firstDue = -1;
        // Until two bursts were due; a debounce without its longest delay
        // never is. The bounds leave room for a busy machine's late timers.
        while (due.size() < 2 && t.elapsed() < 10000) {
            d.poke();
            QTest::qWait(20);
            if (firstDue < 0 && !due.isEmpty())
                firstDue = t.elapsed();
        }
        QVERIFY2(firstDue >= 0, "never due while the changes went on");
        QVERIFY2(firstDue < 3000, qPrintable(QString::number(firstDue)));
        QVERIFY2(due.size() >= 2, "due only once while the changes went on");
        const int seen = due.size();
        d.poke(); // the burst goes on a little after the last due()
        QTRY_COMPARE(due.size(), seen + 1); // the last burst's, after the quiet time
        QVERIFY(!d.pending());
    }

    void cancelAndFireNow()
    {
        Debounce d(50, 100);
        QSignalSpy due(&d, &Debounce::due);
        d.fireNow(); // nothing waits
        QCOMPARE(due.size(), 0);
        d.poke();
        d.cancel();
        QTest::qWait(150);
        QCOMPARE(due.size(), 0);
        d.poke();
        d.fireNow();
        QCOMPARE(due.size(), 1);
        QVERIFY(!d.pending());
    }

    // A changed setting reaches the ini without any close; the other
    // sections and keys stay; an unchanged setting writes nothing.
    void changedSettingIsWritten()
    {
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("sub/voltrak.ini")); // its folder made on the way
        settings::SettingsSaver saver([&] { return ini; }, 50);
        saver.check();
        QTest::qWait(150);
        QCOMPARE(saver.written(), 0);
        QVERIFY(!QFileInfo::exists(ini));

        settings::Hdisp = 1;
        saver.check();
        QTRY_COMPARE(saver.written(), 1);
        QByteArray text = ReadFile(ini);
        QVERIFY2(text.contains("\r\nHdisp=1\r\n"), text.constData());
        QVERIFY(text.startsWith("[VOLTRAK]\r\nVstop=100\r\n"));

        WriteFile(ini, "[Ports]\r\nCOM1=/dev/ttyUSB0\r\n" + text);
        settings::Gtmax = 60;
        settings::Comch = 3;
        saver.check();
        QTRY_COMPARE(saver.written(), 2); // both changes in one write
        text = ReadFile(ini);
        QVERIFY2(text.startsWith("[Ports]\r\nCOM1=/dev/ttyUSB0\r\n[VOLTRAK]\r\n"), text.constData());
        QVERIFY(text.contains("\r\nGtmax=60\r\n") && text.contains("\r\nComch=3\r\n"));
    }

    void writeFailureIsSignalled()
    {
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("voltrak.ini"));
        QVERIFY(QDir().mkdir(ini)); // a folder where the file should be
        settings::SettingsSaver saver([&] { return ini; }, 20);
        QSignalSpy failed(&saver, &settings::SettingsSaver::writeFailed);
        settings::Beep = 0;
        saver.check();
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(saver.written(), 0);
    }

    void looksLikeText_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<bool>("text");
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("log lines") << QByteArray("Bat-V Bat1\r\n\t1.40V 0\f\r\n") << true;
        QTest::newRow("Shift-JIS") << QByteArray("\x83\x81\x83\x82\r\n") << true;
        QTest::newRow("one zero byte") << QByteArray("Bat-V Bat1\r\n\0x", 13) << false;
        QTest::newRow("UTF-16") << QByteArray("B\0a\0t\0", 6) << false;
        QTest::newRow("mostly control bytes") << QByteArray("\x01\x02\x03\x1b\x7f"
                                                            "ab")
                                              << false;
        QTest::newRow("half control bytes") << QByteArray("\x01\x02"
                                                          "ab")
                                            << true;
        QTest::newRow("an escape in text") << QByteArray("\x1b[0mT=1 1.25\r\n") << true;
    }
    void looksLikeText()
    {
        QFETCH(QByteArray, head);
        QFETCH(bool, text);
        QCOMPARE(textsniff::LooksLikeText(head), text);
    }

    void readProblem()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("a.log"));
        WriteFile(file, "x");
        QCOMPARE(filereason::ReadProblem(file), 0);
        QCOMPARE(filereason::ReadProblem(dir.path()), EISDIR);
        QCOMPARE(filereason::ReadProblem(dir.filePath(QStringLiteral("none.log"))), ENOENT);
        QCOMPARE(filereason::ReadProblem(file + QStringLiteral("/x")), ENOTDIR);
        QVERIFY(QFile::setPermissions(file, QFileDevice::WriteOwner));
        {
            WithoutPermissionOverride asUser;
            QCOMPARE(filereason::ReadProblem(file), EACCES);
        }
        QCOMPARE(filereason::CannotRead(QStringLiteral("/x/a.log"), EACCES),
            QStringLiteral("ファイル /x/a.log は開けません（アクセスが許可されていません）"));
        QCOMPARE(filereason::CannotRead(QStringLiteral("/x"), EISDIR),
            QStringLiteral("ファイル /x は開けません（フォルダです）"));
        QCOMPARE(filereason::CannotRead(QStringLiteral("/x/a.log"), ENOENT),
            QStringLiteral("ファイル /x/a.log は開けません（ファイルまたはフォルダがありません）"));
        QCOMPARE(filereason::CannotWrite(QStringLiteral("/x/a.png"), ENOSPC),
            QStringLiteral("ファイル /x/a.png に書き込めません（ディスクの空きがありません）"));
    }
};

QTEST_GUILESS_MAIN(TestSavers)
#include "tst_savers.moc"
