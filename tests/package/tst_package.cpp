// The Debian package built from this build: its files, its dependencies, the
// three validators, and the program run from the unpacked package.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    int status = -1;
    QString out, err;
};

Run Exec(const QString &program, const QStringList &args, int timeoutMs = 600000,
    const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("did not finish");
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fileList();
    void dependencies();
    void validators_data();
    void validators();
    void desktopEntryAndIcons();
    void unpackedProgramRuns();

private:
    QString m_deb;
    QTemporaryDir m_root;
};

void TestPackage::initTestCase()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VOLTRAK_BUILD_DIR"), QStringLiteral(BINARY_DIR));
    const Run r = Exec(QStringLiteral(SOURCE_DIR "/scripts/package"), {QStringLiteral("--no-build")}, 600000, env);
    QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
    m_deb = r.out.trimmed().split(QLatin1Char('\n')).last();
    QVERIFY2(
        QRegularExpression(QStringLiteral("/voltrak_" PACKAGE_VERSION "_[a-z0-9]+\\.deb$")).match(m_deb).hasMatch(),
        qPrintable(m_deb));
    QVERIFY(QFileInfo(m_deb).absolutePath() == QDir(QStringLiteral(BINARY_DIR)).absolutePath());
    QVERIFY(m_root.isValid());
    QCOMPARE(Exec(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root.path()}).status, 0);
}

void TestPackage::fileList()
{
    const Run r = Exec(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_deb});
    QCOMPARE(r.status, 0);
    QStringList files;
    for (const QString &line : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        QCOMPARE(f.at(1), QStringLiteral("root/root"));
        if (!f.first().startsWith(QLatin1Char('d')))
            files << f.last();
    }
    files.sort();
    const QStringList expected{
        "./usr/bin/voltrak",
        "./usr/bin/zeph4-sim",
        "./usr/share/applications/voltrak.desktop",
        "./usr/share/doc/voltrak/changelog.gz",
        "./usr/share/doc/voltrak/copyright",
        "./usr/share/icons/hicolor/256x256/apps/voltrak.png",
        "./usr/share/icons/hicolor/48x48/apps/voltrak.png",
        "./usr/share/icons/hicolor/scalable/apps/voltrak.svg",
        "./usr/share/man/man1/voltrak.1.gz",
        "./usr/share/man/man1/zeph4-sim.1.gz",
        "./usr/share/metainfo/io.github.voltrak.voltrak.metainfo.xml",
    };
    QCOMPARE(files, expected);
}

void TestPackage::dependencies()
{
    const Run r = Exec(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QStringLiteral("Depends")});
    QCOMPARE(r.status, 0);
    QStringList names;
    for (const QString &d : r.out.split(QLatin1Char(',')))
        names << d.trimmed().section(QLatin1Char(' '), 0, 0);
    // From the shared libraries, and what the program loads at run time.
    for (const char *need : {"libqt6widgets6", "libqt6gui6", "libqt6core6", "libqt6svg6", "libc6",
             "fonts-ipafont-gothic", "fonts-ipafont-mincho", "qt6-translations-l10n"})
        QVERIFY2(names.contains(QLatin1String(need)), need);
    QVERIFY2(names.filter(QStringLiteral("libqcustomplot")).size() == 1, qPrintable(r.out));
}

void TestPackage::validators_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("desktop-file-validate")
        << "desktop-file-validate" << QStringList{m_root.filePath("usr/share/applications/voltrak.desktop")};
    QTest::newRow("appstreamcli") << "appstreamcli"
                                  << QStringList{"validate", "--no-net",
                                         m_root.filePath("usr/share/metainfo/io.github.voltrak.voltrak.metainfo.xml")};
    QTest::newRow("lintian") << "lintian" << QStringList{"--fail-on", "error", m_deb};
}

void TestPackage::validators()
{
    QFETCH(QString, program);
    QFETCH(QStringList, args);
    const Run r = Exec(program, args);
    QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
    // No error lines, whatever the exit status says.
    QVERIFY2(!QRegularExpression(QStringLiteral("(^|\\n)E: |error:"), QRegularExpression::CaseInsensitiveOption)
                  .match(r.out + r.err)
                  .hasMatch(),
        qPrintable(r.out + r.err));
}

void TestPackage::desktopEntryAndIcons()
{
    QFile entry(m_root.filePath("usr/share/applications/voltrak.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
    for (const char *line :
        {"Exec=voltrak %f", "MimeType=text/plain;", "Icon=voltrak", "Name=VOLTRAK", "Name[ja]=VOLTRAK"})
        QVERIFY2(lines.contains(QString::fromUtf8(line)), line);
    QVERIFY(!lines.filter(QStringLiteral("Comment[ja]=")).isEmpty());
    for (int size : {48, 256}) {
        const QImage icon(m_root.filePath(QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/voltrak.png").arg(size)));
        QCOMPARE(icon.size(), QSize(size, size));
        QVERIFY(icon.hasAlphaChannel());
        // The battery's yellow and the curve's red are both there.
        bool yellow = false, red = false;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const QColor c = icon.pixelColor(x, y);
                yellow |= c.alpha() == 255 && c.red() > 220 && c.green() > 200 && c.blue() < 120;
                red |= c.alpha() == 255 && c.red() > 190 && c.green() < 40 && c.blue() < 40;
            }
        QVERIFY(yellow && red);
    }
}

void TestPackage::unpackedProgramRuns()
{
    const QString program = m_root.filePath(QStringLiteral("usr/bin/voltrak"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const Run v = Exec(program, {QStringLiteral("--version")}, 60000, env);
    QCOMPARE(v.status, 0);
    QCOMPARE(v.out, QStringLiteral("VOLTRAK " PACKAGE_VERSION "\n"));

    QTemporaryDir work;
    QFile log(work.filePath(QStringLiteral("a.log")));
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write("Bat-V Bat1 Bat2 Bat3 Bat4\r\n1.40V 0 0 0 0\r\n1.20V 60 50 40 30\r\n1.00V 120 100 80 60\r\n");
    log.close();
    for (const char *name : {"g.bmp", "g.pdf"}) {
        const QString out = work.filePath(QString::fromLatin1(name));
        const Run r = Exec(program,
            {QStringLiteral("--settings"), work.filePath(QStringLiteral("s.ini")), QStringLiteral("--render"),
                log.fileName(), QStringLiteral("--output"), out},
            60000, env);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QFile picture(out);
        QVERIFY(picture.open(QIODevice::ReadOnly));
        const QByteArray magic = out.endsWith(QLatin1String(".pdf")) ? "%PDF" : "BM";
        QCOMPARE(picture.read(magic.size()), magic);
        QVERIFY(picture.size() > 1000);
    }
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
