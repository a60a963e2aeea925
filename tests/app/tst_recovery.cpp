// The program itself, run as a child process beside the test: killed in the
// middle of a stream, closed by SIGTERM, and still running while the test
// starts a second copy on the same ini file.
#include "core/Settings.h"
#include "core/SjisText.h"
#include "forms/Forms.h"
#include "forms/Uvoltrak.h"
#include "journal/Journal.h"
#include "journal/PaneSnapshot.h"
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
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>

namespace {
// The question names the run's start and the journal's size.
QString Question(const QString &journalPath)
{
    const QString start = QFileInfo(journalPath).completeBaseName().left(15);
    const QString when
        = QDateTime::fromString(start, QStringLiteral("yyyyMMdd-HHmmss")).toString(QStringLiteral("yyyy/MM/dd HH:mm"));
    return QStringLiteral(
        "VOLTRAK|前回の受信データが保存されていない可能性があります。\r\n%1 の受信記録（%2 バイト）を開きますか？")
        .arg(when)
        .arg(QFileInfo(journalPath).size());
}
bool IsQuestion(const QString &box)
{
    return box.startsWith(QStringLiteral("VOLTRAK|前回の受信データが保存されていない可能性があります。"));
}
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
        const QDateTime restart(QDate(2026, 12, 9), QTime(4, 40));
        forms::main->Clock = [restart] { return restart; };
        QVERIFY(next.writeAll("after\r\n"));
        QTRY_COMPARE(forms::main->RichEdit1->lineCount(), 1);
        errors::SetQuestionAnswer(true);
        showHere();
        QCOMPARE(m_boxes.texts(), QStringList{Question(killedJournal)});
        QString expected = sjis::decodeText(journalled);
        if (!expected.endsWith(QLatin1Char('\n')))
            expected += QLatin1Char('\n');
        // The boundary between the recovered text and this run's.
        expected += QStringLiteral("---- 再開 2026/12/09 04:40 ----\n");
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

    // The pane as the user left it comes back: a note typed after a clear is
    // there, the cleared text is not, and a 再開 line follows. A second crash
    // right after keeps both runs' notes.
    void typedNoteSurvivesTwoCrashes()
    {
        QTemporaryDir dir;
        Pty pty;
        writeIni(dir.path(), pty.name);
        startHere(dir.path());
        showHere();
        Tmain *m = forms::main;
        QVERIFY(pty.writeAll("cleared away\r\n"));
        QTRY_VERIFY(m->RichEdit1->toPlainText().contains(QStringLiteral("cleared away")));
        m->BitBtn4->click(); // クリア
        QTest::keyClicks(m->RichEdit1, "first note");
        QTest::keyClick(m->RichEdit1, Qt::Key_Return);
        QVERIFY(pty.writeAll("T=1 1.25\r\n"));
        QTRY_VERIFY(m->RichEdit1->toPlainText().contains(QStringLiteral("T=1")));
        // Received text alone takes no snapshot; the typing did, a few seconds after.
        QTRY_VERIFY_WITH_TIMEOUT(m->Snapshot()->written() >= 1, 10000);
        const int snapshots = m->Snapshot()->written();
        QVERIFY(pty.writeAll("T=2 1.24\r\n"));
        QTRY_VERIFY(m->Journal()->appendedBytes() > 0 && m->RichEdit1->toPlainText().contains(QStringLiteral("T=2")));
        QTest::qWait(2500);
        QCOMPARE(m->Snapshot()->written(), snapshots);
        const QString stamp = m->RichEdit1->toPlainText().section(QLatin1Char('\n'), 0, 0);
        m->Journal()->close(); // what was received is on disk, as a second after a kill
        forms::DestroyForms(); // no close: the marker and the snapshot stay, as after kill -9

        for (int round = 1; round <= 2; ++round) {
            m_boxes.clear();
            Pty next;
            writeIni(dir.path(), next.name);
            startHere(dir.path());
            m = forms::main;
            const QDateTime restart(QDate(2026, 12, 9), QTime(5, round));
            m->Clock = [restart] { return restart; };
            errors::SetQuestionAnswer(true);
            showHere();
            QCOMPARE(m_boxes.size(), 1);
            QVERIFY(IsQuestion(m_boxes.texts().first()));
            const QString text = m->RichEdit1->toPlainText();
            QString expected = stamp + QStringLiteral("\nfirst note\nT=1 1.25\nT=2 1.24\n");
            if (round == 2)
                expected += QStringLiteral("---- 再開 2026/12/09 05:01 ----\nsecond note\n");
            expected += QStringLiteral("---- 再開 2026/12/09 05:0%1 ----\n").arg(round);
            QCOMPARE(text, expected);
            if (round == 1) {
                // The recovery itself is written at once; then a note of this run.
                QTRY_VERIFY_WITH_TIMEOUT(m->Snapshot()->written() >= 1, 10000);
                QTextCursor c = m->RichEdit1->textCursor();
                c.movePosition(QTextCursor::End);
                m->RichEdit1->setTextCursor(c);
                QTest::keyClicks(m->RichEdit1, "second note");
                QTest::keyClick(m->RichEdit1, Qt::Key_Return);
                QTRY_VERIFY_WITH_TIMEOUT(m->Snapshot()->written() >= 2, 10000);
                forms::DestroyForms();
            } else {
                closeHere();
            }
        }
        // A clean close leaves no marker; the last run's pane, written in by
        // the recovery, stays beside its journal.
        const QDir logs(dir.filePath(QStringLiteral("logs")));
        QCOMPARE(logs.entryList({QStringLiteral("*.run")}, QDir::Files), QStringList());
        QCOMPARE(logs.entryList({QStringLiteral("*.pane")}, QDir::Files).size(), 1);
    }

    // A normal close keeps what was typed: the pane stays beside the journal,
    // the next start asks nothing, and 受信記録を開く shows the run as it
    // ended, notes included. A run nobody wrote in keeps only its journal.
    void normalCloseKeepsThePane_data()
    {
        QTest::addColumn<QString>("note");
        QTest::newRow("a note typed") << "bench note";
        QTest::newRow("nothing typed") << "";
    }
    void normalCloseKeepsThePane()
    {
        QFETCH(QString, note);
        QTemporaryDir dir;
        Pty pty;
        writeIni(dir.path(), pty.name);
        startHere(dir.path());
        showHere();
        Tmain *m = forms::main;
        QVERIFY(pty.writeAll("T=1 1.25\r\n"));
        QTRY_VERIFY(m->RichEdit1->toPlainText().contains(QStringLiteral("T=1")));
        if (!note.isEmpty()) {
            QTextCursor c = m->RichEdit1->textCursor();
            c.movePosition(QTextCursor::End);
            m->RichEdit1->setTextCursor(c);
            QTest::keyClicks(m->RichEdit1, note);
        }
        const QString shown = m->RichEdit1->toPlainText();
        // The journal's writer makes the file on its own thread, maybe after the pane shows the bytes.
        QString journal;
        QTRY_VERIFY(!(journal = journalOf(dir.path())).isEmpty());
        closeHere(); // at once: no snapshot delay has passed
        QCOMPARE(QFileInfo::exists(journal::SnapshotPathFor(journal)), !note.isEmpty());

        m_boxes.clear();
        Pty next;
        writeIni(dir.path(), next.name);
        startHere(dir.path());
        showHere();
        m = forms::main;
        QCOMPARE(m_boxes.size(), 0);
        m->OpenDialog = [journal] { return journal; };
        m->OpenJournal1->trigger();
        QCOMPARE(m->RichEdit1->toPlainText().contains(note), true);
        if (!note.isEmpty())
            QCOMPARE(m->RichEdit1->toPlainText(), shown);
        else
            QVERIFY(m->RichEdit1->toPlainText().contains(QStringLiteral("T=1 1.25")));
        closeHere();
    }

    // Typing into a pane whose snapshot folder cannot be made: one warning,
    // and received text after it adds no second one.
    void unwritableSnapshotFolderWarnsOnce()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("logs")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        Pty pty;
        writeIni(dir.path(), pty.name);
        startHere(dir.path());
        showHere();
        QTest::keyClicks(forms::main->RichEdit1, "note");
        QTRY_COMPARE_WITH_TIMEOUT(
            m_boxes.texts(), QStringList{QStringLiteral("警告|ログ画面の控えを書き込めません")}, 10000);
        QTest::keyClicks(forms::main->RichEdit1, " more");
        QVERIFY(pty.writeAll("one\r\n"));
        QTRY_VERIFY(forms::main->RichEdit1->toPlainText().contains(QStringLiteral("one")));
        QTRY_VERIFY(forms::main->Journal()->failed());
        QTest::qWait(6000); // past the snapshot's longest delay
        QCOMPARE(m_boxes.size(), 1);
        closeHere();
    }

    // A setting changed in a dialog is in the ini before any close; a crash keeps it.
    void settingSurvivesACrash()
    {
        QTemporaryDir dir;
        writeIni(dir.path(), QStringLiteral("/nonexistent/voltrak-test-port"));
        startHere(dir.path());
        showHere();
        QVERIFY(settings::Hdisp == 0);
        settings::Hdisp = 1; // 容量表示 = 表示, as the graph settings dialog sets it
        const QString ini = dir.filePath(QStringLiteral("voltrak.ini"));
        QTRY_VERIFY_WITH_TIMEOUT(ReadFile(ini).contains("\r\nHdisp=1\r\n"), 10000);
        QVERIFY(ReadFile(ini).startsWith("[Ports]\r\nCOM1=/nonexistent/voltrak-test-port\r\n"));
        forms::DestroyForms(); // no close
        settings::ResetToDefaults();
        startHere(dir.path());
        QCOMPARE(settings::Hdisp, 1);
        closeHere();
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
        const QStringList boxes = m_boxes.texts();
        QVERIFY(std::none_of(boxes.begin(), boxes.end(), IsQuestion));
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
