#include "tests/support/BoxRecorder.h"
#include "widgets/Application.h"
#include "widgets/ElidedLabel.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/NumericField.h"
#include "widgets/RadioGroup.h"

#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest>

class TestFields : public QObject
{
    Q_OBJECT
private slots:
    // A label narrower than its text shows its start and "…", never a cut
    // character; text() stays whole.
    void elidedLabel_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("cut");
        QTest::newRow("wide enough") << 400 << false;
        QTest::newRow("too narrow") << 90 << true;
    }
    void elidedLabel()
    {
        QFETCH(int, width);
        QFETCH(bool, cut);
        const QString text = QStringLiteral("COM1: /dev/serial/by-id/usb-FTDI_FT232R");
        ElidedLabel label;
        label.setText(text);
        label.resize(width, label.sizeHint().height());
        QCOMPARE(label.text(), text);
        QCOMPARE(label.elided(), cut);
        const QString shown = label.shownText();
        QVERIFY(label.fontMetrics().horizontalAdvance(shown) <= width);
        if (cut) {
            QVERIFY(shown.endsWith(QStringLiteral("…")));
            QVERIFY(text.startsWith(shown.chopped(1)));
        } else {
            QCOMPARE(shown, text);
        }
        QVERIFY(label.minimumSizeHint().width() < label.sizeHint().width());
    }

    void readValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("textAfter");
        QTest::newRow("integer") << "250" << 250 << "250";
        QTest::newRow("below minimum is not clamped") << "5" << 5 << "5";
        QTest::newRow("above maximum is not clamped") << "5000" << 5000 << "5000";
        QTest::newRow("empty") << "" << 100 << "100";
        QTest::newRow("sign only") << "-" << 100 << "100";
        QTest::newRow("decimal") << "1.5" << 100 << "100";
        QTest::newRow("negative") << "-20" << -20 << "-20";
    }
    void readValue()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QFETCH(QString, textAfter);
        NumericField f;
        f.setRange(100, 4000);
        f.setText(text);
        QCOMPARE(f.value(), value);
        QCOMPARE(f.text(), textAfter);
    }

    void setValueClamps_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("set");
        QTest::addColumn<QString>("shown");
        QTest::newRow("inside") << 30 << 360 << 120 << "120";
        QTest::newRow("above") << 30 << 360 << 500 << "360";
        QTest::newRow("below") << 30 << 360 << 7 << "30";
        QTest::newRow("equal bounds do not clamp") << 0 << 0 << 9999 << "9999";
    }
    void setValueClamps()
    {
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, set);
        QFETCH(QString, shown);
        NumericField f;
        f.setRange(minimum, maximum);
        f.setValue(set);
        QCOMPARE(f.text(), shown);
    }

    void changeOnlyWhenTextChanges()
    {
        NumericField f;
        f.setRange(100, 4000);
        f.setValue(600);
        QSignalSpy spy(&f, &NumericField::changed);
        f.setValue(600);
        QCOMPARE(spy.count(), 0);
        f.setValue(5000); // shows 4000
        QCOMPARE(spy.count(), 1);
        f.setValue(4500); // still 4000
        QCOMPARE(spy.count(), 1);
    }

    // Typing over the selection stores every intermediate number; leaving clamps.
    void typingThenLeaving()
    {
        QWidget w;
        auto *f = new NumericField(&w);
        f->setRange(100, 4000);
        f->setIncrement(10);
        f->setValue(600);
        auto *other = new QLineEdit(&w);
        other->move(0, 40);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QList<int> stored;
        connect(f, &NumericField::changed, this, [&] { stored << f->value(); });
        f->setFocus();
        f->lineEdit()->selectAll();
        QTest::keyClicks(f->lineEdit(), "5000");
        QCOMPARE(stored, (QList<int>{5, 50, 500, 5000}));
        other->setFocus();
        QCOMPARE(f->text(), QStringLiteral("4000"));
        QCOMPARE(stored.last(), 4000);
    }

    void keysAreFiltered_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letters dropped") << "1a2b"
                                         << "12";
        QTest::newRow("space dropped") << "3 4"
                                       << "34";
        QTest::newRow("signs kept") << "-5"
                                    << "-5";
    }
    void keysAreFiltered()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        NumericField f;
        f.setRange(-100, 100);
        f.show();
        f.lineEdit()->clear();
        QTest::keyClicks(f.lineEdit(), typed);
        QCOMPARE(f.text(), shown);
    }

    // However text arrives, only digits, signs and the decimal separator enter.
    void onlyAllowedCharactersEnter_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("beeps");
        QTest::newRow("Alt+H") << "key"
                               << "h" << int(Qt::AltModifier) << "100" << 1;
        QTest::newRow("Meta+X") << "key"
                                << "x" << int(Qt::MetaModifier) << "100" << 1;
        QTest::newRow("Ctrl+Alt+1") << "key"
                                    << "1" << int(Qt::ControlModifier | Qt::AltModifier) << "100" << 1;
        QTest::newRow("plain digit") << "key"
                                     << "7" << 0 << "1007" << 0;
        QTest::newRow("input method letters") << "commit"
                                              << "ｈ" << 0 << "100" << 0;
        QTest::newRow("input method digits") << "commit"
                                             << "25" << 0 << "10025" << 0;
        QTest::newRow("paste with a letter") << "paste"
                                             << "12h" << 0 << "100" << 0;
        QTest::newRow("paste of digits") << "paste"
                                         << "-3" << 0 << "100-3" << 0;
        QTest::newRow("Return without a default button") << "return"
                                                         << "" << 0 << "100" << 1;
    }
    void onlyAllowedCharactersEnter()
    {
        QFETCH(QString, how);
        QFETCH(QString, input);
        QFETCH(int, modifiers);
        QFETCH(QString, shown);
        QFETCH(int, beeps);
        NumericField f;
        f.setRange(50, 150);
        f.setValue(100);
        f.show();
        QLineEdit *edit = f.lineEdit();
        edit->setFocus();
        edit->end(false);
        QSignalSpy rejected(&f, &NumericField::inputRejected);
        if (how == "key") {
            QTest::keyClick(edit, input.at(0).toLatin1(), Qt::KeyboardModifiers(modifiers));
        } else if (how == "commit") {
            QInputMethodEvent ev;
            ev.setCommitString(input);
            QApplication::sendEvent(edit, &ev);
        } else if (how == "paste") {
            QGuiApplication::clipboard()->setText(input);
            edit->paste();
        } else {
            QTest::keyClick(edit, Qt::Key_Return);
        }
        QCOMPARE(f.text(), shown);
        QCOMPARE(rejected.count(), beeps);
    }

    void stepping_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("shown");
        QTest::newRow("up by increment") << "120" << int(Qt::Key_Up) << "130";
        QTest::newRow("down by increment") << "120" << int(Qt::Key_Down) << "110";
        QTest::newRow("up clamps at maximum") << "355" << int(Qt::Key_Up) << "360";
        QTest::newRow("down clamps at minimum") << "35" << int(Qt::Key_Down) << "30";
        QTest::newRow("up from text that is no number") << "x" << int(Qt::Key_Up) << "40";
    }
    void stepping()
    {
        QFETCH(QString, start);
        QFETCH(int, key);
        QFETCH(QString, shown);
        NumericField f;
        f.setRange(30, 360);
        f.setIncrement(10);
        f.show();
        f.setText(start);
        QTest::keyClick(f.lineEdit(), Qt::Key(key));
        QCOMPARE(f.text(), shown);
        // The buttons do the same as the keys.
        NumericField g;
        g.setRange(30, 360);
        g.setIncrement(10);
        g.setText(start);
        key == Qt::Key_Up ? g.stepUp() : g.stepDown();
        QCOMPARE(g.text(), shown);
    }

    void radioGroupNotifications()
    {
        RadioGroup g(
            QStringLiteral("時間軸選択"), {QStringLiteral("1分"), QStringLiteral("10秒"), QStringLiteral("1秒")});
        QSignalSpy spy(&g, &RadioGroup::clicked);
        QCOMPARE(g.itemIndex(), -1);
        g.setItemIndex(0);
        QCOMPARE(spy.count(), 1);
        g.setItemIndex(0); // already selected: nothing
        QCOMPARE(spy.count(), 1);
        g.setItemIndex(7); // clamped to the last item
        QCOMPARE(g.itemIndex(), 2);
        QCOMPARE(spy.count(), 2);
        g.setItemIndex(-5); // clears without a notification
        QCOMPARE(g.itemIndex(), -1);
        QCOMPARE(spy.count(), 2);
        g.show();
        QTest::mouseClick(g.button(1), Qt::LeftButton);
        QCOMPARE(g.itemIndex(), 1);
        QCOMPARE(spy.count(), 3);
        QTest::mouseClick(g.button(1), Qt::LeftButton); // clicking the selected item again
        QCOMPARE(spy.count(), 3);
    }

    void standardErrorDot_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("japanese gets a dot") << QStringLiteral("ポートをオープンできませんでした")
                                             << QStringLiteral("ポートをオープンできませんでした.");
        QTest::newRow("ends in dot") << QStringLiteral("done.") << QStringLiteral("done.");
        QTest::newRow("ends below dot") << QStringLiteral("what!") << QStringLiteral("what!");
        QTest::newRow("ends in blank") << QStringLiteral("x ") << QStringLiteral("x ");
        QTest::newRow("ends in letter") << QStringLiteral("abc") << QStringLiteral("abc.");
        QTest::newRow("ends in slash") << QStringLiteral("a/") << QStringLiteral("a/.");
        QTest::newRow("empty") << QString() << QString();
    }
    void standardErrorDot()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(errors::StandardErrorText(message), shown);
    }

    void currentExceptionIsShown_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("shown");
        QTest::newRow("std::exception") << 0 << QStringLiteral("VOLTRAK|iniファイル.");
        QTest::newRow("an int") << 1 << QStringLiteral("VOLTRAK|不明なエラーが発生しました.");
        QTest::newRow("a string literal") << 2 << QStringLiteral("VOLTRAK|不明なエラーが発生しました.");
    }
    void currentExceptionIsShown()
    {
        QFETCH(int, kind);
        QFETCH(QString, shown);
        BoxRecorder boxes;
        try {
            if (kind == 0)
                throw std::runtime_error("iniファイル");
            if (kind == 1)
                throw 42;
            throw "text";
        } catch (...) {
            errors::ShowCurrentException();
        }
        QCOMPARE(boxes.texts(), QStringList{shown});
    }

    // A handler that throws is shown, and the program goes on.
    void escapingExceptionIsShown()
    {
        BoxRecorder boxes;
        QObject target;
        QMetaObject::invokeMethod(
            &target, [] { throw std::runtime_error("ファイル書き込み"); }, Qt::QueuedConnection);
        QTRY_COMPARE(
            boxes.texts(errors::BoxKind::StandardError), QStringList{QStringLiteral("VOLTRAK|ファイル書き込み.")});
    }
};

int main(int argc, char **argv)
{
    VoltrakApplication app(argc, argv);
    TestFields t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_fields.moc"
