// The one way every writer saves a file: beside and renamed, else in place
// when only the file may be written; permissions, owner and links kept.
#include "core/SafeWrite.h"
#include "tests/support/FilePermissions.h"

#include <QDir>
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
struct stat StatOf(const QString &p)
{
    struct stat st { };
    if (::stat(QFile::encodeName(p).constData(), &st) != 0)
        st.st_mode = mode_t(-1);
    return st;
}
int Chmod(const QString &p, int mode)
{
    return ::chmod(QFile::encodeName(p).constData(), mode_t(mode));
}
} // namespace

class TestSafeWrite : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { ::umask(022); }

    void writes_data()
    {
        QTest::addColumn<bool>("link");
        QTest::addColumn<int>("fileMode"); // -1: no file before
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("method"); // -1: refused
        QTest::addColumn<int>("modeAfter"); // -1: no file after
        const int replaced = int(safewrite::Method::Replaced), inPlace = int(safewrite::Method::InPlace);
        QTest::newRow("new file: 0666 less umask") << false << -1 << 0700 << replaced << 0644;
        QTest::newRow("existing file keeps its mode") << false << 0640 << 0700 << replaced << 0640;
        QTest::newRow("set-id and sticky bits kept") << false << 06751 << 0700 << replaced << 06751;
        QTest::newRow("folder not writable: in place") << false << 0600 << 0500 << inPlace << 0600;
        QTest::newRow("folder not writable, no file") << false << -1 << 0500 << -1 << -1;
        QTest::newRow("read-only file is left alone") << false << 0444 << 0700 << -1 << 0444;
        QTest::newRow("link stays, target written") << true << 0604 << 0700 << replaced << 0604;
    }
    void writes()
    {
        QFETCH(bool, link);
        QFETCH(int, fileMode);
        QFETCH(int, folderMode);
        QFETCH(int, method);
        QFETCH(int, modeAfter);
        QTemporaryDir top;
        const QString dir = top.filePath("d"), file = dir + "/a.txt";
        QVERIFY(QDir().mkdir(dir));
        const QString name = link ? top.filePath("link.txt") : file;
        QVERIFY(!link || QFile::link(file, name));
        const QByteArray before("old contents, longer than the new");
        if (fileMode >= 0) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
            f.close();
            QCOMPARE(Chmod(file, fileMode), 0);
        }
        QCOMPARE(Chmod(dir, folderMode), 0);
        int used = -1;
        {
            WithoutPermissionOverride asUser;
            try {
                used = int(safewrite::WriteFile(name, "new"));
            } catch (const safewrite::WriteError &e) {
                QVERIFY(QString::fromUtf8(e.what()).contains(name));
            }
        }
        QCOMPARE(Chmod(dir, 0700), 0);
        QCOMPARE(used, method);
        if (fileMode >= 0 || method >= 0)
            QCOMPARE(Read(file), method >= 0 ? QByteArray("new") : before);
        const mode_t m = StatOf(file).st_mode;
        QCOMPARE(m == mode_t(-1) ? -1 : int(m & 07777), modeAfter);
        QVERIFY(!link || QFileInfo(name).isSymLink());
        // No temporary file is ever left behind.
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
            fileMode >= 0 || method >= 0 ? 1 : 0);
    }

    void ownerKeptAndDevicesNotReplaced()
    {
        QCOMPARE(safewrite::WriteFile("/dev/null", "discarded"), safewrite::Method::InPlace);
        if (::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        QTemporaryDir dir;
        const QString file = dir.filePath("owned.txt");
        safewrite::WriteFile(file, "x");
        QCOMPARE(::chown(QFile::encodeName(file).constData(), 65534, 65534), 0);
        QCOMPARE(safewrite::WriteFile(file, "y"), safewrite::Method::Replaced);
        QCOMPARE(int(StatOf(file).st_uid), 65534);
        QCOMPARE(int(StatOf(file).st_gid), 65534);
    }
};

QTEST_GUILESS_MAIN(TestSafeWrite)
#include "tst_safewrite.moc"
