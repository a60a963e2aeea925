#include "forms/Ugradelimits.h"

#include "library/LibraryService.h"
#include "widgets/DialogButtons.h"
#include "widgets/Fonts.h"

#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
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
    messageLabel = new QLabel(this);
    const dialogbuttons::OkCancel buttons = dialogbuttons::Make(this);
    okButton = buttons.ok;
    okButton->setEnabled(false); // until the limits are read
    cancelButton = buttons.cancel;

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("「良」健全度がこれ以上(&G)"), goodEdit);
    form->addRow(QStringLiteral("「可」健全度がこれ以上(&F)"), fairEdit);
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
        okButton->setEnabled(true);
        m_loaded = true;
        emit loaded();
    });
}

void Tgradelimits::okClicked()
{
    const library::GradeLimits limits{goodEdit->value(), fairEdit->value()};
    if (!library::LimitsAreValid(limits)) {
        messageLabel->setText(QStringLiteral("「可」の基準は「良」の基準以下にしてください"));
        fairEdit->setFocus();
        return;
    }
    // Written in the order asked, before any later plan reads the limits; a
    // failure is told by the service, as the dialog is gone by then.
    m_service->writeGradeLimits(limits, nullptr, nullptr);
    accept();
}
