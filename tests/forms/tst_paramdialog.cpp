#include "core/Settings.h"
#include "device/Exchange.h"
#include "forms/Forms.h"
#include "forms/Uaboutbox.h"
#include "forms/Uparam.h"
#include "forms/Uvoltrak.h"
#include "tests/support/BoxRecorder.h"
#include "widgets/Application.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"
#include "widgets/NumericField.h"
#include "widgets/RadioGroup.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

class TestParamDialog : public QObject
{
    Q_OBJECT
    BoxRecorder m_boxes;

private slots:
    void initTestCase()
    {
        fonts::InstallSubstitutions();
        QFile f(settings::IniFilePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Ports]\r\nCOM1=/nonexistent/voltrak-test-port\r\n[VOLTRAK]\r\nVstop=9999\r\nTsel=1\r\n");
        f.close();
        forms::CreateForms();
        forms::main->show();
        QVERIFY(QTest::qWaitForWindowExposed(forms::main));
    }
    void cleanupTestCase()
    {
        forms::DestroyForms();
        QFile::remove(settings::IniFilePath());
    }
    void init()
    {
        exchange::ParamStep = exchange::ParamWait = exchange::ParamMask = 0;
        m_boxes.clear();
    }

    // A stored value beyond the field's range loads as it is; the field shows its clamp.
    void showsClampedStoredValue()
    {
        QCOMPARE(settings::Vstop, 9999);
        forms::ShowForm(forms::FormId::Param);
        QCOMPARE(forms::param->CSpVstop->text(), QStringLiteral("150"));
        QCOMPARE(forms::param->RGpTsel->itemIndex(), 1);
        QCOMPARE(settings::Vstop, 9999); // the dialog has no change handler
        forms::param->hide();
    }

    void editsWithoutConfirmAreLostOnReopen()
    {
        forms::ShowForm(forms::FormId::Param);
        forms::param->CSpVref->setValue(246);
        forms::param->RGpBeep->setItemIndex(0);
        forms::param->hide();
        forms::ShowForm(forms::FormId::Param);
        QCOMPARE(forms::param->CSpVref->text(), QString::number(settings::Vref));
        QCOMPARE(forms::param->RGpBeep->itemIndex(), settings::Beep);
        forms::param->hide();
    }

    void tabSkipsButtons()
    {
        Tparam *p = forms::param;
        forms::ShowForm(forms::FormId::Param);
        QVERIFY(QTest::qWaitForWindowActive(p));
        p->CSpVstop->setFocus();
        QTRY_VERIFY(p->CSpVstop->lineEdit()->hasFocus());
        QList<QWidget *> visited;
        for (int i = 0; i < 12; ++i) {
            visited << QApplication::focusWidget();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QVERIFY(!visited.contains(p->BitBtn1));
        QVERIFY(!visited.contains(p->BitBtn2));
        const int vstop = int(visited.indexOf(p->CSpVstop->lineEdit()));
        QCOMPARE(visited.at(vstop + 1), p->CSpVref->lineEdit());
        QCOMPARE(visited.at(vstop + 2), p->CSpTstop->lineEdit());
        // Each radio group is one stop, entered at its selected item.
        QCOMPARE(visited.at(vstop + 3), p->RGpTsel->button(p->RGpTsel->itemIndex()));
        QCOMPARE(visited.at(vstop + 4), p->RGpTxcyc->button(p->RGpTxcyc->itemIndex()));
        QCOMPARE(visited.at(vstop + 5), p->RGpBeep->button(p->RGpBeep->itemIndex()));
        QCOMPARE(visited.at(vstop + 6), p->CSpVstop->lineEdit());
        p->hide();
    }

    // Enter presses 設定 even while a field has the focus; a value typed out of range is pulled in first.
    void enterConfirmsAndStartsExchange()
    {
        Tparam *p = forms::param;
        forms::ShowForm(forms::FormId::Param);
        QVERIFY(QTest::qWaitForWindowActive(p));
        p->CSpVstop->setFocus();
        p->CSpVstop->lineEdit()->selectAll();
        QTest::keyClicks(p->CSpVstop->lineEdit(), "999");
        QTest::keyClick(p->CSpVstop->lineEdit(), Qt::Key_Return);
        QCOMPARE(settings::Vstop, 150);
        QCOMPARE(exchange::ParamStep, 1);
        QCOMPARE(exchange::ParamWait, 2);
        QVERIFY(p->isVisible());
        // The close box hides and leaves the exchange running.
        p->close();
        QVERIFY(!p->isVisible());
        QCOMPARE(exchange::ParamStep, 1);
        // Esc is the cancel button: the exchange stops, nothing is shown.
        forms::ShowForm(forms::FormId::Param);
        QVERIFY(QTest::qWaitForWindowActive(p));
        QTest::keyClick(p, Qt::Key_Escape);
        QVERIFY(!p->isVisible());
        QCOMPARE(exchange::ParamStep, 0);
        QVERIFY(m_boxes.isEmpty());
    }

    // Enter on a focused キャンセル cancels: nothing is stored, no exchange starts.
    void enterOnFocusedCancel()
    {
        Tparam *p = forms::param;
        forms::ShowForm(forms::FormId::Param);
        QVERIFY(QTest::qWaitForWindowActive(p));
        const int vstop = settings::Vstop;
        p->CSpVstop->setText("120");
        // Sent to the button as to the focused one (the offscreen platform does
        // not hand the focus back to a dialog shown again).
        QTest::keyClick(p->BitBtn2, Qt::Key_Return);
        QVERIFY(!p->isVisible());
        QCOMPARE(settings::Vstop, vstop);
        QCOMPARE(exchange::ParamStep, 0);
    }

    void aboutBoxTexts()
    {
        forms::ShowForm(forms::FormId::AboutBox);
        TAboutBox *a = forms::AboutBox;
        QVERIFY(QTest::qWaitForWindowExposed(a));
        QCOMPARE(a->Version->text(), QStringLiteral("Ver4.01\u3000\u3000(2006-12-05)"));
        const QString usage = TAboutBox::UsageText();
        QCOMPARE(usage.count(QStringLiteral("\r\n")), 20);
        QVERIFY(usage.endsWith(QStringLiteral("\r\n\r\n")));
        const QStringList lines = usage.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.at(15).left(2), QStringLiteral("\u3000・"));
        QCOMPARE(lines.at(17).left(3), QStringLiteral("\u3000\u3000「"));
        QCOMPARE(a->Memo1->toPlainText(), QString(usage).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        // Enter is the OK button: it hides the window; showing it again brings the same texts.
        QVERIFY(QTest::qWaitForWindowActive(a));
        QTest::keyClick(a, Qt::Key_Return);
        QVERIFY(!a->isVisible());
        forms::main->About1->trigger();
        QVERIFY(a->isVisible());
        forms::main->About1->trigger(); // a second choice keeps the one window
        QVERIFY(a->isVisible());
        QCOMPARE(a->Version->text(), QStringLiteral("Ver4.01\u3000\u3000(2006-12-05)"));
        // Widening keeps the panel's and the memo's heights.
        const int memoHeight = a->Memo1->height();
        a->resize(a->width() + 100, a->height());
        QCOMPARE(a->Memo1->height(), memoHeight);
        QCOMPARE(a->Panel1->width(), a->width());
        a->hide();
    }
};

int main(int argc, char **argv)
{
    VoltrakApplication app(argc, argv);
    TestParamDialog t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_paramdialog.moc"
