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

    Edit1 = new QLineEdit(info.label, this);
    Edit2 = new QLineEdit(info.model, this);
    Edit3 = new QLineEdit(info.hasNominal ? QString::number(info.nominalMah, 'g', 10) : QString(), this);
    Edit4 = new QLineEdit(info.memo, this);
    CheckBox1 = new QCheckBox(QStringLiteral("引退(&R)"), this);
    CheckBox1->setChecked(info.state == library::CellState::Retired);
    for (QLineEdit *e : {Edit1, Edit2, Edit3, Edit4}) {
        e->setMinimumWidth(220);
        fieldkeys::IgnoreAltText(e);
    }

    Label1 = new QLabel(library::CellStateText(info.state, info.pack), this);
    Label1->setTextFormat(Qt::PlainText);
    Button3 = new QPushButton(QStringLiteral("組込み解除(&U)"), this);
    Button3->setAutoDefault(false);
    Button3->setVisible(info.state == library::CellState::BuiltIn);
    auto *stateRow = new QHBoxLayout;
    stateRow->addWidget(Label1, 1);
    stateRow->addWidget(Button3);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("ラベル(&L)"), Edit1);
    form->addRow(QStringLiteral("型番(&M)"), Edit2);
    form->addRow(QStringLiteral("公称(mAh)(&N)"), Edit3);
    form->addRow(QStringLiteral("メモ(&E)"), Edit4);
    form->addRow(QStringLiteral("状態"), stateRow);
    form->addRow(QString(), CheckBox1);

    const dialogbuttons::OkCancel buttons = dialogbuttons::Make(this);
    Button1 = buttons.ok;
    Button2 = buttons.cancel;
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons.row);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Button1, &QPushButton::clicked, this, &Tcellinfo::accept);
    connect(Button3, &QPushButton::clicked, this, &Tcellinfo::Button3Click);
    Edit1->setFocus(Qt::OtherFocusReason);
    Edit1->selectAll();
}

void Tcellinfo::Button3Click()
{
    if (m_info.state != library::CellState::BuiltIn)
        return;
    // Shown at once, written with the rest on OK.
    m_undoBuiltIn = true;
    Label1->setText(library::CellStateText(library::CellState::InUse));
    Button3->setEnabled(false);
    Edit1->setFocus(Qt::OtherFocusReason);
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
    const QString label = Edit1->text().trimmed();
    if (label.isEmpty()) {
        errors::ShowWarning(QStringLiteral("ラベルを入力してください"));
        Edit1->setFocus(Qt::OtherFocusReason);
        return;
    }
    bool has = false;
    double mah = 0.0;
    if (!ParseNominal(Edit3->text(), has, mah)) {
        errors::ShowWarning(QStringLiteral("公称容量は正の数で入力してください"));
        Edit3->setFocus(Qt::OtherFocusReason);
        Edit3->selectAll();
        return;
    }
    m_info.label = label;
    m_info.model = Edit2->text().trimmed();
    m_info.hasNominal = has;
    m_info.nominalMah = mah;
    m_info.memo = Edit4->text();
    // A cell in a pack stays there unless it is retired; one taken out of
    // retirement is in use again.
    if (m_undoBuiltIn && m_info.state == library::CellState::BuiltIn) {
        m_info.state = library::CellState::InUse;
        m_info.pack = QStringLiteral("");
    }
    if (CheckBox1->isChecked())
        m_info.state = library::CellState::Retired;
    else if (m_info.state == library::CellState::Retired)
        m_info.state = library::CellState::InUse;
    QDialog::accept();
}
