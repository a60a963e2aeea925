#include "core/IniFile.h"
#include "core/Settings.h"
#include "tests/support/BoxRecorder.h"
#include "tests/support/FilePermissions.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class TestIniFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    BoxRecorder m_boxes;

    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    static void write(const QString &p, const QByteArray &data)
    {
        QFile f(p);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    static QByteArray read(const QString &p)
    {
        QFile f(p);
        if (!f.open(QIODevice::ReadOnly))
            return QByteArray();
        return f.readAll();
    }

private slots:
    void init()
    {
        settings::ResetToDefaults();
        m_boxes.clear();
    }

    void parseInteger_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("decimal") << QByteArray("9999") << true << 9999;
        QTest::newRow("negative") << QByteArray("-42") << true << -42;
        QTest::newRow("plus sign") << QByteArray("+7") << true << 7;
        QTest::newRow("blanks around") << QByteArray("  12 ") << true << 12;
        QTest::newRow("0x hex") << QByteArray("0x1F") << true << 31;
        QTest::newRow("0X hex") << QByteArray("0XfF") << true << 255;
        QTest::newRow("dollar hex") << QByteArray("$64") << true << 100;
        QTest::newRow("negative hex") << QByteArray("-$10") << true << -16;
        QTest::newRow("hex all bits") << QByteArray("$FFFFFFFF") << true << -1;
        QTest::newRow("int max") << QByteArray("2147483647") << true << 2147483647;
        QTest::newRow("int min") << QByteArray("-2147483648") << true << int(-2147483647 - 1);
        QTest::newRow("above int max") << QByteArray("2147483648") << false << 0;
        QTest::newRow("33-bit hex") << QByteArray("0x100000000") << false << 0;
        QTest::newRow("letters") << QByteArray("abc") << false << 0;
        QTest::newRow("trailing junk") << QByteArray("12abc") << false << 0;
        QTest::newRow("decimal point") << QByteArray("1.5") << false << 0;
        QTest::newRow("empty") << QByteArray("") << false << 0;
        QTest::newRow("sign only") << QByteArray("-") << false << 0;
        QTest::newRow("prefix only") << QByteArray("0x") << false << 0;
        QTest::newRow("hex digits without prefix") << QByteArray("1F") << false << 0;
    }
    void parseInteger()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        qint32 v = 12345;
        QCOMPARE(IniFile::parseInteger(text, &v), ok);
        if (ok)
            QCOMPARE(v, value);
        else
            QCOMPARE(v, 12345); // untouched on failure
    }

    void firstRunWritesAllKeysInOrder()
    {
        const QString p = path("first.ini");
        settings::LoadSettings(p);
        QCOMPARE(settings::Vref, 250);
        settings::Gwide = 777;
        settings::SaveSettings(p);
        const QByteArray expected = "[VOLTRAK]\r\nVstop=100\r\nVref=250\r\nTxcyc=0\r\nBeep=1\r\nTstop=0\r\nTsel=0\r\n"
                                    "Gtmax=120\r\nGvmax=150\r\nGwide=777\r\nGheit=300\r\nComch=1\r\nWmain=277\r\n"
                                    "Hmain=400\r\nHteiko=100\r\nHvds=5\r\nHtime=0\r\nHdisp=0\r\n";
        QCOMPARE(read(p), expected);
        QVERIFY(m_boxes.isEmpty());
    }

    void valuesLoad_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("vstop");
        QTest::addColumn<QByteArray>("writtenBack");
        QTest::newRow("text gives default") << QByteArray("Vstop=abc") << 100 << QByteArray("Vstop=100");
        QTest::newRow("no clamping") << QByteArray("Vstop=9999") << 9999 << QByteArray("Vstop=9999");
        QTest::newRow("hex") << QByteArray("Vstop=0x50") << 80 << QByteArray("Vstop=80");
        QTest::newRow("dollar") << QByteArray("Vstop=$50") << 80 << QByteArray("Vstop=80");
        QTest::newRow("key case") << QByteArray("VSTOP=90") << 90 << QByteArray("Vstop=90");
        QTest::newRow("too large") << QByteArray("Vstop=99999999999") << 100 << QByteArray("Vstop=100");
        QTest::newRow("empty value") << QByteArray("Vstop=") << 100 << QByteArray("Vstop=100");
    }
    void valuesLoad()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, vstop);
        QFETCH(QByteArray, writtenBack);
        const QString p = path("values.ini");
        write(p, "[VOLTRAK]\r\n" + line + "\r\nVref=251\r\n");
        settings::LoadSettings(p);
        QCOMPARE(settings::Vstop, vstop);
        QCOMPARE(settings::Vref, 251);
        settings::SaveSettings(p);
        const QByteArray after = read(p);
        QVERIFY2(after.startsWith("[VOLTRAK]\r\n" + writtenBack + "\r\nVref=251\r\n"), after.constData());
    }

    void otherLinesSurviveByteForByte()
    {
        const QString p = path("keep.ini");
        // A comment, an unknown key, another section with a Shift-JIS value and
        // a "Ports" section the program reads but never writes.
        const QByteArray before = "; \x83\x52\x83\x81\x83\x93\x83\x67\r\n"
                                  "[Ports]\r\nCOM1=/dev/ttyUSB0\r\n\r\n"
                                  "[VOLTRAK]\r\nGtmax=200\r\nMyOwnKey=hello  \r\nVstop=120\r\n\r\n"
                                  "[Other]\r\nName=\x93\xfa\x96\x7b\r\nVstop=1\r\n";
        write(p, before);
        settings::LoadSettings(p);
        QCOMPARE(settings::Gtmax, 200);
        QCOMPARE(settings::Vstop, 120);
        settings::Vstop = 130;
        settings::SaveSettings(p);
        const QByteArray after = read(p);
        QVERIFY(after.startsWith("; \x83\x52\x83\x81\x83\x93\x83\x67\r\n[Ports]\r\nCOM1=/dev/ttyUSB0\r\n\r\n"));
        QVERIFY(after.contains("[VOLTRAK]\r\nGtmax=200\r\nMyOwnKey=hello  \r\nVstop=130\r\n"));
        QVERIFY(after.endsWith("\r\n\r\n[Other]\r\nName=\x93\xfa\x96\x7b\r\nVstop=1\r\n"));
        // The fifteen keys the file lacked are added to the section, before its blank line.
        const int section = int(after.indexOf("[VOLTRAK]"));
        const int other = int(after.indexOf("[Other]"));
        for (const settings::SettingSlot *s = settings::SettingsTable; s->key; ++s) {
            const int at = int(after.indexOf("\r\n" + QByteArray(s->key) + '=', section));
            QVERIFY2(at > section && at < other, s->key);
        }
        QCOMPARE(
            IniFile(p).readString(QStringLiteral("Ports"), QStringLiteral("COM1")), QStringLiteral("/dev/ttyUSB0"));
    }

    void readOnlyFileWarnsAndKeepsFile()
    {
        WithoutPermissionOverride asUser;
        QTemporaryDir dir;
        const QString p = dir.filePath(QStringLiteral("ro.ini"));
        const QByteArray before = "[VOLTRAK]\r\nVstop=77\r\n";
        write(p, before);
        QFile::setPermissions(p, QFileDevice::ReadOwner);
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        settings::Vstop = 88;
        settings::SaveSettings(p);
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(m_boxes.texts(), QStringList{QStringLiteral("警告|iniファイル書き込み失敗")});
        QCOMPARE(read(p), before);
    }

    void byteOrderMarkIsSkippedAndKept()
    {
        const QString p = path("bom.ini");
        write(p, "\xEF\xBB\xBF[VOLTRAK]\r\nVstop=77\r\n; \x93\xFA\x96\x7B\r\n");
        settings::LoadSettings(p);
        QCOMPARE(settings::Vstop, 77);
        settings::Vstop = 78;
        settings::SaveSettings(p);
        QVERIFY(m_boxes.isEmpty());
        const QByteArray after = read(p);
        QVERIFY(after.startsWith("\xEF\xBB\xBF[VOLTRAK]\r\nVstop=78\r\n"));
        QCOMPARE(after.count("[VOLTRAK]"), 1);
        QVERIFY(after.contains("; \x93\xFA\x96\x7B\r\n"));
    }

    void foreignFilesAreNeverOverwritten_data()
    {
        QTest::addColumn<QByteArray>("data");
        const QString text = QStringLiteral("[VOLTRAK]\r\nVstop=77\r\n");
        QByteArray le("\xFF\xFE"), be("\xFE\xFF");
        for (QChar c : text) {
            le.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
            be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
        }
        QTest::newRow("UTF-16LE") << le;
        QTest::newRow("UTF-16BE") << be;
        QTest::newRow("UTF-16LE without mark") << le.mid(2);
        QTest::newRow("a zero byte in text") << QByteArray("[VOLTRAK]\r\nVstop=77\r\n\0\r\n", 24);
    }
    void foreignFilesAreNeverOverwritten()
    {
        QFETCH(QByteArray, data);
        const QString p = path("foreign.ini");
        write(p, data);
        settings::LoadSettings(p);
        QCOMPARE(settings::Vstop, 100); // defaults
        settings::SaveSettings(p);
        QCOMPARE(m_boxes.texts(), QStringList{QStringLiteral("警告|iniファイル書き込み失敗")});
        QCOMPARE(read(p), data);
    }

    void unwritableFolderWritableFileIsWrittenInPlace()
    {
        WithoutPermissionOverride asUser;
        QTemporaryDir dir;
        const QString p = dir.filePath(QStringLiteral("in.ini"));
        write(p, "[VOLTRAK]\r\nVstop=77\r\n");
        QVERIFY(QFile::setPermissions(p, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        settings::Vstop = 88;
        settings::SaveSettings(p);
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(m_boxes.isEmpty());
        QVERIFY(read(p).startsWith("[VOLTRAK]\r\nVstop=88\r\n"));
        struct stat st { };
        QCOMPARE(::stat(QFile::encodeName(p).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
    }

    void unwritableLocationWarns()
    {
        // A path under a regular file can never be created, even by root.
        const QString blocker = path("blocker");
        write(blocker, "x");
        settings::SaveSettings(blocker + QStringLiteral("/voltrak.ini"));
        QCOMPARE(m_boxes.texts(), QStringList{QStringLiteral("警告|iniファイル書き込み失敗")});
    }

    void failedSaveLeavesNoTemporaryFiles()
    {
        const QString blocker = path("blocker2");
        write(blocker, "x");
        IniFile ini(blocker + QStringLiteral("/a.ini"));
        ini.writeInteger(QStringLiteral("VOLTRAK"), QStringLiteral("Vstop"), 1);
        QVERIFY_THROWS_EXCEPTION(IniWriteError, ini.save());
        QCOMPARE(read(blocker), QByteArray("x"));
    }

    void firstSectionOfANameIsUsed()
    {
        const QString p = path("twice.ini");
        write(p, "[voltrak]\r\nVstop=60\r\n[VOLTRAK]\r\nVstop=70\r\n");
        IniFile ini(p);
        QCOMPARE(ini.readInteger(QStringLiteral("VOLTRAK"), QStringLiteral("Vstop"), 0), 60);
        QCOMPARE(ini.keys(QStringLiteral("VOLTRAK")), QStringList{QStringLiteral("Vstop")});
    }
};

QTEST_MAIN(TestIniFile)
#include "tst_inifile.moc"
