#include "forms/Ugradelimits.h"

#include "library/LibraryService.h"
#include "packs/LibraryPool.h"
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
    GoodEdit = field();
    FairEdit = field();
    MessageLabel = new QLabel(this);
    const dialogbuttons::OkCancel buttons = dialogbuttons::Make(this);
    OkButton = buttons.ok;
    OkButton->setEnabled(false); // until the limits are read
    CancelButton = buttons.cancel;

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("「良」健全度がこれ以上(&G)"), GoodEdit);
    form->addRow(QStringLiteral("「可」健全度がこれ以上(&F)"), FairEdit);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(MessageLabel);
    layout->addLayout(buttons.row);

    connect(OkButton, &QPushButton::clicked, this, &Tgradelimits::OkButtonClick);

    m_service->query<library::GradeLimits>([](library::Library &lib) { return packs::ReadGradeLimits(lib); }, this,
        [this](const library::GradeLimits &limits) {
            GoodEdit->setValue(limits.good);
            FairEdit->setValue(limits.fair);
            GoodEdit->setEnabled(true);
            FairEdit->setEnabled(true);
            OkButton->setEnabled(true);
            m_loaded = true;
            emit loaded();
        });
}

void Tgradelimits::OkButtonClick()
{
    const library::GradeLimits limits{GoodEdit->value(), FairEdit->value()};
    if (!library::LimitsAreValid(limits)) {
        MessageLabel->setText(QStringLiteral("「可」の基準は「良」の基準以下にしてください"));
        FairEdit->setFocus();
        return;
    }
    library::LibraryService *service = m_service;
    // Written in the order asked, before any later plan reads the limits.
    m_service->post([limits, service](library::Library &lib) {
        packs::WriteGradeLimits(lib, limits);
        emit service->changed();
    });
    accept();
}
