// The pane snapshot beside the journal: its file, the text it gives back
// after a crash, its writer thread and what the next start finds.
#include "core/SjisText.h"
#include "journal/PaneSnapshot.h"
#include "journal/RunMarker.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

using journal::SnapshotContent;
Q_DECLARE_METATYPE(std::optional<SnapshotContent>)

class TestPaneSnapshot : public QObject
{
    Q_OBJECT
    const QDateTime m_taken{QDate(2026, 3, 2), QTime(7, 5, 9)};

    SnapshotContent content(qint64 length, const QByteArray &text) const
    {
        SnapshotContent s;
        s.journalLength = length;
        s.taken = m_taken;
        s.text = text;
        return s;
    }

private slots:
    void decodeRefusesWhatIsNotOne_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("a log file") << QByteArray("Bat-V Bat1\r\n1.40V 0 0 0 0\r\n");
        QTest::newRow("no line end") << QByteArray("VOLTRAK-PANE 1 12 20260302070509");
        QTest::newRow("negative length") << QByteArray("VOLTRAK-PANE 1 -3 20260302070509\nx");
        QTest::newRow("length not a number") << QByteArray("VOLTRAK-PANE 1 1x 20260302070509\nx");
        QTest::newRow("bad time") << QByteArray("VOLTRAK-PANE 1 12 2026-03-02\nx");
        QTest::newRow("field missing") << QByteArray("VOLTRAK-PANE 1 12\nx");
        QTest::newRow("another version") << QByteArray("VOLTRAK-PANE 2 12 20260302070509\nx");
    }
    void decodeRefusesWhatIsNotOne()
    {
        QFETCH(QByteArray, file);
        QVERIFY(!journal::DecodeSnapshot(file).has_value());
    }

    // Text with line ends, Shift-JIS bytes and a line that looks like the header survives.
    void encodeThenDecode()
    {
        const QByteArray text = sjis::encode(QStringLiteral("メモ\r\nVOLTRAK-PANE 1 5 20260302070509\r\nend"));
        const auto back = journal::DecodeSnapshot(journal::EncodeSnapshot(content(123456789012, text)));
        QVERIFY(back.has_value());
        QCOMPARE(back->journalLength, 123456789012);
        QCOMPARE(back->taken, m_taken);
        QCOMPARE(back->text, text);
    }

    void recoveredText_data()
    {
        QTest::addColumn<std::optional<SnapshotContent>>("snapshot");
        QTest::addColumn<QByteArray>("journal");
        QTest::addColumn<QString>("expected");
        const QByteArray rx = "T=1 1.25\r\nT=2 1.24\r\n";
        QTest::newRow("no snapshot: the journal alone")
            << std::optional<SnapshotContent>() << rx << QStringLiteral("T=1 1.25\nT=2 1.24\n");
        // The user cleared after T=1 and typed a note; T=2 arrived later.
        QTest::newRow("cleared text stays cleared, the note and the tail come back")
            << std::optional<SnapshotContent>(content(10, sjis::encode(QStringLiteral("2026/03/02 07:05\r\nメモ\r\n"))))
            << rx << QStringLiteral("2026/03/02 07:05\nメモ\nT=2 1.24\n");
        QTest::newRow("nothing after the snapshot")
            << std::optional<SnapshotContent>(content(rx.size(), "note\r\n")) << rx << QStringLiteral("note\n");
        QTest::newRow("journal cut shorter than the snapshot says")
            << std::optional<SnapshotContent>(content(500, "note\r\n")) << rx << QStringLiteral("note\n");
        QTest::newRow("CR LF split by the snapshot is one break") << std::optional<SnapshotContent>(
            content(4, "T=1\r\n")) << QByteArray("T=1\r\nT=2\r\n") << QStringLiteral("T=1\nT=2\n");
        QTest::newRow("a character split by the snapshot comes whole from the tail")
            << std::optional<SnapshotContent>(content(3, "ab:"))
            << (QByteArray("ab:") + sjis::encode(QStringLiteral("電"))) << QStringLiteral("ab:電");
    }
    void recoveredText()
    {
        QFETCH(std::optional<SnapshotContent>, snapshot);
        QFETCH(QByteArray, journal);
        QFETCH(QString, expected);
        QCOMPARE(journal::RecoveredText(snapshot, journal), expected);
    }

    void restartLine()
    {
        QCOMPARE(journal::RestartLine(QDateTime(QDate(2026, 12, 9), QTime(4, 7, 59))),
            QStringLiteral("---- 再開 2026/12/09 04:07 ----"));
        // An absolute path on either system ("/x/logs", "C:/x/logs").
        const QString logs = QDir::rootPath() + QStringLiteral("x/logs/");
        QCOMPARE(journal::SnapshotPathFor(logs + QStringLiteral("20260302-070509-2.log")),
            logs + QStringLiteral("20260302-070509-2.pane"));
    }

    // What the writer leaves is the text as 保存 writes it, and the last text given wins.
    void writerKeepsTheLatest()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("run.pane"));
        journal::PaneSnapshot s(path);
        for (int i = 0; i < 50; ++i)
            s.write(QStringLiteral("line %1\nメモ").arg(i), i, m_taken);
        s.finish();
        QVERIFY(s.written() >= 1);
        const auto back = journal::DecodeSnapshot(ReadFile(path));
        QVERIFY(back.has_value());
        QCOMPARE(back->journalLength, 49);
        QCOMPARE(back->text, sjis::encode(QStringLiteral("line 49\r\nメモ")));
        // No temporary file is left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("run.pane")});
        s.remove();
        QVERIFY(!QFileInfo::exists(path));
    }

    void unwritableFolderFailsOnce()
    {
        QTemporaryDir dir;
        const QString blocker = dir.filePath(QStringLiteral("logs")); // a file where the folder should be
        WriteFile(blocker, "x");
        journal::PaneSnapshot s(blocker + QStringLiteral("/run.pane"));
        QSignalSpy failed(&s, &journal::PaneSnapshot::writeFailed);
        s.write(QStringLiteral("one"), 0, m_taken);
        QTRY_COMPARE(failed.size(), 1);
        s.write(QStringLiteral("two"), 0, m_taken);
        s.finish();
        QCoreApplication::processEvents();
        QCOMPARE(failed.size(), 1);
        QCOMPARE(s.written(), 0);
    }

    // A crashed run that received nothing but had a note typed is still offered;
    // answering removes the snapshot with the marker, the journal stays.
    void noteAloneIsOffered()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("logs"));
        const QString ini = dir.filePath(QStringLiteral("voltrak.ini"));
        QString pane;
        {
            journal::RunMarker marker;
            QVERIFY(marker.create(folder, m_taken, ini));
            pane = folder + QStringLiteral("/20260302-070509.pane");
            journal::PaneSnapshot s(pane);
            s.write(QStringLiteral("note"), 0, m_taken);
        } // the marker is left behind, as by a crash
        journal::Unfinished run = journal::FindUnfinished(folder, ini);
        QVERIFY(!run.isNull());
        QCOMPARE(run.snapshotPath(), pane);
        run.dismiss();
        QVERIFY(!QFileInfo::exists(pane));
        QVERIFY(journal::FindUnfinished(folder, ini).isNull());
    }

    // Of several crashed runs the one changed last is offered, by its journal
    // or its notes, whichever is newer; runs with nothing in them are passed
    // over. The others' markers and notes go without a question, their
    // journals stay. Each run: "log@s", "pane@s", "log@s+pane@s" or "empty",
    // s seconds after the first start.
    void latestOfSeveralIsOffered_data()
    {
        QTest::addColumn<QStringList>("runs");
        QTest::addColumn<int>("offered");
        QTest::newRow("newest journal") << QStringList{"log@0", "log@60", "log@30"} << 1;
        QTest::newRow("notes newer than any journal") << QStringList{"log@60", "pane@120"} << 1;
        QTest::newRow("a run's notes count for it") << QStringList{"log@0+pane@200", "log@100"} << 0;
        QTest::newRow("empty runs passed over") << QStringList{"log@0", "empty", "empty"} << 0;
        QTest::newRow("only empty runs") << QStringList{"empty", "empty"} << -1;
    }
    void latestOfSeveralIsOffered()
    {
        QFETCH(QStringList, runs);
        QFETCH(int, offered);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("logs"));
        const QString ini = dir.filePath(QStringLiteral("voltrak.ini"));
        QStringList journals, markers, panes;
        const auto touch = [](const QString &path, const QByteArray &data, const QDateTime &when) {
            QFile f(path);
            // Flushed first: a write after the time is set would set it again.
            return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.flush()
                && f.setFileTime(when, QFileDevice::FileModificationTime);
        };
        for (int i = 0; i < runs.size(); ++i) {
            journal::RunMarker marker;
            QVERIFY(marker.create(folder, m_taken.addSecs(i), ini)); // left behind, as by a crash
            const QString base = marker.path().chopped(4); // without ".run"
            journals << base + QStringLiteral(".log");
            markers << marker.path();
            panes << journal::SnapshotPathFor(journals.last());
            for (const QString &part : runs[i].split(QLatin1Char('+'))) {
                const QDateTime when = m_taken.addSecs(part.section(QLatin1Char('@'), 1).toInt() + 3600);
                if (part.startsWith(QLatin1String("log")))
                    QVERIFY(touch(journals.last(), "T=1 1.25\r\n", when));
                else if (part.startsWith(QLatin1String("pane")))
                    QVERIFY(touch(panes.last(), "notes", when));
            }
        }
        journal::Unfinished run = journal::FindUnfinished(folder, ini);
        QCOMPARE(run.isNull(), offered < 0);
        if (offered >= 0)
            QCOMPARE(run.journalPath(), QFileInfo(journals[offered]).absoluteFilePath());
        for (int i = 0; i < runs.size(); ++i) {
            QCOMPARE(QFileInfo::exists(markers[i]), i == offered);
            if (i != offered)
                QVERIFY(!QFileInfo::exists(panes[i]));
            QCOMPARE(QFileInfo::exists(journals[i]), runs[i].contains(QLatin1String("log")));
        }
        run.dismiss();
        QVERIFY(journal::FindUnfinished(folder, ini).isNull());
    }
};

QTEST_GUILESS_MAIN(TestPaneSnapshot)
#include "tst_panesnapshot.moc"
