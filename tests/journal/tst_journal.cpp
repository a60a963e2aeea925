#include "core/JournalCells.h"
#include "journal/Journal.h"
#include "journal/RunMarker.h"
#include "serial/Commx.h"
#include "tests/support/PtyHelpers.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

class TestJournal : public QObject
{
    Q_OBJECT
    const QDateTime m_start{QDate(2026, 3, 2), QTime(7, 5, 9)};

private slots:
    // Every byte value, zero included, lands in order, exactly as received.
    void allByteValuesThroughThePort()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("logs"));
        journal::Journal j(folder, m_start);
        Pty pty;
        TCommX comm;
        comm.setChannelResolver([&](qint32) { return pty.name; });
        qint64 got = 0;
        comm.OnReceive = [&](TCustomCommX *s, qint32 n) {
            QByteArray b(n, Qt::Uninitialized);
            const qint32 r = s->ReceiveBlock(b.data(), n);
            if (r > 0) {
                j.append(b.constData(), r);
                got += r;
            }
        };
        comm.PortOpen();
        QByteArray all;
        for (int round = 0; round < 4; ++round)
            for (int v = 0; v < 256; ++v)
                all += char(round % 2 ? 255 - v : v);
        QVERIFY(pty.writeAll(all));
        QTRY_COMPARE_WITH_TIMEOUT(got, qint64(all.size()), 10000);
        // On the disk within a second, without waiting for the close.
        const QString file = folder + QStringLiteral("/20260302-070509.log");
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(file).size(), qint64(all.size()), 1000);
        comm.PortClose();
        j.close();
        QCOMPARE(j.filePath(), file);
        QCOMPARE(ReadFile(file), all);
    }

    // Nothing received, no file; a second run in the same second takes "-2".
    void namesAndEmptyRuns()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("logs"));
        {
            journal::Journal quiet(folder, m_start);
        }
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/20260302-070509.log")));
        journal::Journal a(folder, m_start), b(folder, m_start);
        a.append("a", 1);
        a.close();
        b.append("b", 1);
        b.close();
        QCOMPARE(ReadFile(folder + QStringLiteral("/20260302-070509.log")), QByteArray("a"));
        QCOMPARE(ReadFile(folder + QStringLiteral("/20260302-070509-2.log")), QByteArray("b"));
    }

    // A folder that cannot be made, or a disk that fills up: told once, and
    // what is in the file is exactly the start of what was received.
    void troubleIsReportedOnce_data()
    {
        QTest::addColumn<bool>("diskFull");
        QTest::newRow("folder cannot be made") << false;
        QTest::newRow("disk full") << true;
    }
    void troubleIsReportedOnce()
    {
        QFETCH(bool, diskFull);
        QTemporaryDir dir;
        QString folder = dir.filePath(QStringLiteral("logs"));
        if (!diskFull) {
            WriteFile(dir.filePath(QStringLiteral("file")), "x");
            folder = dir.filePath(QStringLiteral("file/logs"));
        }
        // A file size limit stands in for a full disk: writes beyond it fail.
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (diskFull) {
            rlimit small = old;
            small.rlim_cur = 1000;
            ::setrlimit(RLIMIT_FSIZE, &small);
        }
        QByteArray data;
        for (int i = 0; i < 3000; ++i)
            data += char('A' + i % 26);
        journal::Journal j(folder, m_start);
        // Counted on this thread, as the main window receives it (a spy
        // would be called on the writer thread).
        int failures = 0;
        connect(
            &j, &journal::Journal::writeFailed, this, [&failures] { ++failures; }, Qt::QueuedConnection);
        for (int i = 0; i < 3; ++i) {
            j.append(data.constData(), data.size());
            QTest::qWait(50);
        }
        QTRY_COMPARE(failures, 1);
        j.append("more", 4);
        j.close();
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QCoreApplication::processEvents();
        QCOMPARE(failures, 1);
        QVERIFY(j.failed());
        if (diskFull)
            QCOMPARE(ReadFile(j.filePath()), data.left(1000));
    }

    // The cells file beside the journal: each line as written reads back as
    // it was, whatever its labels hold; a line cut short by a crash and lines
    // of anything else are left out.
    void cellsLines_data()
    {
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("four cells") << QStringList{"E-1", "E-2", "E-3", "E-4"} << QByteArray("E-1 E-2 E-3 E-4");
        QTest::newRow("empty bays") << QStringList{"", "E-2", "", ""} << QByteArray("- E-2 - -");
        QTest::newRow("a blank, a per cent, a dash")
            << QStringList{"E 1", "50%", "-", "--"} << QByteArray("E%201 50%25 %2D --");
        QTest::newRow("Japanese") << QStringList{"電池1", "", "", "ｾﾙ"} << QStringLiteral("電池1 - - ｾﾙ").toUtf8();
    }
    void cellsLines()
    {
        QFETCH(QStringList, labels);
        QFETCH(QByteArray, written);
        const journalcells::Entry e{QDateTime(QDate(2026, 12, 9), QTime(11, 45, 12, 345)), "ab12", labels};
        const QByteArray line = journalcells::Line(e);
        QCOMPARE(line, "2026-12-09T11:45:12.345 ab12 " + written + "\n");
        const QList<journalcells::Entry> back
            = journalcells::Parse("not an entry\n" + line + line.left(line.size() / 2));
        QCOMPARE(back.size(), 1);
        QCOMPARE(back.first().when, e.when);
        QCOMPARE(back.first().key, e.key);
        QCOMPARE(back.first().labels, labels);
        QCOMPARE(
            journalcells::PathFor("/x/logs/20261209-114512-2.log"), QStringLiteral("/x/logs/20261209-114512-2.cells"));
    }

    // Lines go beside the journal, written after the bytes received before
    // them, and only once the journal itself exists.
    void cellsBesideTheJournal()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("logs"));
        journal::Journal j(folder, m_start);
        j.appendCells("before any byte\n");
        j.append("table\r\n", 7);
        j.appendCells("first\n");
        j.appendCells("second\n");
        j.close();
        QCOMPARE(j.cellsPath(), folder + QStringLiteral("/20260302-070509.cells"));
        QCOMPARE(ReadFile(j.filePath()), QByteArray("table\r\n"));
        QCOMPARE(ReadFile(j.cellsPath()), QByteArray("before any byte\nfirst\nsecond\n"));
    }

    // A marker tells a crashed run from a live one and from a clean close.
    void markers()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("logs"));
        const QString ini = dir.filePath(QStringLiteral("voltrak.ini"));
        auto live = std::make_unique<journal::RunMarker>();
        QVERIFY(live->create(folder, m_start, ini));
        QCOMPARE(live->index(), 1);
        const QString log = folder + QStringLiteral("/20260302-070509.log");
        WriteFile(log, "data\r\n");
        // Held by a running copy: not offered.
        QVERIFY(journal::FindUnfinished(folder, ini).isNull());
        // Another run in the same second does not take the live run's name.
        journal::RunMarker second;
        QVERIFY(second.create(folder, m_start, ini));
        QCOMPARE(second.index(), 2);
        second.remove();

        live.reset(); // the process "died": its lock is gone, its marker stays
        QVERIFY(journal::FindUnfinished(dir.filePath(QStringLiteral("other")), ini).isNull());
        QVERIFY(journal::FindUnfinished(folder, dir.filePath(QStringLiteral("other.ini"))).isNull());
        {
            journal::Unfinished u = journal::FindUnfinished(folder, ini);
            QCOMPARE(u.journalPath(), log);
            // While one copy is asking, another does not ask too.
            QVERIFY(journal::FindUnfinished(folder, ini).isNull());
            u.dismiss();
        }
        QVERIFY(journal::FindUnfinished(folder, ini).isNull());
        QCOMPARE(ReadFile(log), QByteArray("data\r\n"));

        // A clean close, and a crash with an empty journal: nothing to offer.
        journal::RunMarker clean;
        QVERIFY(clean.create(folder, m_start.addSecs(1), ini));
        WriteFile(folder + QStringLiteral("/20260302-070510.log"), "x");
        clean.remove();
        auto empty = std::make_unique<journal::RunMarker>();
        QVERIFY(empty->create(folder, m_start.addSecs(2), ini));
        WriteFile(folder + QStringLiteral("/20260302-070511.log"), "");
        empty.reset();
        QVERIFY(journal::FindUnfinished(folder, ini).isNull());
        QCOMPARE(QDir(folder).entryList({QStringLiteral("*.run")}, QDir::Files), QStringList());
    }
};

SERIAL_TEST_MAIN(TestJournal)
#include "tst_journal.moc"
