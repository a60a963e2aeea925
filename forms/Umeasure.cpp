#include "forms/Umeasure.h"

#include "library/LibraryService.h"
#include "library/Scanner.h"
#include "widgets/FieldKeys.h"
#include "widgets/Fonts.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QLineEdit *makeField(QWidget *parent, const QString &name)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setMinimumWidth(160);
    fieldkeys::IgnoreAltText(e);
    return e;
}

} // namespace

Tmeasure::Tmeasure(library::LibraryService *service, QWidget *parent)
    : QDialog(parent)
    , m_service(service)
{
    setObjectName(QStringLiteral("measure"));
    setWindowTitle(QStringLiteral("測定の入力"));
    setFont(fonts::WindowFont());

    kindBox = new QComboBox(this);
    kindBox->addItem(library::FigureKindText(library::FigureKind::Resistance), int(library::FigureKind::Resistance));
    kindBox->addItem(
        library::FigureKindText(library::FigureKind::SelfDischarge), int(library::FigureKind::SelfDischarge));
    dateEdit = new QDateEdit(QDate::currentDate(), this);
    dateEdit->setCalendarPopup(true);
    dateEdit->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    daysEdit = makeField(this, QStringLiteral("Days"));
    labelEdit = makeField(this, QStringLiteral("Label"));
    resistanceEdit = makeField(this, QStringLiteral("Resistance"));
    chargedEdit = makeField(this, QStringLiteral("Charged"));
    restedEdit = makeField(this, QStringLiteral("Rested"));

    m_form = new QFormLayout;
    m_form->addRow(QStringLiteral("種類(&K)"), kindBox);
    m_form->addRow(QStringLiteral("日付(&T)"), dateEdit);
    m_form->addRow(QStringLiteral("日数(&N)"), daysEdit);
    m_form->addRow(QStringLiteral("ラベル(&L)"), labelEdit);
    m_form->addRow(QStringLiteral("内部抵抗(mΩ)(&V)"), resistanceEdit);
    m_form->addRow(QStringLiteral("充電後(V)(&C)"), chargedEdit);
    m_form->addRow(QStringLiteral("放置後(V)(&R)"), restedEdit);

    entryView = new QTableWidget(0, 4, this);
    entryView->setHorizontalHeaderLabels(
        {QStringLiteral("ラベル"), QStringLiteral("種類"), QStringLiteral("値"), QStringLiteral("結果")});
    entryView->verticalHeader()->hide();
    entryView->horizontalHeader()->setStretchLastSection(true);
    entryView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    entryView->setSelectionMode(QAbstractItemView::NoSelection);
    entryView->setFocusPolicy(Qt::NoFocus);
    entryView->setMinimumSize(460, 160);

    undoButton = new QPushButton(QStringLiteral("取り消し(&U)"), this);
    closeButton = new QPushButton(QStringLiteral("閉じる"), this);
    // Enter belongs to the fields: no button takes it.
    for (QPushButton *b : {undoButton, closeButton}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    undoButton->setEnabled(false);
    statusLabel = new QLabel(this);
    statusLabel->setObjectName(QStringLiteral("Status"));
    statusLabel->setTextFormat(Qt::PlainText);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(undoButton);
    buttons->addStretch(1);
    buttons->addWidget(closeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(m_form);
    layout->addWidget(entryView, 1);
    layout->addWidget(statusLabel);
    layout->addLayout(buttons);

    connect(kindBox, &QComboBox::currentIndexChanged, this, &Tmeasure::kindChanged);
    connect(labelEdit, &QLineEdit::returnPressed, this, &Tmeasure::labelEntered);
    for (QLineEdit *e : {labelEdit, resistanceEdit, chargedEdit, restedEdit})
        e->installEventFilter(this);
    for (QLineEdit *e : {resistanceEdit, chargedEdit, restedEdit})
        connect(e, &QLineEdit::returnPressed, this, [this, e] { valueEntered(e); });
    // Enter in the days goes on to the label, as the kind's other settings do.
    connect(daysEdit, &QLineEdit::returnPressed, this, [this] { labelEdit->setFocus(Qt::OtherFocusReason); });
    connect(undoButton, &QPushButton::clicked, this, &Tmeasure::undoClicked);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_service, &library::LibraryService::changed, this, [this](library::Changes what) {
        if (what & (library::Change::Cells | library::Change::Settings))
            readLabels();
    });
    kindChanged();
}

library::FigureKind Tmeasure::kind() const
{
    return library::FigureKind(kindBox->currentData().toInt());
}

void Tmeasure::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    readLabels();
    labelEdit->setFocus(Qt::OtherFocusReason);
}

bool Tmeasure::eventFilter(QObject *watched, QEvent *event)
{
    // A Tab typed into a field that holds text ends it as Enter does; an
    // empty field lets Tab move on as always.
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        auto *field = qobject_cast<QLineEdit *>(watched);
        if (field && key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier
            && !field->text().trimmed().isEmpty()) {
            if (field == labelEdit)
                labelEntered();
            else
                valueEntered(field);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Tmeasure::readLabels()
{
    m_service->readScannerPrefix(this, [this](const library::Reply<QString> &r) {
        if (r.ok())
            m_prefix = r.value;
        else
            statusLabel->setText(r.error);
    });
    m_service->readLabels(this, [this](const library::Reply<QStringList> &r) {
        if (!r.ok()) {
            statusLabel->setText(r.error);
            return;
        }
        m_labels = QSet<QString>(r.value.cbegin(), r.value.cend());
        m_labelsRead = true;
    });
}

void Tmeasure::kindChanged()
{
    const bool sd = kind() == library::FigureKind::SelfDischarge;
    m_form->setRowVisible(resistanceEdit, !sd);
    m_form->setRowVisible(chargedEdit, sd);
    m_form->setRowVisible(restedEdit, sd);
    m_form->setRowVisible(daysEdit, sd);
}

void Tmeasure::refuse(QLineEdit *field, const QString &why)
{
    // Told where the next scan looks, without a box that would take its Enter.
    statusLabel->setText(why);
    QApplication::beep();
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
}

void Tmeasure::labelEntered()
{
    const QString label = library::ScannedLabel(labelEdit->text(), m_prefix);
    if (label.isEmpty())
        return;
    labelEdit->setText(label);
    // The library has the last word; this only spares the user a value typed for nothing.
    if (m_labelsRead && !m_labels.contains(label)) {
        refuse(labelEdit, QStringLiteral("セル %1 はありません").arg(label));
        return;
    }
    m_label = label;
    statusLabel->setText(QString());
    QLineEdit *next = kind() == library::FigureKind::Resistance ? resistanceEdit : chargedEdit;
    next->clear();
    if (next == chargedEdit)
        restedEdit->clear();
    next->setFocus(Qt::OtherFocusReason);
}

void Tmeasure::valueEntered(QLineEdit *field)
{
    if (m_label.isEmpty() || library::ScannedLabel(labelEdit->text(), m_prefix) != m_label) {
        refuse(labelEdit, QStringLiteral("ラベルを読み取ってください"));
        return;
    }
    const std::optional<double> value = library::ParseFigureNumber(field->text());
    if (!value) {
        refuse(field, QStringLiteral("数を入力してください"));
        return;
    }
    if (field == chargedEdit) {
        restedEdit->setFocus(Qt::OtherFocusReason);
        return;
    }
    library::Measurement m;
    m.date = dateEdit->date();
    m.kind = kind();
    if (m.kind == library::FigureKind::Resistance) {
        m.resistanceMilliohm = *value;
    } else {
        const std::optional<double> charged = library::ParseFigureNumber(chargedEdit->text());
        if (!charged) {
            refuse(chargedEdit, QStringLiteral("数を入力してください"));
            return;
        }
        const std::optional<int> days = library::ParseDays(daysEdit->text());
        if (!days) {
            refuse(daysEdit, QStringLiteral("日数を入力してください"));
            return;
        }
        m.chargedVolts = *charged;
        m.restedVolts = *value;
        m.restDays = *days;
    }
    const QString problem = library::MeasurementProblem(m);
    if (!problem.isEmpty()) {
        refuse(m.restDays < 1 && m.kind == library::FigureKind::SelfDischarge ? daysEdit : field, problem);
        return;
    }
    submit(m_label, m);
    // Ready for the next cell at once: the scanner does not wait for the disk.
    m_label.clear();
    labelEdit->clear();
    for (QLineEdit *e : {resistanceEdit, chargedEdit, restedEdit})
        e->clear();
    labelEdit->setFocus(Qt::OtherFocusReason);
}

void Tmeasure::submit(const QString &label, const library::Measurement &m)
{
    entryView->insertRow(0);
    const QStringList texts{label, library::FigureKindText(m.kind), library::MeasurementText(m), QStringLiteral("…")};
    for (int c = 0; c < texts.size(); ++c)
        entryView->setItem(0, c, new QTableWidgetItem(texts.at(c)));
    QTableWidgetItem *result = entryView->item(0, 3);
    ++m_pending;
    m_service->addFigureFor(label, m, this, [this, result, label, m](const library::Reply<qint64> &r) {
        --m_pending;
        if (r.ok()) {
            result->setText(QStringLiteral("記録"));
            m_stored.append({r.value, result});
            undoButton->setEnabled(true);
            statusLabel->setText(QStringLiteral("記録しました: %1 %2").arg(label, library::MeasurementText(m)));
        } else {
            result->setText(r.error);
            statusLabel->setText(r.error);
            QApplication::beep();
        }
        entryView->resizeColumnsToContents();
        emit entryAnswered();
    });
}

void Tmeasure::undoClicked()
{
    if (m_stored.isEmpty())
        return;
    const auto [id, result] = m_stored.takeLast();
    undoButton->setEnabled(!m_stored.isEmpty());
    m_service->deleteFigure(id, this, [this, result = result](const library::Reply<library::Nothing> &r) {
        statusLabel->setText(r.ok() ? QStringLiteral("取り消しました") : r.error);
        // The row of what was taken back says so.
        if (r.ok())
            result->setText(QStringLiteral("取り消し"));
        labelEdit->setFocus(Qt::OtherFocusReason);
        emit entryAnswered();
    });
}
