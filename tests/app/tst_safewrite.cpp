// The one way every writer saves a file: beside and renamed, else in place
// when only the file may be written; permissions, owner and links kept.
#include "app/SafeWrite.h"
#include "tests/FilePermissions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray Read(const QString &p)
{
    QFile f(p);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
void Write(const QString &p, const QByteArray &data)
{
    QFile f(p);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}
mode_t ModeOf(const QString &p)
{
    struct stat st {};
    return ::stat(QFile::encodeName(p).constData(), &st) == 0 ? (st.st_mode & 07777) : mode_t(-1);
}
void Chmod(const QString &p, mode_t mode)
{
    QCOMPARE(::chmod(QFile::encodeName(p).constData(), mode), 0);
}
} // namespace

class TestSafeWrite : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { ::umask(022); }

    void writes_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("fileMode");   // -1: no file before
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("method");     // safewrite::Method when ok
        QTest::addColumn<int>("modeAfter");  // -1: no file after
        QTest::newRow("new file: 0666 less umask") << "plain" << -1 << 0700 << true << int(safewrite::Method::Replaced) << 0644;
        QTest::newRow("existing file keeps its mode") << "plain" << 0640 << 0700 << true << int(safewrite::Method::Replaced) << 0640;
        QTest::newRow("set-id and sticky bits kept") << "plain" << 06751 << 0700 << true << int(safewrite::Method::Replaced) << 06751;
        QTest::newRow("folder not writable: in place") << "plain" << 0600 << 0500 << true << int(safewrite::Method::InPlace) << 0600;
        QTest::newRow("folder not writable, no file") << "plain" << -1 << 0500 << false << 0 << -1;
        QTest::newRow("read-only file is left alone") << "plain" << 0444 << 0700 << false << 0 << 0444;
        QTest::newRow("link: stays a link, target written") << "link" << 0604 << 0700 << true << int(safewrite::Method::Replaced) << 0604;
    }
    void writes()
    {
        QFETCH(QString, kind);
        QFETCH(int, fileMode);
        QFETCH(int, folderMode);
        QFETCH(bool, ok);
        QFETCH(int, method);
        QFETCH(int, modeAfter);
        QTemporaryDir top;
        const QString dir = top.filePath("d");
        QVERIFY(QDir().mkdir(dir));
        const QString file = dir + "/a.txt";
        QString name = file;
        if (kind == "link") {
            name = top.filePath("link.txt");
            QVERIFY(QFile::link(file, name));
        }
        const QByteArray before("old contents, longer than the new");
        if (fileMode >= 0) {
            Write(file, before);
            Chmod(file, mode_t(fileMode));
        }
        Chmod(dir, mode_t(folderMode));
        bool threw = false;
        safewrite::Method used = safewrite::Method::Replaced;
        {
            WithoutPermissionOverride asUser;
            try {
                used = safewrite::WriteFile(name, "new");
            } catch (const safewrite::WriteError &e) {
                threw = true;
                QVERIFY(QString::fromUtf8(e.what()).contains(name));
            }
        }
        Chmod(dir, 0700);
        QCOMPARE(!threw, ok);
        if (ok) {
            QCOMPARE(int(used), method);
            QCOMPARE(Read(file), QByteArray("new"));
        } else if (fileMode >= 0) {
            QCOMPARE(Read(file), before);
        }
        QCOMPARE(int(ModeOf(file)), modeAfter);
        if (kind == "link")
            QVERIFY(QFileInfo(name).isSymLink());
        // No temporary file is ever left behind.
        const QStringList left = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(left, fileMode >= 0 || ok ? QStringList{"a.txt"} : QStringList{});
    }

    void ownerAndGroupKept()
    {
        if (::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        QTemporaryDir dir;
        const QString file = dir.filePath("owned.txt");
        Write(file, "x");
        QCOMPARE(::chown(QFile::encodeName(file).constData(), 65534, 65534), 0);
        QCOMPARE(safewrite::WriteFile(file, "y"), safewrite::Method::Replaced);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        QCOMPARE(int(st.st_uid), 65534);
        QCOMPARE(int(st.st_gid), 65534);
    }

    void devicesAreWrittenNotReplaced()
    {
        QCOMPARE(safewrite::WriteFile("/dev/null", "discarded"), safewrite::Method::InPlace);
        QVERIFY(QFileInfo("/dev/null").isFile() == false);
    }
};

QTEST_GUILESS_MAIN(TestSafeWrite)
#include "tst_safewrite.moc"
