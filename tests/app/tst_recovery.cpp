// The program itself, run as a child process beside the test: killed in the
// middle of a stream, closed by SIGTERM, and still running while the test
// starts a second copy on the same ini file.
#include "core/Settings.h"
#include "core/SjisText.h"
#include "forms/Forms.h"
#include "forms/Uvoltrak.h"
#include "journal/Journal.h"
#include "tests/support/BoxRecorder.h"
#include "tests/support/PtyHelpers.h"
#include "tests/support/TestFiles.h"
#include "widgets/Application.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"
#include "widgets/LogPane.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {
const QString Question
    = QStringLiteral("VOLTRAK|前回の受信データが保存されていない可能性があります。\r\n受信記録を開きますか？");
} // namespace

class TestRecovery : public QObject
{
    Q_OBJECT
    BoxRecorder m_boxes;

    static void writeIni(const QString &dir, const QString &port)
    {
        QFile f(dir + QStringLiteral("/voltrak.ini"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Ports]\r\nCOM1=" + port.toLocal8Bit() + "\r\n");
    }
    // The program, as a copy in dir, so its ini file and journal folder are dir's.
    static void startProgram(QProcess &p, const QString &dir)
    {
        const QString exe = dir + QStringLiteral("/voltrak");
        if (!QFileInfo::exists(exe) && ::link(VOLTRAK_EXE, QFile::encodeName(exe).constData()) != 0)
            QVERIFY(QFile::copy(QStringLiteral(VOLTRAK_EXE), exe));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(exe, {});
        QVERIFY(p.waitForStarted());
    }
    static QString journalOf(const QString &dir)
    {
        const QStringList logs = QDir(journal::FolderFor(dir + QStringLiteral("/voltrak.ini")))
                                     .entryList({QStringLiteral("*.log")}, QDir::Files);
        return logs.size() == 1 ? dir + QStringLiteral("/logs/") + logs.first() : QString();
    }
    // Sends a line until the program has journalled something, so its port is surely open.
    static void waitUntilReceiving(const Pty &pty, const QString &dir)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 20000) {
            pty.writeAll("probe\r\n");
            for (int i = 0; i < 10; ++i) {
                if (!journalOf(dir).isEmpty() && QFileInfo(journalOf(dir)).size() > 0)
                    return;
                QTest::qWait(20);
            }
        }
        QFAIL("the program never received");
    }
    // This process as a second run on dir's ini file, port on pty.
    void startHere(const QString &dir)
    {
        settings::SetIniFilePath(dir + QStringLiteral("/voltrak.ini"));
        forms::CreateForms();
    }
    void showHere()
    {
        forms::main->show();
        QVERIFY(QTest::qWaitForWindowExposed(forms::main));
    }
    void closeHere()
    {
        forms::main->close();
        forms::DestroyForms();
    }

private slots:
    void initTestCase() { fonts::InstallSubstitutions(); }
    void init()
    {
        settings::ResetToDefaults();
        m_boxes.clear();
    }
    void cleanup()
    {
        forms::DestroyForms();
        errors::SetQuestionAnswer(false);
        settings::SetIniFilePath({});
    }

    // kill -9 in the middle of a stream: everything sent more than a second
    // before is in the journal, and nothing else is; the next run offers it
    // and Yes puts it ahead of what has arrived since.
    void killedRunIsOffered()
    {
        QTemporaryDir dir;
        Pty pty;
        writeIni(dir.path(), pty.name);
        QProcess program;
        startProgram(program, dir.path());
        waitUntilReceiving(pty, dir.path());

        QByteArray sent = "START\r\n";
        for (int v = 0; v < 256; ++v)
            sent += char(v);
        sent += "\r\n";
        QVERIFY(pty.writeAll(sent));
        std::vector<std::pair<qint64, qsizetype>> progress; // (ms, bytes sent by then)
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; clock.elapsed() < 2500; ++i) {
            const QByteArray line = "T=" + QByteArray::number(i) + "  1.254  1.251  1.262  1.249\r\n";
            QVERIFY(pty.writeAll(line));
            sent += line;
            progress.emplace_back(clock.elapsed(), sent.size());
            QTest::qWait(5);
        }
        // A program that already ended has pid 0, and kill(0) would signal this
        // whole process group, the test runner included.
        QVERIFY(program.processId() > 0);
        ::kill(pid_t(program.processId()), SIGKILL);
        const qint64 killedAt = clock.elapsed();
        QVERIFY(program.waitForFinished());

        const QString killedJournal = journalOf(dir.path());
        const QByteArray journalled = ReadFile(killedJournal);
        const qsizetype start = journalled.indexOf("START\r\n");
        QVERIFY(start >= 0);
        const QByteArray stream = journalled.mid(start);
        QVERIFY2(sent.startsWith(stream), "the journal holds bytes that were never sent");
        qsizetype due = 0;
        for (const auto &[ms, bytes] : progress)
            if (ms <= killedAt - 1000)
                due = bytes;
        QVERIFY2(stream.size() >= due, qPrintable(QStringLiteral("%1 of %2 bytes").arg(stream.size()).arg(due)));

        // The next run, on a fresh line, receives before its window is shown.
        Pty next;
        writeIni(dir.path(), next.name);
        startHere(dir.path());
        QVERIFY(next.writeAll("after\r\n"));
        QTRY_COMPARE(forms::main->RichEdit1->lineCount(), 1);
        errors::SetQuestionAnswer(true);
        showHere();
        QCOMPARE(m_boxes.texts(), QStringList{Question});
        QString expected = sjis::decodeText(journalled);
        if (!expected.endsWith(QLatin1Char('\n')))
            expected += QLatin1Char('\n');
        expected += QStringLiteral("after\n");
        forms::main->RichEdit1->flushReceived();
        QCOMPARE(forms::main->RichEdit1->toPlainText(), expected);

        // "受信記録を開く(&R)..." under "開く(&O)...": the open command, starting in the journal folder.
        Tmain *m = forms::main;
        const QList<QAction *> file = m->menuBar()->actions().first()->menu()->actions();
        QCOMPARE(file.indexOf(m->OpenJournal1), file.indexOf(m->Open1) + 1);
        QCOMPARE(m->OpenJournal1->text(), QStringLiteral("受信記録を開く(&R)..."));
        m->OpenDialog = [&] { return killedJournal; };
        m->OpenJournal1->trigger();
        QCOMPARE(m->OpenDialogFolder(), dir.filePath(QStringLiteral("logs")));
        QCOMPARE(m->RichEdit1->toPlainText(), sjis::decodeText(journalled));
        closeHere();

        // That run closed the normal way: no question.
        m_boxes.clear();
        startHere(dir.path());
        showHere();
        QCOMPARE(m_boxes.texts(), QStringList());
    }

    // A journal folder that cannot be made: one warning, and the pane goes on receiving.
    void unwritableFolderWarnsOnce()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("logs"))); // a file where the folder should be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        Pty pty;
        writeIni(dir.path(), pty.name);
        startHere(dir.path());
        showHere();
        QVERIFY(pty.writeAll("one\r\n"));
        QTRY_COMPARE(m_boxes.texts(), QStringList{QStringLiteral("警告|受信記録を書き込めません")});
        QVERIFY(pty.writeAll("two\r\n"));
        QTRY_VERIFY(forms::main->RichEdit1->toPlainText().contains(QStringLiteral("two")));
        QTest::qWait(200);
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(forms::main->RichEdit1->toPlainText(), QStringLiteral("one\ntwo\n"));
        closeHere();
    }

    // A signal while a start-up box waits (here: no device behind the channel)
    // is not lost: the box gives way and the program closes the ordinary way.
    void sigtermDuringStartupBox()
    {
        QTemporaryDir dir;
        writeIni(dir.path(), QStringLiteral("/nonexistent/voltrak-test-port"));
        QProcess program;
        startProgram(program, dir.path());
        // The run marker is made before the port is opened, and after the
        // signal handling is in place.
        const QDir logs(dir.filePath(QStringLiteral("logs")));
        QTRY_VERIFY_WITH_TIMEOUT(!logs.entryList({QStringLiteral("*.run")}, QDir::Files).isEmpty(), 15000);
        QVERIFY(program.processId() > 0);
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(15000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(ReadFile(dir.filePath(QStringLiteral("voltrak.ini"))).contains("[VOLTRAK]\r\nVstop=100\r\n"));
        QCOMPARE(logs.entryList({QStringLiteral("*.run")}, QDir::Files), QStringList());
    }

    // Beside a copy that is still running there is no question; SIGTERM
    // closes that copy through its close path: settings saved, no question.
    void liveCopyThenSigterm()
    {
        QTemporaryDir dir;
        Pty pty;
        writeIni(dir.path(), pty.name);
        QProcess program;
        startProgram(program, dir.path());
        waitUntilReceiving(pty, dir.path());

        startHere(dir.path()); // the port is the other copy's
        showHere();
        QVERIFY(!m_boxes.texts().contains(Question));
        closeHere();

        const QString ini = dir.filePath(QStringLiteral("voltrak.ini"));
        QVERIFY(QFile::remove(ini));
        // A program that already ended has pid 0, and kill(0) would signal this
        // whole process group, the test runner included.
        QVERIFY(program.processId() > 0);
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(15000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(ReadFile(ini).startsWith("[VOLTRAK]\r\nVstop=100\r\n"), ReadFile(ini).constData());
        QCOMPARE(QDir(dir.filePath(QStringLiteral("logs"))).entryList({QStringLiteral("*.run")}, QDir::Files),
            QStringList());

        m_boxes.clear();
        writeIni(dir.path(), pty.name);
        startHere(dir.path());
        showHere();
        QCOMPARE(m_boxes.texts(), QStringList());
    }
};

int main(int argc, char **argv)
{
    VoltrakApplication app(argc, argv);
    TestRecovery t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_recovery.moc"
