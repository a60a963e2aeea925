#include "forms/Ufigurecolumns.h"

#include "widgets/DialogButtons.h"
#include "widgets/Fonts.h"

#include <QCheckBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QVBoxLayout>

Tfigurecolumns::Tfigurecolumns(const QString &file, const library::FigureColumns &columns, QWidget *parent)
    : QDialog(parent)
    , m_columns(columns)
{
    setObjectName(QStringLiteral("figurecolumns"));
    setWindowTitle(QStringLiteral("測定の取り込み"));
    setFont(fonts::WindowFont());
    const auto field = [this](int column) {
        auto *f = new QSpinBox(this);
        f->setRange(1, library::MaxFigureColumn);
        f->setValue(column + 1);
        return f;
    };
    labelColumnEdit = field(columns.label);
    dateColumnEdit = field(columns.date);
    figureColumnEdit = field(columns.figure);
    valueColumnEdit = field(columns.value);
    headerCheck = new QCheckBox(QStringLiteral("1行目は見出し(&H)"), this);
    headerCheck->setChecked(columns.header);
    auto *fileLabel = new QLabel(QDir::toNativeSeparators(file), this);
    fileLabel->setTextFormat(Qt::PlainText);
    auto *note = new QLabel(QStringLiteral("種類は「内部抵抗」または「自己放電」、自己放電の値は "
                                           "充電後電圧/放置後電圧/日数 です"),
        this);
    note->setWordWrap(true);
    messageLabel = new QLabel(this);
    messageLabel->setTextFormat(Qt::PlainText);

    const dialogbuttons::OkCancel buttons = dialogbuttons::Make(this);
    okButton = buttons.ok;
    cancelButton = buttons.cancel;
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("ファイル"), fileLabel);
    form->addRow(QStringLiteral("ラベルの列(&L)"), labelColumnEdit);
    form->addRow(QStringLiteral("日付の列(&D)"), dateColumnEdit);
    form->addRow(QStringLiteral("種類の列(&K)"), figureColumnEdit);
    form->addRow(QStringLiteral("値の列(&V)"), valueColumnEdit);
    form->addRow(QString(), headerCheck);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(messageLabel);
    layout->addLayout(buttons.row);
    connect(okButton, &QPushButton::clicked, this, &Tfigurecolumns::accept);
}

void Tfigurecolumns::accept()
{
    library::FigureColumns c;
    c.label = labelColumnEdit->value() - 1;
    c.date = dateColumnEdit->value() - 1;
    c.figure = figureColumnEdit->value() - 1;
    c.value = valueColumnEdit->value() - 1;
    c.header = headerCheck->isChecked();
    if (QSet<int>{c.label, c.date, c.figure, c.value}.size() != 4) {
        messageLabel->setText(QStringLiteral("4つの列はそれぞれ別の列にしてください"));
        labelColumnEdit->setFocus(Qt::OtherFocusReason);
        return;
    }
    m_columns = c;
    QDialog::accept();
}
