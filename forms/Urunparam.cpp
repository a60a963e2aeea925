#include "forms/Urunparam.h"
#include "widgets/Fonts.h"

#include "widgets/DialogButtons.h"
#include "widgets/NumericField.h"
#include "widgets/RadioGroup.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

Trunparam::Trunparam(const analysis::CapacityParameters &p, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("runparam"));
    setWindowTitle(QStringLiteral("放電記録の条件"));
    setFont(fonts::WindowFont());

    RGpHtime = new RadioGroup(
        QStringLiteral("時間軸選択"), {QStringLiteral("1分"), QStringLiteral("10秒"), QStringLiteral("1秒")}, this);
    RGpHtime->setMinimumSize(89, 73);
    RGpHtime->setItemIndex(p.Htime >= 0 && p.Htime <= 2 ? p.Htime : 0);
    // The ranges of the graph settings' fields.
    CSpHteiko = new NumericField(this);
    CSpHteiko->setRange(10, 1000);
    CSpHteiko->setValue(p.Hteiko);
    CSpHvds = new NumericField(this);
    CSpHvds->setRange(0, 100);
    CSpHvds->setValue(p.Hvds);
    for (NumericField *n : {CSpHteiko, CSpHvds})
        n->setFixedSize(61, 21);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("放電抵抗抵抗値 x0.01Ω"), CSpHteiko);
    form->addRow(QStringLiteral("FET Vds 飽和電圧 x0.01V"), CSpHvds);
    form->addRow(RGpHtime);

    const dialogbuttons::OkCancel buttons = dialogbuttons::Make(this);
    Button1 = buttons.ok;
    Button2 = buttons.cancel;
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons.row);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    CSpHteiko->lineEdit()->setFocus(Qt::OtherFocusReason);
}

analysis::CapacityParameters Trunparam::parameters()
{
    analysis::CapacityParameters p;
    p.Htime = RGpHtime->itemIndex();
    p.Hteiko = CSpHteiko->value();
    p.Hvds = CSpHvds->value();
    return p;
}
