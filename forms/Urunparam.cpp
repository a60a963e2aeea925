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

    timeUnitGroup = new RadioGroup(
        QStringLiteral("時間軸選択"), {QStringLiteral("1分"), QStringLiteral("10秒"), QStringLiteral("1秒")}, this);
    timeUnitGroup->setMinimumSize(89, 73);
    timeUnitGroup->setItemIndex(p.Htime >= 0 && p.Htime <= 2 ? p.Htime : 0);
    // The ranges of the graph settings' fields.
    resistorField = new NumericField(this);
    resistorField->setRange(10, 1000);
    resistorField->setValue(p.Hteiko);
    fetVoltageField = new NumericField(this);
    fetVoltageField->setRange(0, 100);
    fetVoltageField->setValue(p.Hvds);
    for (NumericField *n : {resistorField, fetVoltageField})
        n->setFixedSize(61, 21);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("放電抵抗抵抗値 x0.01Ω"), resistorField);
    form->addRow(QStringLiteral("FET Vds 飽和電圧 x0.01V"), fetVoltageField);
    form->addRow(timeUnitGroup);

    const dialogbuttons::OkCancel buttons = dialogbuttons::Make(this);
    okButton = buttons.ok;
    cancelButton = buttons.cancel;
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons.row);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    resistorField->lineEdit()->setFocus(Qt::OtherFocusReason);
}

analysis::CapacityParameters Trunparam::parameters()
{
    analysis::CapacityParameters p;
    p.Htime = timeUnitGroup->itemIndex();
    p.Hteiko = resistorField->value();
    p.Hvds = fetVoltageField->value();
    return p;
}
