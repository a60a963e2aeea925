#include "forms/Uparag.h"
#include "widgets/Fonts.h"

#include "core/Settings.h"
#include "forms/DrawGraph.h"
#include "forms/Forms.h"
#include "forms/Uvoltrak.h"
#include "widgets/NumericField.h"
#include "widgets/RadioGroup.h"
#include "widgets/WindowSize.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

namespace {

struct FieldLayout {
    int left, top;
    const char *caption;
    int captionLeft, captionTop;
    const char *range; // nullptr: none
    int rangeLeft, rangeTop;
    const char *unit;
    int unitLeft, unitTop;
    int minimum, maximum, increment, layoutValue;
};

constexpr FieldLayout Gtmax{122, 26, "時間軸表示最大値", 6, 26, "(30～360)", 45, 38, "(分)", 186, 30, 30, 360, 10, 120};
constexpr FieldLayout Gvmax{
    122, 64, "表示電圧最大値", 6, 64, "(110～160)", 40, 77, "x0.01V", 186, 70, 110, 160, 1, 150};
constexpr FieldLayout Gwide{122, 109, "表示幅", 51, 109, nullptr, 0, 0, "ドット", 186, 115, 100, 4000, 10, 600};
constexpr FieldLayout Gheit{122, 147, "表示高", 51, 147, nullptr, 0, 0, "ドット", 186, 154, 100, 2000, 10, 300};
constexpr FieldLayout Hteiko{
    122, 24, "放電抵抗抵抗値", 8, 24, "(10～1000)", 32, 40, "x0.01Ω", 184, 32, 10, 1000, 1, 100};
constexpr FieldLayout Hvds{
    122, 64, "FET Vds 飽和電圧", 8, 64, "(通常0.04～0.06V)", 16, 80, "x0.01V", 184, 72, 0, 100, 1, 5};

NumericField *makeField(QWidget *box, const FieldLayout &f)
{
    auto text = [box](const char *t, int x, int y) {
        auto *label = new QLabel(QString::fromUtf8(t), box);
        label->move(x, y);
        label->adjustSize();
    };
    text(f.caption, f.captionLeft, f.captionTop);
    if (f.range)
        text(f.range, f.rangeLeft, f.rangeTop);
    text(f.unit, f.unitLeft, f.unitTop);

    auto *field = new NumericField(box);
    field->setGeometry(f.left, f.top, 58, 21);
    field->setRange(f.minimum, f.maximum);
    field->setIncrement(f.increment);
    field->setValue(f.layoutValue);
    return field;
}

} // namespace

Tparag::Tparag(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("グラフの設定"));
    setFont(fonts::WindowFont());
    setFixedSize(259, 468);
    setSizeGripEnabled(false);
    m_geometry = new windowsize::FramedGeometry(this);

    GroupBox1 = new QGroupBox(QStringLiteral("グラフ描画設定"), this);
    GroupBox1->setGeometry(13, 13, 231, 186);
    CSpGtmax = makeField(GroupBox1, Gtmax);
    CSpGvmax = makeField(GroupBox1, Gvmax);
    CSpGwide = makeField(GroupBox1, Gwide);
    CSpGheit = makeField(GroupBox1, Gheit);

    GroupBox2 = new QGroupBox(QStringLiteral("放電容量推定設定"), this);
    GroupBox2->setGeometry(13, 216, 231, 201);
    CSpHteiko = makeField(GroupBox2, Hteiko);
    CSpHvds = makeField(GroupBox2, Hvds);

    RGpHtime = new RadioGroup(QStringLiteral("時間軸選択"),
        {QStringLiteral("1分"), QStringLiteral("10秒"), QStringLiteral("1秒")}, GroupBox2);
    RGpHtime->setGeometry(16, 112, 89, 73);
    RGpHtime->setItemIndex(0);
    RGpHdisp
        = new RadioGroup(QStringLiteral("容量表示"), {QStringLiteral("表示なし"), QStringLiteral("表示")}, GroupBox2);
    RGpHdisp->setGeometry(120, 112, 97, 57);
    RGpHdisp->setItemIndex(0);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(40, 432, 65, 25);
    Button2 = new QPushButton(QStringLiteral("描画"), this);
    Button2->setGeometry(152, 432, 65, 25);
    // Reached by a click, never by Tab; the click still takes the focus, so a
    // field being left clamps its value first.
    // No default button (an auto-default one would become it at the first
    // show); Enter on a focused button is handled by keyPressEvent.
    for (QPushButton *b : {Button1, Button2}) {
        b->setFocusPolicy(Qt::ClickFocus);
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    QWidget::setTabOrder(CSpGtmax, CSpGvmax);
    QWidget::setTabOrder(CSpGvmax, CSpGwide);
    QWidget::setTabOrder(CSpGwide, CSpGheit);
    QWidget::setTabOrder(CSpGheit, CSpHteiko);
    QWidget::setTabOrder(CSpHteiko, CSpHvds);
    RGpHtime->chainTabOrder(CSpHvds);
    RGpHdisp->chainTabOrder(RGpHtime->lastTabItem());

    // Connected after the layout values are in, so creating the dialog
    // writes no setting.
    connect(CSpGtmax, &NumericField::changed, this, &Tparag::CSpGtmaxChange);
    connect(CSpGvmax, &NumericField::changed, this, &Tparag::CSpGvmaxChange);
    connect(CSpGwide, &NumericField::changed, this, &Tparag::CSpGwideChange);
    connect(CSpGheit, &NumericField::changed, this, &Tparag::CSpGheitChange);
    connect(CSpHteiko, &NumericField::changed, this, &Tparag::CSpHteikoChange);
    connect(CSpHvds, &NumericField::changed, this, &Tparag::CSpHvdsChange);
    connect(RGpHtime, &RadioGroup::clicked, this, &Tparag::RGpHtimeClick);
    connect(RGpHdisp, &RadioGroup::clicked, this, &Tparag::RGpHdispClick);
    connect(Button1, &QPushButton::clicked, this, &Tparag::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &Tparag::Button2Click);
}

Tparag::~Tparag()
{
    // Hiding a dialog that is being destroyed moves the focus out of its
    // field, which clamps the field's text; that change must not reach the
    // handlers of a half-destroyed dialog.
    for (NumericField *field : {CSpGtmax, CSpGvmax, CSpGwide, CSpGheit, CSpHteiko, CSpHvds})
        disconnect(field, nullptr, this, nullptr);
    disconnect(RGpHtime, nullptr, this, nullptr);
    disconnect(RGpHdisp, nullptr, this, nullptr);
}

void Tparag::PushSettings()
{
    CSpGtmax->setValue(settings::Gtmax);
    CSpGvmax->setValue(settings::Gvmax);
    CSpGwide->setValue(settings::Gwide);
    CSpGheit->setValue(settings::Gheit);
    CSpHteiko->setValue(settings::Hteiko);
    CSpHvds->setValue(settings::Hvds);
    RGpHtime->setItemIndex(settings::Htime);
    RGpHdisp->setItemIndex(settings::Hdisp);
}

void Tparag::keyPressEvent(QKeyEvent *event)
{
    // Only OK and the close box hide this dialog; Escape does nothing.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    // Enter presses the focused button (a field has already refused it).
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (focusWidget() == Button1 || focusWidget() == Button2)) {
        static_cast<QPushButton *>(focusWidget())->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Tparag::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        forms::PushSettingsToDialogs();
        // Each show as the first: over the main window, on the first field.
        m_geometry->centreOn(forms::main);
        CSpGtmax->setFocus(Qt::OtherFocusReason);
    }
}

void Tparag::CSpGtmaxChange()
{
    settings::Gtmax = CSpGtmax->value();
}
void Tparag::CSpGvmaxChange()
{
    settings::Gvmax = CSpGvmax->value();
}
void Tparag::CSpGwideChange()
{
    settings::Gwide = CSpGwide->value();
}
void Tparag::CSpGheitChange()
{
    settings::Gheit = CSpGheit->value();
}
void Tparag::CSpHteikoChange()
{
    settings::Hteiko = CSpHteiko->value();
}
void Tparag::CSpHvdsChange()
{
    settings::Hvds = CSpHvds->value();
}
void Tparag::RGpHtimeClick()
{
    settings::Htime = RGpHtime->itemIndex();
}
void Tparag::RGpHdispClick()
{
    settings::Hdisp = RGpHdisp->itemIndex();
}
void Tparag::Button1Click()
{
    close();
}
void Tparag::Button2Click()
{
    if (m_log)
        DrawGraphFrom(*m_log);
}

void Tparag::ShowGraphSize(int width, int height)
{
    CSpGwide->setValue(width);
    CSpGheit->setValue(height);
}
