#include "forms/Ucellinfo.h"
#include "library/LibraryService.h"
#include "widgets/Fonts.h"

#include "widgets/DialogButtons.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/FieldKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

Tcellinfo::Tcellinfo(const library::CellInfo &info, QWidget *parent)
    : Tcellinfo(info, nullptr, parent)
{ }

Tcellinfo::Tcellinfo(const library::CellInfo &info, library::LibraryService *service, QWidget *parent)
    : QDialog(parent)
    , m_info(info)
    , m_service(service)
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
    if (m_service && info.id != 0)
        layout->addLayout(buildFigures());
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

QLayout *Tcellinfo::buildFigures()
{
    auto *title = new QLabel(QStringLiteral("測定"), this);
    figureView = new QTableWidget(0, 3, this);
    figureView->setHorizontalHeaderLabels({QStringLiteral("日付"), QStringLiteral("種類"), QStringLiteral("値")});
    figureView->verticalHeader()->hide();
    figureView->horizontalHeader()->setStretchLastSection(true);
    figureView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    figureView->setSelectionBehavior(QAbstractItemView::SelectRows);
    figureView->setSelectionMode(QAbstractItemView::SingleSelection);
    figureView->setTabKeyNavigation(false);
    figureView->setMinimumSize(420, 140);
    title->setBuddy(figureView);
    figureKindBox = new QComboBox(this);
    for (library::FigureKind k : {library::FigureKind::Resistance, library::FigureKind::SelfDischarge})
        figureKindBox->addItem(library::FigureKindText(k), int(k));
    figureDateEdit = new QDateEdit(QDate::currentDate(), this);
    figureDateEdit->setCalendarPopup(true);
    figureDateEdit->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    figureValueEdit = new QLineEdit(this);
    figureValueEdit->setObjectName(QStringLiteral("FigureValue"));
    fieldkeys::IgnoreAltText(figureValueEdit);
    addFigureButton = new QPushButton(QStringLiteral("追加(&A)"), this);
    deleteFigureButton = new QPushButton(QStringLiteral("削除(&D)"), this);
    for (QPushButton *b : {addFigureButton, deleteFigureButton})
        b->setAutoDefault(false);
    figureMessageLabel = new QLabel(this);
    figureMessageLabel->setTextFormat(Qt::PlainText);
    const auto placeholder = [this] {
        figureValueEdit->setPlaceholderText(figureKindBox->currentData().toInt() == int(library::FigureKind::Resistance)
                ? QStringLiteral("mΩ")
                : QStringLiteral("充電後V/放置後V/日数"));
    };
    placeholder();
    connect(figureKindBox, &QComboBox::currentIndexChanged, this, placeholder);
    connect(addFigureButton, &QPushButton::clicked, this, &Tcellinfo::addFigureClicked);
    connect(deleteFigureButton, &QPushButton::clicked, this, &Tcellinfo::deleteFigureClicked);
    // Enter in the value adds it rather than closing the dialog.
    figureValueEdit->installEventFilter(this);
    connect(m_service, &library::LibraryService::changed, this, [this](library::Changes what) {
        if (what & library::Change::Cells)
            readFigures();
    });

    auto *entry = new QHBoxLayout;
    entry->addWidget(figureKindBox);
    entry->addWidget(figureDateEdit);
    entry->addWidget(figureValueEdit, 1);
    entry->addWidget(addFigureButton);
    entry->addWidget(deleteFigureButton);
    auto *box = new QVBoxLayout;
    box->addWidget(title);
    box->addWidget(figureView, 1);
    box->addLayout(entry);
    box->addWidget(figureMessageLabel);
    readFigures();
    return box;
}

void Tcellinfo::readFigures()
{
    if (!m_service || !figureView)
        return;
    m_service->readFigures(m_info.id, this, [this](const library::Reply<QList<library::Measurement>> &r) {
        if (!r.ok())
            figureMessageLabel->setText(r.error);
        m_figures = r.value;
        figureView->setRowCount(int(m_figures.size()));
        for (int row = 0; row < int(m_figures.size()); ++row) {
            const library::Measurement &m = m_figures.at(row);
            const QStringList texts{m.date.toString(QStringLiteral("yyyy/MM/dd")), library::FigureKindText(m.kind),
                library::MeasurementText(m)};
            for (int c = 0; c < texts.size(); ++c)
                figureView->setItem(row, c, new QTableWidgetItem(texts.at(c)));
        }
        figureView->resizeColumnsToContents();
        deleteFigureButton->setEnabled(!m_figures.isEmpty());
        emit figuresShown();
    });
}

void Tcellinfo::addFigureClicked()
{
    if (!m_service)
        return;
    library::Measurement m;
    m.cellId = m_info.id;
    m.date = figureDateEdit->date();
    const QString problem = library::ReadFigureValue(
        library::FigureKind(figureKindBox->currentData().toInt()), figureValueEdit->text(), m);
    if (!problem.isEmpty()) {
        figureMessageLabel->setText(problem);
        figureValueEdit->setFocus(Qt::OtherFocusReason);
        figureValueEdit->selectAll();
        return;
    }
    figureMessageLabel->clear();
    // The list follows from the service's announcement.
    m_service->addFigure(m, this, [this](const library::Reply<qint64> &r) {
        if (!r.ok()) {
            figureMessageLabel->setText(r.error);
            return;
        }
        figureValueEdit->clear();
    });
    figureValueEdit->setFocus(Qt::OtherFocusReason);
}

void Tcellinfo::deleteFigureClicked()
{
    if (!m_service || !figureView)
        return;
    const int row = figureView->currentRow();
    if (row < 0 || row >= m_figures.size()) {
        figureMessageLabel->setText(QStringLiteral("削除する測定を選んでください"));
        return;
    }
    m_service->deleteFigure(m_figures.at(row).id, this, [this](const library::Reply<library::Nothing> &r) {
        if (!r.ok())
            figureMessageLabel->setText(r.error);
    });
}

bool Tcellinfo::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == figureValueEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            addFigureClicked();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
