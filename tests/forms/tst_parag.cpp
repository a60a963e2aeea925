// The graph settings dialog: typing, leaving, stepping, the push from the
// settings, radio groups, tab order and layout.
#include "core/Settings.h"
#include "forms/Forms.h"
#include "forms/Uparag.h"
#include "widgets/Application.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"
#include "widgets/NumericField.h"
#include "widgets/RadioGroup.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>
#include <QtTest>

namespace {

// The dialog's fields and their settings, by key.
struct FieldRef {
    NumericField *Tparag::*field;
    qint32 *setting;
};

FieldRef fieldFor(const QString &key)
{
    if (key == "Gtmax")
        return {&Tparag::CSpGtmax, &settings::Gtmax};
    if (key == "Gvmax")
        return {&Tparag::CSpGvmax, &settings::Gvmax};
    if (key == "Gwide")
        return {&Tparag::CSpGwide, &settings::Gwide};
    if (key == "Gheit")
        return {&Tparag::CSpGheit, &settings::Gheit};
    if (key == "Hteiko")
        return {&Tparag::CSpHteiko, &settings::Hteiko};
    if (key == "Hvds")
        return {&Tparag::CSpHvds, &settings::Hvds};
    return {nullptr, nullptr};
}

QToolButton *arrow(NumericField *field, Qt::ArrowType type)
{
    for (QToolButton *b : field->findChildren<QToolButton *>())
        if (b->arrowType() == type)
            return b;
    return nullptr;
}

} // namespace

class TestParag : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fieldLimits_data();
    void fieldLimits();
    void editing_data();
    void editing();
    void push_data();
    void push();
    void showPushesSettings();
    void radioGroups_data();
    void radioGroups();
    void tabOrder();
    void layout();
    void okHides();
    void keys_data();
    void keys();

private:
    Tparag *m_dialog = nullptr;
};

void TestParag::initTestCase()
{
    fonts::InstallSubstitutions();
    errors::SetBoxHook([](errors::BoxKind, const QString &, const QString &) {});
}

void TestParag::init()
{
    settings::ResetToDefaults();
    m_dialog = new Tparag;
    forms::parag = m_dialog;
}

void TestParag::cleanup()
{
    forms::parag = nullptr;
    delete m_dialog;
    m_dialog = nullptr;
}

void TestParag::fieldLimits_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("increment");
    QTest::addColumn<int>("layoutValue");
    QTest::newRow("Gtmax") << "Gtmax" << 30 << 360 << 10 << 120;
    QTest::newRow("Gvmax") << "Gvmax" << 110 << 160 << 1 << 150;
    QTest::newRow("Gwide") << "Gwide" << 100 << 4000 << 10 << 600;
    QTest::newRow("Gheit") << "Gheit" << 100 << 2000 << 10 << 300;
    QTest::newRow("Hteiko") << "Hteiko" << 10 << 1000 << 1 << 100;
    QTest::newRow("Hvds") << "Hvds" << 0 << 100 << 1 << 5;
}

void TestParag::fieldLimits()
{
    QFETCH(QString, key);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, increment);
    QFETCH(int, layoutValue);
    const FieldRef ref = fieldFor(key);
    NumericField *field = m_dialog->*ref.field;

    // A new dialog shows its layout value and has written no setting.
    settings::ResetToDefaults();
    const qint32 saved = *ref.setting;
    *ref.setting = -12345;
    delete m_dialog;
    m_dialog = new Tparag;
    forms::parag = m_dialog;
    field = m_dialog->*ref.field;
    QCOMPARE(field->text(), QString::number(layoutValue));
    QCOMPARE(*ref.setting, -12345);
    *ref.setting = saved;

    // The up button adds the increment and stores it.
    QToolButton *up = arrow(field, Qt::UpArrow);
    QToolButton *down = arrow(field, Qt::DownArrow);
    QVERIFY(up && down);
    QTest::mouseClick(up, Qt::LeftButton);
    QCOMPARE(field->text(), QString::number(layoutValue + increment));
    QCOMPARE(*ref.setting, layoutValue + increment);
    QTest::mouseClick(down, Qt::LeftButton);
    QTest::mouseClick(down, Qt::LeftButton);
    QCOMPARE(*ref.setting, layoutValue - increment < minimum ? minimum : layoutValue - increment);

    // Set from outside: clamped to the range, the shown value stored.
    field->setValue(maximum + 1);
    QCOMPARE(field->text(), QString::number(maximum));
    QCOMPARE(*ref.setting, maximum);
    QTest::mouseClick(up, Qt::LeftButton);
    QCOMPARE(*ref.setting, maximum);
    field->setValue(minimum - 1);
    QCOMPARE(field->text(), QString::number(minimum));
    QCOMPARE(*ref.setting, minimum);
    QTest::mouseClick(down, Qt::LeftButton);
    QCOMPARE(*ref.setting, minimum);
}

void TestParag::editing_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("typed"); // typed over the selected text
    QTest::addColumn<QString>("then"); // "", "tab", "up", "down", "upKey", "downKey"
    QTest::addColumn<QList<int>>("stored"); // the setting after each change
    QTest::addColumn<QString>("shown");
    QTest::newRow("typing 250 into Gtmax") << "Gtmax"
                                           << "250"
                                           << "" << QList<int>{2, 25, 250} << "250";
    QTest::newRow("typing 5000 into Gwide and Tab") << "Gwide"
                                                    << "5000"
                                                    << "tab" << QList<int>{5, 50, 500, 5000, 4000} << "4000";
    QTest::newRow("typing 5 into Gtmax and Tab") << "Gtmax"
                                                 << "5"
                                                 << "tab" << QList<int>{5, 30} << "30";
    QTest::newRow("typed 355 then the up button") << "Gtmax"
                                                  << "355"
                                                  << "up" << QList<int>{3, 35, 355, 360} << "360";
    QTest::newRow("typed 31 then the down button") << "Gtmax"
                                                   << "31"
                                                   << "down" << QList<int>{3, 31, 30} << "30";
    QTest::newRow("Up key on Hteiko") << "Hteiko"
                                      << ""
                                      << "upKey" << QList<int>{101} << "101";
    QTest::newRow("Down key on Hvds at 0") << "Hvds"
                                           << "0"
                                           << "downKey" << QList<int>{0} << "0";
    QTest::newRow("deleting the whole text of Gwide") << "Gwide"
                                                      << "\b"
                                                      << "" << QList<int>{100} << "100";
    QTest::newRow("letters are dropped") << "Gvmax"
                                         << "1x2y5"
                                         << "tab" << QList<int>{1, 12, 125} << "125";
    QTest::newRow("typed below the minimum stays until left") << "Gvmax"
                                                              << "99"
                                                              << "" << QList<int>{9, 99} << "99";
}

void TestParag::editing()
{
    QFETCH(QString, key);
    QFETCH(QString, typed);
    QFETCH(QString, then);
    QFETCH(QList<int>, stored);
    QFETCH(QString, shown);
    const FieldRef ref = fieldFor(key);
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog));
    NumericField *field = m_dialog->*ref.field;
    QLineEdit *edit = field->lineEdit();
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());

    QList<int> seen;
    connect(field, &NumericField::changed, this, [&seen, &ref] {
        if (seen.isEmpty() || seen.last() != *ref.setting)
            seen.append(*ref.setting);
    });
    if (!typed.isEmpty()) {
        edit->selectAll();
        if (typed == "\b")
            QTest::keyClick(edit, Qt::Key_Backspace);
        else
            QTest::keyClicks(edit, typed);
    }
    if (then == "tab")
        QTest::keyClick(edit, Qt::Key_Tab);
    else if (then == "up")
        QTest::mouseClick(arrow(field, Qt::UpArrow), Qt::LeftButton);
    else if (then == "down")
        QTest::mouseClick(arrow(field, Qt::DownArrow), Qt::LeftButton);
    else if (then == "upKey")
        QTest::keyClick(edit, Qt::Key_Up);
    else if (then == "downKey")
        QTest::keyClick(edit, Qt::Key_Down);

    QCOMPARE(seen, stored);
    QCOMPARE(field->text(), shown);
    QCOMPARE(*ref.setting, stored.last());
    disconnect(field, nullptr, this, nullptr);
}

void TestParag::push_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("raw");
    QTest::addColumn<int>("after");
    QTest::newRow("Gtmax 500") << "Gtmax" << 500 << 360;
    QTest::newRow("Gtmax 10") << "Gtmax" << 10 << 30;
    QTest::newRow("Gtmax in range") << "Gtmax" << 200 << 200;
    QTest::newRow("Gvmax 50") << "Gvmax" << 50 << 110;
    QTest::newRow("Gwide 99999") << "Gwide" << 99999 << 4000;
    QTest::newRow("Gheit negative") << "Gheit" << -5 << 100;
    QTest::newRow("Hteiko 0") << "Hteiko" << 0 << 10;
    QTest::newRow("Hvds negative") << "Hvds" << -1 << 0;
    QTest::newRow("Hvds in range") << "Hvds" << 6 << 6;
    QTest::newRow("Htime 7") << "Htime" << 7 << 2;
    QTest::newRow("Htime 1") << "Htime" << 1 << 1;
    QTest::newRow("Htime negative stays") << "Htime" << -3 << -3;
    QTest::newRow("Hdisp 5") << "Hdisp" << 5 << 1;
    QTest::newRow("Hdisp negative stays") << "Hdisp" << -1 << -1;
}

void TestParag::push()
{
    QFETCH(QString, key);
    QFETCH(int, raw);
    QFETCH(int, after);
    qint32 *setting = key == "Htime" ? &settings::Htime : key == "Hdisp" ? &settings::Hdisp : fieldFor(key).setting;
    *setting = raw;
    // What a hand-edited ini file gives, before the dialog is ever opened:
    // the main window's first show pushes the settings into the dialogs.
    forms::PushSettingsToDialogs();
    QCOMPARE(*setting, after);
    if (key == "Htime")
        QCOMPARE(m_dialog->RGpHtime->itemIndex(), qBound(-1, raw, 2));
    else if (key == "Hdisp")
        QCOMPARE(m_dialog->RGpHdisp->itemIndex(), qBound(-1, raw, 1));
    else
        QCOMPARE((m_dialog->*fieldFor(key).field)->text(), QString::number(after));
    // The other settings keep their defaults.
    if (key != "Gtmax")
        QCOMPARE(settings::Gtmax, 120);
    if (key != "Hdisp")
        QCOMPARE(settings::Hdisp, 0);
}

void TestParag::showPushesSettings()
{
    settings::Gtmax = 250;
    settings::Hvds = 7;
    settings::Hdisp = 1;
    settings::Htime = 2;
    m_dialog->show();
    QCOMPARE(m_dialog->CSpGtmax->text(), QString("250"));
    QCOMPARE(m_dialog->CSpHvds->text(), QString("7"));
    QCOMPARE(m_dialog->RGpHdisp->itemIndex(), 1);
    QCOMPARE(m_dialog->RGpHtime->itemIndex(), 2);
    // Edits made while hidden are replaced by the settings at the next show.
    m_dialog->hide();
    m_dialog->CSpGvmax->setText("111");
    settings::Gvmax = 123;
    m_dialog->show();
    QCOMPARE(m_dialog->CSpGvmax->text(), QString("123"));
}

void TestParag::radioGroups_data()
{
    QTest::addColumn<bool>("timeGroup");
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("caption");
    QTest::newRow("1分") << true << 0 << "1分";
    QTest::newRow("10秒") << true << 1 << "10秒";
    QTest::newRow("1秒") << true << 2 << "1秒";
    QTest::newRow("表示なし") << false << 0 << "表示なし";
    QTest::newRow("表示") << false << 1 << "表示";
}

void TestParag::radioGroups()
{
    QFETCH(bool, timeGroup);
    QFETCH(int, item);
    QFETCH(QString, caption);
    RadioGroup *group = timeGroup ? m_dialog->RGpHtime : m_dialog->RGpHdisp;
    qint32 *setting = timeGroup ? &settings::Htime : &settings::Hdisp;
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    // Start from another item so that the click is a change.
    group->setItemIndex(item == 0 ? 1 : 0);
    *setting = 99;
    QCOMPARE(group->button(item)->text(), caption);
    QTest::mouseClick(group->button(item), Qt::LeftButton);
    QCOMPARE(group->itemIndex(), item);
    QCOMPARE(*setting, item);
}

void TestParag::tabOrder()
{
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog));
    m_dialog->RGpHtime->setItemIndex(1);
    m_dialog->RGpHdisp->setItemIndex(0);
    m_dialog->CSpGtmax->lineEdit()->setFocus();
    QTRY_VERIFY(m_dialog->CSpGtmax->lineEdit()->hasFocus());

    const QList<QWidget *> expected{
        m_dialog->CSpGvmax->lineEdit(),
        m_dialog->CSpGwide->lineEdit(),
        m_dialog->CSpGheit->lineEdit(),
        m_dialog->CSpHteiko->lineEdit(),
        m_dialog->CSpHvds->lineEdit(),
        m_dialog->RGpHtime->button(1),
        m_dialog->RGpHdisp->button(0),
        m_dialog->CSpGtmax->lineEdit(),
    };
    QList<QWidget *> visited;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget());
    }
    QCOMPARE(visited, expected);
}

void TestParag::layout()
{
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    QCOMPARE(m_dialog->windowTitle(), QString("グラフの設定"));
    QCOMPARE(m_dialog->size(), QSize(259, 468));
    QCOMPARE(m_dialog->minimumSize(), m_dialog->maximumSize());
    // With no main window to open over, it opens centred on the screen.
    const QRect screen = m_dialog->screen()->geometry();
    const QSize outer = m_dialog->frameGeometry().size();
    QCOMPARE(m_dialog->frameGeometry().topLeft(),
        screen.topLeft() + QPoint((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2));
    QCOMPARE(m_dialog->Button1->text(), QString("OK"));
    QCOMPARE(m_dialog->Button2->text(), QString("描画"));
    for (QPushButton *b : {m_dialog->Button1, m_dialog->Button2}) {
        QCOMPARE(b->size(), QSize(65, 25));
        QVERIFY(!(b->focusPolicy() & Qt::TabFocus));
    }
    for (NumericField *f : {m_dialog->CSpGtmax, m_dialog->CSpGvmax, m_dialog->CSpGwide, m_dialog->CSpGheit,
             m_dialog->CSpHteiko, m_dialog->CSpHvds})
        QCOMPARE(f->size(), QSize(58, 21));
}

void TestParag::okHides()
{
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    settings::Gtmax = 77; // not a dialog value: OK must not write the fields back
    QTest::mouseClick(m_dialog->Button1, Qt::LeftButton);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(settings::Gtmax, 77);
}

// Enter presses the focused button; a field refuses it (there is no default
// button); Escape never hides the dialog.
void TestParag::keys_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("draws");
    QTest::addColumn<int>("beeps");
    QTest::newRow("Enter on OK hides") << "OK" << int(Qt::Key_Return) << false << 0 << 0;
    QTest::newRow("Enter on 描画 draws") << "draw" << int(Qt::Key_Return) << true << 1 << 0;
    QTest::newRow("Enter in a field") << "field" << int(Qt::Key_Return) << true << 0 << 1;
    QTest::newRow("Escape in a field") << "field" << int(Qt::Key_Escape) << true << 0 << 0;
    QTest::newRow("Escape on 描画") << "draw" << int(Qt::Key_Escape) << true << 0 << 0;
}

void TestParag::keys()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(bool, visible);
    QFETCH(int, draws);
    QFETCH(int, beeps);
    // No graph window here: count the presses of 描画 instead of drawing.
    disconnect(m_dialog->Button2, nullptr, m_dialog, nullptr);
    QSignalSpy drawn(m_dialog->Button2, &QPushButton::clicked);
    QSignalSpy refused(m_dialog->CSpGwide, &NumericField::inputRejected);
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog));
    QWidget *target = focus == "OK" ? static_cast<QWidget *>(m_dialog->Button1)
        : focus == "draw"           ? static_cast<QWidget *>(m_dialog->Button2)
                                    : m_dialog->CSpGwide->lineEdit();
    target->setFocus();
    QTRY_VERIFY(target->hasFocus());
    QTest::keyClick(target, Qt::Key(key));
    QCOMPARE(m_dialog->isVisible(), visible);
    QCOMPARE(drawn.count(), draws);
    QCOMPARE(refused.count(), beeps);
}

int main(int argc, char **argv)
{
    VoltrakApplication app(argc, argv);
    TestParag test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_parag.moc"
