#include "widgets/DialogButtons.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace dialogbuttons {

OkCancel Make(QDialog *dialog)
{
    OkCancel b;
    b.ok = new QPushButton(QStringLiteral("OK"), dialog);
    b.ok->setDefault(true);
    b.cancel = new QPushButton(QStringLiteral("キャンセル"), dialog);
    QObject::connect(b.cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    b.row = new QHBoxLayout;
    b.row->addStretch(1);
    b.row->addWidget(b.ok);
    b.row->addWidget(b.cancel);
    return b;
}

} // namespace dialogbuttons
