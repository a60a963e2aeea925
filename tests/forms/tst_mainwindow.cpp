#include "core/IniFile.h"
#include "core/Settings.h"
#include "forms/Forms.h"
#include "forms/Uvoltrak.h"
#include "tests/support/BoxRecorder.h"
#include "tests/support/TestFiles.h"
#include "widgets/Application.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"
#include "widgets/LogPane.h"
#include "widgets/WindowSize.h"

#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT
    BoxRecorder m_boxes;
    QTemporaryDir m_dir;

    static void writeIni(const QByteArray &voltrakSection)
    {
        QFile f(settings::IniFilePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        // No device behind channel 1, so start-up never touches a real port.
        f.write("[Ports]\r\nCOM1=/nonexistent/voltrak-test-port\r\n[VOLTRAK]\r\n" + voltrakSection);
    }
    static QByteArray readIni()
    {
        QFile f(settings::IniFilePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void initTestCase() { fonts::InstallSubstitutions(); }

    void init()
    {
        settings::ResetToDefaults();
        m_boxes.clear();
        QFile::remove(settings::IniFilePath());
        QDir().rmdir(settings::IniFilePath());
    }
    void cleanup()
    {
        forms::DestroyForms();
        QFile::remove(settings::IniFilePath());
        QDir().rmdir(settings::IniFilePath());
    }

    // The file dialogs and standard buttons speak Japanese like the rest.
    void toolkitTextsAreJapanese()
    {
        QVERIFY(fonts::InstallJapaneseTranslations());
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("キャンセル"));
    }

    void portFailureStillStartsEmpty()
    {
        writeIni("");
        forms::CreateForms();
        QCOMPARE(m_boxes.texts(), QStringList{QStringLiteral("VOLTRAK|ポートをオープンできませんでした.")});
        QCOMPARE(forms::main->RichEdit1->contentsBytes(), QByteArray());
        QCOMPARE(forms::main->windowTitle(), QStringLiteral("VOLTRAK"));
    }

    // The first show pulls hand-edited values into the dialogs' ranges; later shows push nothing.
    void firstShowPushesOnce()
    {
        writeIni("Gtmax=500\r\nHtime=7\r\nGvmax=10\r\nWmain=300\r\nHmain=420\r\n");
        forms::CreateForms();
        QCOMPARE(settings::Gtmax, 500);
        forms::main->show();
        QVERIFY(QTest::qWaitForWindowExposed(forms::main));
        QCOMPARE(settings::Gtmax, 360);
        QCOMPARE(settings::Htime, 2);
        QCOMPARE(settings::Gvmax, 110);
        QCOMPARE(windowsize::outer(forms::main), QSize(300, 420));
        settings::Gtmax = 500;
        forms::main->hide();
        forms::main->show();
        QCOMPARE(settings::Gtmax, 500);
    }

    // At the default width every menu sits on the bar, none behind its overflow button.
    void allMenusFitDefaultWidth()
    {
        writeIni("");
        forms::CreateForms();
        forms::main->show();
        QVERIFY(QTest::qWaitForWindowExposed(forms::main));
        QCOMPARE(windowsize::outer(forms::main), QSize(277, 400));
        QMenuBar *bar = forms::main->menuBar();
        const QList<QAction *> menus = bar->actions();
        QCOMPARE(menus.size(), 5);
        for (QAction *menu : menus) {
            const QRect r = bar->actionGeometry(menu);
            QVERIFY2(!r.isEmpty() && bar->rect().contains(r), qPrintable(menu->text()));
        }
    }

    void resizeThenCloseStoresSize()
    {
        writeIni("");
        forms::CreateForms();
        forms::main->show();
        QVERIFY(QTest::qWaitForWindowExposed(forms::main));
        windowsize::setOuter(forms::main, 350, 450);
        QTRY_COMPARE(settings::Wmain, 350);
        QCOMPARE(settings::Hmain, 450);
        forms::main->close();
        const QByteArray ini = readIni();
        QVERIFY2(ini.contains("\r\nWmain=350\r\nHmain=450\r\n"), ini.constData());
        // The Ports section is the user's: kept as it was.
        QVERIFY(ini.startsWith("[Ports]\r\nCOM1=/nonexistent/voltrak-test-port\r\n[VOLTRAK]\r\nVstop=100\r\n"));
        QVERIFY(m_boxes.size() == 1); // only the port failure at start-up
    }

    void unwritableIniWarnsAndCloses()
    {
        QVERIFY(QDir().mkdir(settings::IniFilePath())); // a directory where the file should be
        forms::CreateForms();
        forms::main->show();
        m_boxes.clear();
        QVERIFY(forms::main->close());
        QCOMPARE(m_boxes.texts(), QStringList{QStringLiteral("警告|iniファイル書き込み失敗")});
        QVERIFY(!forms::main->isVisible());
    }

    void clearOpenSaveThroughCommands()
    {
        writeIni("");
        forms::CreateForms();
        Tmain *m = forms::main;
        m->Clock = [] { return QDateTime(QDate(2006, 3, 2), QTime(7, 5)); };
        m->BitBtn4->click();
        QCOMPARE(m->RichEdit1->contentsBytes(), QByteArray("2006/03/02 07:05\r\n"));

        const QString path = m_dir.filePath(QStringLiteral("log.txt"));
        m->RichEdit1->appendReceived("Bat-V Bat1 Bat2 Bat3 Bat4\r\n");
        m->SaveDialog = [&] { return path; };
        m->BitBtn2->click();
        m->BitBtn4->click();
        m->OpenDialog = [&] { return path; };
        m->Open1->trigger();
        QCOMPARE(m->RichEdit1->contentsBytes(), QByteArray("2006/03/02 07:05\r\nBat-V Bat1 Bat2 Bat3 Bat4\r\n"));
        // Cancelled dialogs change nothing.
        m->OpenDialog = [] { return QString(); };
        m->BitBtn1->click();
        QCOMPARE(m->RichEdit1->lineCount(), 2);
    }

    void commandFailureIsShownAndProgramGoesOn()
    {
        writeIni("");
        forms::CreateForms();
        m_boxes.clear();
        forms::main->OpenDialog = [] { return QStringLiteral("/nonexistent/x.txt"); };
        // The button's click runs through the application's event delivery like a real one.
        QTest::mouseClick(forms::main->BitBtn1, Qt::LeftButton);
        QCOMPARE(m_boxes.texts(), QStringList{QStringLiteral("VOLTRAK|ファイル /nonexistent/x.txt は開けません.")});
    }

    // A file that does not look like text is asked about before it fills the pane.
    void openingWhatIsNotText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("loaded");
        const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
        QTest::newRow("a picture, no") << png << false << true << false;
        QTest::newRow("a picture, yes") << png << true << true << true;
        QTest::newRow("UTF-16 text, no") << QByteArray("B\0a\0t\0\r\0\n\0", 10) << false << true << false;
        QTest::newRow("a log") << QByteArray("Bat-V Bat1 Bat2 Bat3 Bat4\r\n") << false << false << true;
        QTest::newRow("an empty file") << QByteArray() << false << false << true;
    }
    void openingWhatIsNotText()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, answer);
        QFETCH(bool, asked);
        QFETCH(bool, loaded);
        writeIni("");
        forms::CreateForms();
        Tmain *m = forms::main;
        m->RichEdit1->appendReceived("kept\r\n");
        m->RichEdit1->flushReceived(); // received text reaches the document in batches
        const QString path = m_dir.filePath(QStringLiteral("what.log"));
        WriteFile(path, bytes);
        m_boxes.clear();
        errors::SetQuestionAnswer(answer);
        m->OpenDialog = [&] { return path; };
        m->Open1->trigger();
        errors::SetQuestionAnswer(false);
        QCOMPARE(
            m_boxes.texts().contains(QStringLiteral("VOLTRAK|テキストファイルではないようです。開きますか？")), asked);
        QCOMPARE(m_boxes.size(), asked ? 1 : 0);
        QCOMPARE(m->RichEdit1->toPlainText() != QStringLiteral("kept\n"), loaded);
    }
};

int main(int argc, char **argv)
{
    VoltrakApplication app(argc, argv);
    TestMainWindow t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_mainwindow.moc"
