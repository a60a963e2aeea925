#include "forms/Ugradelimits.h"

#include "library/Figures.h"
#include "library/LibraryService.h"
#include "widgets/DialogButtons.h"
#include "widgets/FieldKeys.h"
#include "widgets/Fonts.h"

#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

Tgradelimits::Tgradelimits(library::LibraryService *service, QWidget *parent)
    : QDialog(parent)
    , m_service(service)
{
    setWindowTitle(QStringLiteral("判定の基準"));
    setFont(fonts::WindowFont()); // a window does not take its parent's font
    const auto field = [this] {
        auto *f = new QDoubleSpinBox(this);
        f->setRange(0.0, 1000.0);
        f->setDecimals(1);
        f->setSuffix(QStringLiteral(" %"));
        f->setEnabled(false);
        return f;
    };
    goodEdit = field();
    fairEdit = field();
    const auto limitField = [this](const QString &unit) {
        auto *f = new QLineEdit(this);
        f->setPlaceholderText(QStringLiteral("上限なし (%1)").arg(unit));
        f->setEnabled(false);
        fieldkeys::IgnoreAltText(f);
        return f;
    };
    goodResistanceEdit = limitField(QStringLiteral("mΩ"));
    fairResistanceEdit = limitField(QStringLiteral("mΩ"));
    goodSelfDischargeEdit = limitField(QStringLiteral("mV/日"));
    fairSelfDischargeEdit = limitField(QStringLiteral("mV/日"));
    messageLabel = new QLabel(this);
    const dialogbuttons::OkCancel buttons = dialogbuttons::Make(this);
    okButton = buttons.ok;
    okButton->setEnabled(false); // until the limits are read
    cancelButton = buttons.cancel;

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("「良」健全度がこれ以上(&G)"), goodEdit);
    form->addRow(QStringLiteral("「可」健全度がこれ以上(&F)"), fairEdit);
    form->addRow(QStringLiteral("「良」内部抵抗(mΩ)がこれ以下(&R)"), goodResistanceEdit);
    form->addRow(QStringLiteral("「可」内部抵抗(mΩ)がこれ以下(&S)"), fairResistanceEdit);
    form->addRow(QStringLiteral("「良」自己放電(mV/日)がこれ以下(&D)"), goodSelfDischargeEdit);
    form->addRow(QStringLiteral("「可」自己放電(mV/日)がこれ以下(&E)"), fairSelfDischargeEdit);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(messageLabel);
    layout->addLayout(buttons.row);

    connect(okButton, &QPushButton::clicked, this, &Tgradelimits::okClicked);

    m_service->readGradeLimits(this, [this](const library::Reply<library::GradeLimits> &r) {
        if (!r.ok()) {
            messageLabel->setText(r.error);
            return;
        }
        const library::GradeLimits &limits = r.value;
        goodEdit->setValue(limits.good);
        fairEdit->setValue(limits.fair);
        goodEdit->setEnabled(true);
        fairEdit->setEnabled(true);
        const auto show = [](QLineEdit *e, const std::optional<double> &v) {
            e->setText(v ? QString::number(*v, 'g', 10) : QString());
            e->setEnabled(true);
        };
        show(goodResistanceEdit, limits.goodResistance);
        show(fairResistanceEdit, limits.fairResistance);
        show(goodSelfDischargeEdit, limits.goodSelfDischarge);
        show(fairSelfDischargeEdit, limits.fairSelfDischarge);
        okButton->setEnabled(true);
        m_loaded = true;
        emit loaded();
    });
}

bool Tgradelimits::ParseLimit(const QString &text, std::optional<double> &limit)
{
    if (text.trimmed().isEmpty()) {
        limit.reset();
        return true;
    }
    const std::optional<double> v = library::ParseFigureNumber(text);
    if (!v || !(*v > 0.0))
        return false;
    limit = *v;
    return true;
}

void Tgradelimits::okClicked()
{
    library::GradeLimits limits{goodEdit->value(), fairEdit->value()};
    if (!library::LimitsAreValid(limits)) {
        messageLabel->setText(QStringLiteral("「可」の基準は「良」の基準以下にしてください"));
        fairEdit->setFocus();
        return;
    }
    const std::pair<QLineEdit *, std::optional<double> library::GradeLimits::*> fields[] = {
        {goodResistanceEdit, &library::GradeLimits::goodResistance},
        {fairResistanceEdit, &library::GradeLimits::fairResistance},
        {goodSelfDischargeEdit, &library::GradeLimits::goodSelfDischarge},
        {fairSelfDischargeEdit, &library::GradeLimits::fairSelfDischarge},
    };
    for (const auto &[edit, member] : fields) {
        if (!ParseLimit(edit->text(), limits.*member)) {
            messageLabel->setText(QStringLiteral("上限は 0 より大きい数で入力してください（空欄は上限なし）"));
            edit->setFocus();
            edit->selectAll();
            return;
        }
    }
    if (!library::LimitsAreValid(limits)) {
        const bool resistance
            = limits.goodResistance && limits.fairResistance && *limits.goodResistance > *limits.fairResistance;
        messageLabel->setText(QStringLiteral("「良」の上限は「可」の上限以下にしてください"));
        (resistance ? goodResistanceEdit : goodSelfDischargeEdit)->setFocus();
        return;
    }
    // Written in the order asked, before any later plan reads the limits; a
    // failure is told by the service, as the dialog is gone by then.
    m_service->writeGradeLimits(limits, nullptr, nullptr);
    accept();
}
