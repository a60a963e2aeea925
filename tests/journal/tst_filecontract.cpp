// What the program's files must do on every system, written once and run on Linux and (cross-built) on Windows,
// where safe writes, the journal's file and the run markers have their own implementations: bytes exactly as
// given, no temporary file left behind, refusals that leave the old file alone, markers that tell a live run from
// a dead one.
#include "core/FileReason.h"
#include "core/SafeWrite.h"
#include "journal/Journal.h"
#include "journal/RunMarker.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <memory>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Line breaks of both kinds, a zero, the old end-of-file character and Shift-JIS: text-mode writing would
// change every one of them.
QByteArray Awkward()
{
    return QByteArray("Bat-V Bat1\n4.20\r\n\x1a\x93\xfa\x96\x7b\r", 24) + QByteArray(1, '\0') + "end";
}

} // namespace

class TestFileContract : public QObject
{
    Q_OBJECT
    const QDateTime m_start{QDate(2026, 3, 2), QTime(7, 5, 9)};

private slots:
    void safeWrite_data()
    {
        QTest::addColumn<QByteArray>("before"); // the old content; null: no file yet
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("new file") << QByteArray() << Awkward();
        QTest::newRow("over a longer file") << QByteArray(5000, 'x') << Awkward();
        QTest::newRow("over a shorter file") << QByteArray("a") << QByteArray(70000, 'y');
        QTest::newRow("emptied") << QByteArray("old") << QByteArray("");
    }
    void safeWrite()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, data);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("voltrak.ini"));
        if (!before.isNull()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(before);
        }
        QCOMPARE(safewrite::WriteFile(path, data), safewrite::Method::Replaced);
        QCOMPARE(ReadAll(path), data);
        // Nothing else in the folder: the temporary file became the file.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"voltrak.ini"});
    }

    void safeWriteRefuses_data()
    {
        QTest::addColumn<bool>("folder"); // the path names a folder, else a read-only file
        QTest::newRow("a folder's name") << true;
        QTest::newRow("a read-only file") << false;
    }
    void safeWriteRefuses()
    {
        QFETCH(bool, folder);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("graph.emf"));
        if (folder) {
            QVERIFY(QDir().mkdir(path));
        } else {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("keep");
            f.close();
            QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
            QFile probe(path);
            if (probe.open(QIODevice::WriteOnly | QIODevice::Append))
                QSKIP("this user writes read-only files (root)");
        }
        QVERIFY_THROWS_EXCEPTION(safewrite::WriteError, safewrite::WriteFile(path, "new"));
        if (!folder) {
            QCOMPARE(ReadAll(path), QByteArray("keep"));
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        }
        QCOMPARE(
            QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot),
            QStringList{"graph.emf"});
    }

    // A finished file another writer made takes the target's place whole;
    // a missing one is an error that leaves the target as it was.
    void commitFile_data()
    {
        QTest::addColumn<QByteArray>("before"); // the target's old content; null: none yet
        QTest::addColumn<bool>("made"); // the finished file exists
        QTest::newRow("over an older copy") << QByteArray(9000, 'o') << true;
        QTest::newRow("a first copy") << QByteArray() << true;
        QTest::newRow("nothing was made") << QByteArray("old copy") << false;
    }
    void commitFile()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, made);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("backup.sqlite"));
        const QString part = target + QStringLiteral(".part");
        const auto put = [](const QString &path, const QByteArray &bytes) {
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
        };
        if (!before.isNull())
            QVERIFY(put(target, before));
        if (made)
            QVERIFY(put(part, Awkward()));
        if (made) {
            safewrite::CommitFile(part, target);
            QCOMPARE(ReadAll(target), Awkward());
            QVERIFY(!QFile::exists(part));
        } else {
            QVERIFY_THROWS_EXCEPTION(safewrite::WriteError, safewrite::CommitFile(part, target));
            QCOMPARE(ReadAll(target), before);
        }
    }

    // Why a file cannot be read, as the messages tell it.
    void readProblems_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("problem");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a readable file") << "a.log" << 0 << "";
        QTest::newRow("no such file") << "none.log" << ENOENT << "ファイルまたはフォルダがありません";
        QTest::newRow("a folder") << "logs" << EISDIR << "フォルダです";
        QTest::newRow("below a missing folder") << "gone/a.log" << ENOENT << "ファイルまたはフォルダがありません";
    }
    void readProblems()
    {
        QFETCH(QString, name);
        QFETCH(int, problem);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("a.log")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("logs")));
        QCOMPARE(filereason::ReadProblem(dir.filePath(name)), problem);
        if (problem)
            QCOMPARE(filereason::ReasonText(problem), reason);
        // The probes leave nothing behind, and a folder that is not there takes nothing.
        QVERIFY(filereason::FolderTakesNewFiles(dir.path()));
        QVERIFY(!filereason::FolderTakesNewFiles(dir.filePath(QStringLiteral("gone"))));
        QCOMPARE(filereason::OpensForWriting(dir.filePath(name)), problem == 0);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            (QStringList{"a.log", "logs"}));
    }

    // The journal keeps the bytes as they came, in chunks of any size.
    void journalBytes_data()
    {
        QTest::addColumn<int>("chunk");
        QTest::newRow("byte by byte") << 1;
        QTest::newRow("in sevens") << 7;
        QTest::newRow("at once") << 100000;
    }
    void journalBytes()
    {
        QFETCH(int, chunk);
        QTemporaryDir dir;
        QByteArray data;
        for (int i = 0; i < 20; ++i)
            data += Awkward();
        journal::Journal j(dir.filePath(QStringLiteral("logs")), m_start);
        for (int i = 0; i < data.size(); i += chunk)
            j.append(data.constData() + i, qMin<qsizetype>(chunk, data.size() - i));
        j.close();
        QVERIFY(!j.failed());
        QCOMPARE(j.filePath(), dir.filePath(QStringLiteral("logs/20260302-070509.log")));
        QCOMPARE(ReadAll(j.filePath()), data);
    }

    // A held marker belongs to a live run; one whose holder is gone is offered once, and dismissing it removes
    // the marker, not the journal.
    void markers()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("logs"));
        const QString ini = dir.filePath(QStringLiteral("voltrak.ini"));
        auto live = std::make_unique<journal::RunMarker>();
        QVERIFY(live->create(folder, m_start, ini));
        QCOMPARE(live->index(), 1);
        const QString log = folder + QStringLiteral("/20260302-070509.log");
        {
            QFile f(log);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("data\r\n");
        }
        QVERIFY(journal::FindUnfinished(folder, ini).isNull());
        journal::RunMarker second;
        QVERIFY(second.create(folder, m_start, ini));
        QCOMPARE(second.index(), 2);
        second.remove();

        live.reset(); // the run "died": its lock is gone, its marker stays
        QVERIFY(journal::FindUnfinished(folder, dir.filePath(QStringLiteral("other.ini"))).isNull());
        {
            journal::Unfinished u = journal::FindUnfinished(folder, ini);
            QCOMPARE(u.journalPath(), log);
            QVERIFY(journal::FindUnfinished(folder, ini).isNull()); // while one copy asks, no other does
            u.dismiss();
        }
        QVERIFY(journal::FindUnfinished(folder, ini).isNull());
        QCOMPARE(ReadAll(log), QByteArray("data\r\n"));
        QCOMPARE(QDir(folder).entryList({QStringLiteral("*.run")}, QDir::Files), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestFileContract)
#include "tst_filecontract.moc"
