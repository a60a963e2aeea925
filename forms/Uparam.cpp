#include "forms/Uparam.h"
#include "core/Settings.h"
#include "device/Exchange.h"
#include "forms/Forms.h"
#include "forms/Uvoltrak.h"
#include "serial/Commx.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/Fonts.h"
#include "widgets/LogPane.h"
#include "widgets/NumericField.h"
#include "widgets/RadioGroup.h"
#include "widgets/WindowSize.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>

namespace {

NumericField *field(QWidget *parent, int x, int y, int minimum, int maximum)
{
    auto *f = new NumericField(parent);
    f->setGeometry(x, y, 58, 21);
    f->setRange(minimum, maximum);
    f->setValue(minimum);
    return f;
}

QLabel *label(QWidget *parent, const QString &text, int x, int y, int w = -1, int h = -1)
{
    auto *l = new QLabel(text, parent);
    l->move(x, y);
    if (w > 0)
        l->resize(w, h);
    else
        l->adjustSize();
    return l;
}

} // namespace

Tparam::Tparam(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("param"));
    setWindowTitle(QStringLiteral("放電器の設定"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint);
    setFont(fonts::WindowFont());
    setFixedSize(265, 490);

    GroupBox1 = new QGroupBox(QStringLiteral("放電器設定"), this);
    GroupBox1->setGeometry(8, 6, 249, 418);

    label(GroupBox1, QStringLiteral("放電停止電圧"), 12, 24);
    label(GroupBox1, QStringLiteral("(50～120)"), 20, 40);
    CSpVstop = field(GroupBox1, 112, 26, 50, 150);
    label(GroupBox1, QStringLiteral("x0.01V"), 176, 30);

    label(GroupBox1, QStringLiteral("基準電圧値"), 12, 64);
    label(GroupBox1, QStringLiteral("(245～255)"), 20, 80);
    CSpVref = field(GroupBox1, 112, 66, 245, 255);
    label(GroupBox1, QStringLiteral("x0.01V"), 176, 70);

    label(GroupBox1, QStringLiteral("放電停止時間"), 12, 104);
    label(GroupBox1, QStringLiteral("(0, 1～255)"), 20, 120);
    CSpTstop = field(GroupBox1, 112, 106, 0, 255);
    auto *note = label(GroupBox1, QStringLiteral("0なら停止しない"), 176, 102, 64, 34);
    note->setWordWrap(true);

    RGpTsel = new RadioGroup(QStringLiteral("放電時間記録間隔選択"),
        {QStringLiteral("1分サイクル /255分(4時間15分)"), QStringLiteral("10秒サイクル/2550秒(42分30秒)"),
            QStringLiteral("1秒サイクル /255秒(4分15秒)")},
        GroupBox1);
    RGpTsel->setGeometry(10, 146, 229, 92);
    RGpTxcyc = new RadioGroup(QStringLiteral("放電中データ送出サイクル"),
        {QStringLiteral("1分　データのシリアル出力間隔"), QStringLiteral("1秒")}, GroupBox1);
    RGpTxcyc->setGeometry(10, 246, 229, 74);
    RGpBeep = new RadioGroup(QStringLiteral("ブザー音"),
        {QStringLiteral("なし"), QStringLiteral("あり　放電中1分ごとにブザー報知")}, GroupBox1);
    RGpBeep->setGeometry(10, 328, 229, 74);

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("設定"), this);
    StatusLine = new QLabel(this);
    StatusLine->setObjectName(QStringLiteral("StatusLine"));
    StatusLine->setGeometry(8, 426, 249, 22);
    StatusLine->setAlignment(Qt::AlignCenter);

    BitBtn1->setGeometry(24, 454, 96, 28);
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("キャンセル"), this);
    BitBtn2->setGeometry(145, 454, 96, 28);
    for (QPushButton *b : {BitBtn1, BitBtn2}) {
        b->setFocusPolicy(Qt::ClickFocus); // clickable, but Tab passes them by
        b->setAutoDefault(true); // Enter presses the focused button
    }
    BitBtn1->setDefault(true); // and 設定 from anywhere else

    setTabOrder(CSpVstop, CSpVref);
    setTabOrder(CSpVref, CSpTstop);
    RGpTsel->chainTabOrder(CSpTstop);
    RGpTxcyc->chainTabOrder(RGpTsel->lastTabItem());
    RGpBeep->chainTabOrder(RGpTxcyc->lastTabItem());

    m_geometry = new windowsize::FramedGeometry(this);

    connect(BitBtn1, &QPushButton::clicked, this, &Tparam::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &Tparam::BitBtn2Click);
}

void Tparam::PushSettings()
{
    CSpVstop->setValue(settings::Vstop);
    CSpVref->setValue(settings::Vref);
    RGpTxcyc->setItemIndex(settings::Txcyc);
    RGpBeep->setItemIndex(settings::Beep);
    CSpTstop->setValue(settings::Tstop);
    RGpTsel->setItemIndex(settings::Tsel);
}

void Tparam::BitBtn1Click()
{
    // Enter confirms without leaving the field; pull typed values into range
    // as leaving it would, so no out-of-range value goes to the discharger.
    for (NumericField *f : {CSpVstop, CSpVref, CSpTstop})
        f->setValue(f->value());
    settings::Vstop = CSpVstop->value();
    settings::Vref = CSpVref->value();
    settings::Txcyc = RGpTxcyc->itemIndex();
    settings::Beep = RGpBeep->itemIndex();
    settings::Tstop = CSpTstop->value();
    settings::Tsel = RGpTsel->itemIndex();
    exchange::Start();
    ShowProgress();
}

void Tparam::ShowProgress()
{
    const QString text = exchange::ProgressText();
    if (StatusLine->text() != text)
        StatusLine->setText(text);
}

void Tparam::BitBtn2Click()
{
    exchange::Cancel();
    ShowProgress();
    hide();
}

void Tparam::reject()
{
    BitBtn2Click();
}

void Tparam::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    forms::PushSettingsToDialogs();
    if (!event->spontaneous()) {
        // Each show as the first: over the main window, on the first field.
        m_geometry->centreOn(forms::main);
        CSpVstop->setFocus(Qt::OtherFocusReason);
        ShowProgress();
    }
}

void Tparam::closeEvent(QCloseEvent *event)
{
    event->accept();
    hide();
}

void AnswerPrompt()
{
    Tmain *m = forms::main;
    if (!m)
        return;
    exchange::Step(
        *m->RichEdit1, [m](const QByteArray &bytes) { return m->CommX1->TransString(bytes); },
        [](const QString &text) { errors::ShowWarning(text); });
    if (forms::param)
        forms::param->ShowProgress();
}
