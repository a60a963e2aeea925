#include "forms/Ucellinfo.h"
#include "widgets/Fonts.h"

#include "widgets/DialogButtons.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/FieldKeys.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

Tcellinfo::Tcellinfo(const library::CellInfo &info, QWidget *parent)
    : QDialog(parent)
    , m_info(info)
{
    setObjectName(QStringLiteral("cellinfo"));
    setWindowTitle(QStringLiteral("セルの情報"));
    setFont(fonts::WindowFont());

    labelEdit = new QLineEdit(info.label, this);
    modelEdit = new QLineEdit(info.model, this);
    nominalEdit = new QLineEdit(info.hasNominal ? QString::number(info.nominalMah, 'g', 10) : QString(), this);
    memoEdit = new QLineEdit(info.memo, this);
    retiredCheck = new QCheckBox(QStringLiteral("引退(&R)"), this);
    retiredCheck->setChecked(info.state == library::CellState::Retired);
    for (QLineEdit *e : {labelEdit, modelEdit, nominalEdit, memoEdit}) {
        e->setMinimumWidth(220);
        fieldkeys::IgnoreAltText(e);
    }

    stateLabel = new QLabel(library::CellStateText(info.state, info.pack), this);
    stateLabel->setTextFormat(Qt::PlainText);
    undoBuiltInButton = new QPushButton(QStringLiteral("組込み解除(&U)"), this);
    undoBuiltInButton->setAutoDefault(false);
    undoBuiltInButton->setVisible(info.state == library::CellState::BuiltIn);
    auto *stateRow = new QHBoxLayout;
    stateRow->addWidget(stateLabel, 1);
    stateRow->addWidget(undoBuiltInButton);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("ラベル(&L)"), labelEdit);
    form->addRow(QStringLiteral("型番(&M)"), modelEdit);
    form->addRow(QStringLiteral("公称(mAh)(&N)"), nominalEdit);
    form->addRow(QStringLiteral("メモ(&E)"), memoEdit);
    form->addRow(QStringLiteral("状態"), stateRow);
    form->addRow(QString(), retiredCheck);

    const dialogbuttons::OkCancel buttons = dialogbuttons::Make(this);
    okButton = buttons.ok;
    cancelButton = buttons.cancel;
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons.row);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(okButton, &QPushButton::clicked, this, &Tcellinfo::accept);
    connect(undoBuiltInButton, &QPushButton::clicked, this, &Tcellinfo::undoBuiltInClicked);
    labelEdit->setFocus(Qt::OtherFocusReason);
    labelEdit->selectAll();
}

void Tcellinfo::undoBuiltInClicked()
{
    if (m_info.state != library::CellState::BuiltIn)
        return;
    // Shown at once, written with the rest on OK.
    m_undoBuiltIn = true;
    stateLabel->setText(library::CellStateText(library::CellState::InUse));
    undoBuiltInButton->setEnabled(false);
    labelEdit->setFocus(Qt::OtherFocusReason);
}

bool Tcellinfo::ParseNominal(const QString &text, bool &has, double &mah)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        has = false;
        mah = 0.0;
        return true;
    }
    bool ok = false;
    const double v = QLocale::c().toDouble(t, &ok);
    if (!ok || !(v > 0.0) || !qIsFinite(v))
        return false;
    has = true;
    mah = v;
    return true;
}

void Tcellinfo::accept()
{
    const QString label = labelEdit->text().trimmed();
    if (label.isEmpty()) {
        errors::ShowWarning(QStringLiteral("ラベルを入力してください"));
        labelEdit->setFocus(Qt::OtherFocusReason);
        return;
    }
    bool has = false;
    double mah = 0.0;
    if (!ParseNominal(nominalEdit->text(), has, mah)) {
        errors::ShowWarning(QStringLiteral("公称容量は正の数で入力してください"));
        nominalEdit->setFocus(Qt::OtherFocusReason);
        nominalEdit->selectAll();
        return;
    }
    m_info.label = label;
    m_info.model = modelEdit->text().trimmed();
    m_info.hasNominal = has;
    m_info.nominalMah = mah;
    m_info.memo = memoEdit->text();
    // A cell in a pack stays there unless it is retired; one taken out of
    // retirement is in use again.
    if (m_undoBuiltIn && m_info.state == library::CellState::BuiltIn) {
        m_info.state = library::CellState::InUse;
        m_info.pack = QStringLiteral("");
    }
    if (retiredCheck->isChecked())
        m_info.state = library::CellState::Retired;
    else if (m_info.state == library::CellState::Retired)
        m_info.state = library::CellState::InUse;
    QDialog::accept();
}
