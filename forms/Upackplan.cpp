#include "forms/Upackplan.h"

#include "core/FileWriter.h"
#include "library/Figures.h"
#include "library/LibraryService.h"
#include "packs/PlanFiles.h"
#include "widgets/FieldKeys.h"
#include "widgets/Fonts.h"
#include "widgets/SaveDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

namespace {

QSpinBox *spin(int maximum, int value, QWidget *parent)
{
    auto *s = new QSpinBox(parent);
    s->setRange(1, maximum);
    s->setValue(value);
    return s;
}

QString mah(double v)
{
    return QString::number(v, 'f', 1);
}

} // namespace

Tpackplan::Tpackplan(
    library::LibraryService *service, FileWriter *files, std::optional<QList<qint64>> shownCells, QWidget *parent)
    : QDialog(parent)
    , m_service(service)
    , m_files(files)
    , m_planner(new packs::Planner(this))
    , m_shownCells(std::move(shownCells))
{
    setWindowTitle(QStringLiteral("組電池の設計"));
    setFont(fonts::WindowFont()); // a window does not take its parent's font
    setSizeGripEnabled(true);

    seriesEdit = spin(packs::MaxSeries, 4, this);
    parallelEdit = spin(packs::MaxParallel, 1, this);
    packsEdit = spin(packs::MaxPacks, 1, this);
    criterionBox = new QComboBox(this);
    criterionBox->addItems(
        {packs::CriterionText(packs::Criterion::Capacity), packs::CriterionText(packs::Criterion::CapacityAndCurve)});
    aimBox = new QComboBox(this);
    aimBox->addItems({packs::AimText(packs::Aim::Capacity), packs::AimText(packs::Aim::Even)});
    goodOnlyCheck = new QCheckBox(QStringLiteral("「良」のみ(&G)"), this);
    calcButton = new QPushButton(QStringLiteral("計算(&R)"), this);
    calcButton->setDefault(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("直列数 S(&S)"), seriesEdit);
    form->addRow(QStringLiteral("並列数 P(&P)"), parallelEdit);
    form->addRow(QStringLiteral("パック数 K(&K)"), packsEdit);
    form->addRow(QStringLiteral("基準(&T)"), criterionBox);
    form->addRow(QStringLiteral("優先(&O)"), aimBox);
    form->addRow(QString(), goodOnlyCheck);
    maxResistanceEdit = new QLineEdit(this);
    maxResistanceEdit->setPlaceholderText(QStringLiteral("上限なし"));
    fieldkeys::IgnoreAltText(maxResistanceEdit);
    form->addRow(QStringLiteral("内部抵抗の上限(mΩ)(&M)"), maxResistanceEdit);

    planView = new QTreeWidget(this);
    planView->setColumnCount(3);
    planView->setHeaderLabels(
        {QStringLiteral("グループ"), QStringLiteral("セル（容量 mAh）"), QStringLiteral("計(mAh)")});
    planView->header()->setStretchLastSection(false);
    planView->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    figuresLabel = new QLabel(this);
    figuresLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusLabel = new QLabel(this);
    statusLabel->setWordWrap(true);

    // Each opens a file dialog, like the ledger's CSV保存(&S)...; S and P are the counts' here.
    csvButton = new QPushButton(QStringLiteral("CSV保存(&C)..."), this);
    pdfButton = new QPushButton(QStringLiteral("PDF保存(&D)..."), this);
    recordButton = new QPushButton(QStringLiteral("組込み記録(&A)..."), this);
    closeButton = new QPushButton(QStringLiteral("閉じる"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(csvButton);
    buttons->addWidget(pdfButton);
    buttons->addWidget(recordButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);

    auto *top = new QHBoxLayout;
    top->addLayout(form);
    top->addWidget(calcButton, 0, Qt::AlignBottom);
    top->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(statusLabel);
    layout->addWidget(planView, 1);
    layout->addWidget(figuresLabel);
    layout->addLayout(buttons);
    resize(720, 560);

    connect(calcButton, &QPushButton::clicked, this, &Tpackplan::calcClicked);
    connect(csvButton, &QPushButton::clicked, this, &Tpackplan::csvClicked);
    connect(pdfButton, &QPushButton::clicked, this, &Tpackplan::pdfClicked);
    connect(recordButton, &QPushButton::clicked, this, &Tpackplan::recordClicked);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    showPlan();
}

Tpackplan::~Tpackplan() = default;

void Tpackplan::setBusy(bool busy)
{
    calcButton->setEnabled(!busy);
    const bool plan = !busy && m_plan.has_value();
    csvButton->setEnabled(plan);
    pdfButton->setEnabled(plan);
    recordButton->setEnabled(plan);
}

std::optional<packs::PlanRequest> Tpackplan::request()
{
    packs::PlanRequest r;
    if (!maxResistanceEdit->text().trimmed().isEmpty()) {
        const std::optional<double> limit = library::ParseFigureNumber(maxResistanceEdit->text());
        if (!limit || !(*limit > 0.0)) {
            statusLabel->setText(QStringLiteral("内部抵抗の上限は 0 より大きい数で入力してください"));
            return std::nullopt;
        }
        r.maxResistance = *limit;
    }
    r.shape.series = seriesEdit->value();
    r.shape.parallel = parallelEdit->value();
    r.shape.packs = packsEdit->value();
    r.criterion = criterionBox->currentIndex() == 1 ? packs::Criterion::CapacityAndCurve : packs::Criterion::Capacity;
    r.aim = aimBox->currentIndex() == 1 ? packs::Aim::Even : packs::Aim::Capacity;
    if (goodOnlyCheck->isChecked())
        r.grade = library::Grade::Good;
    r.onlyCells = m_shownCells;
    return r;
}

void Tpackplan::calcClicked()
{
    const std::optional<packs::PlanRequest> request = this->request();
    if (!request) {
        maxResistanceEdit->setFocus(Qt::OtherFocusReason);
        maxResistanceEdit->selectAll();
        return;
    }
    const packs::PlanRequest asked = *request;
    const int serial = ++m_serial;
    statusLabel->setText(QStringLiteral("計算しています…"));
    setBusy(true);
    const auto shown = [this, serial](const packs::LibraryPlan &p) {
        if (serial != m_serial)
            return;
        m_result = p;
        m_plan = p.result.plan;
        statusLabel->setText(p.result.error);
        showPlan();
        emit planReady();
    };
    m_service->readPlanPool(
        asked.pool(), this, [this, asked, shown](const library::Reply<QList<library::PoolCandidate>> &r) {
            if (!r.ok()) {
                packs::LibraryPlan failed;
                failed.result.error = r.error;
                shown(failed);
                return;
            }
            m_planner->plan(r.value, asked, this, shown);
        });
}

void Tpackplan::showPlan()
{
    planView->clear();
    figuresLabel->clear();
    setBusy(false);
    if (!m_plan)
        return;
    for (qsizetype p = 0; p < m_plan->packs.size(); ++p) {
        const packs::Pack &pack = m_plan->packs.at(p);
        auto *packItem = new QTreeWidgetItem(planView,
            {QStringLiteral("パック %1（%2）").arg(p + 1).arg(packs::ShapeText(m_plan->shape)), QString(), QString()});
        for (qsizetype g = 0; g < pack.groups.size(); ++g) {
            const packs::Group &group = pack.groups.at(g);
            QStringList names;
            for (int k : group.cells)
                names << QStringLiteral("%1 %2").arg(m_result.pool.at(k).label, mah(m_result.pool.at(k).capacity));
            auto *item = new QTreeWidgetItem(
                packItem, {QString::number(g + 1), names.join(QStringLiteral("　")), mah(group.total)});
            item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        }
        packItem->setExpanded(true);
    }
    planView->resizeColumnToContents(0);
    QStringList lines;
    for (const auto &[caption, text] : packs::FigureTexts(*m_plan))
        lines << caption + QStringLiteral(": ") + text;
    if (m_result.builtIn > 0)
        lines << QStringLiteral("組込み済みで除いたセル: %1").arg(m_result.builtIn);
    figuresLabel->setText(lines.join(QLatin1Char('\n')));
}

void Tpackplan::writeInBackground(const QString &path, const QByteArray &bytes)
{
    setBusy(true);
    m_files->write(path, bytes, this, [this, path](const QString &error) {
        setBusy(false);
        statusLabel->setText(error.isEmpty() ? QStringLiteral("保存しました: %1").arg(path) : error);
        emit workDone();
    });
}

void Tpackplan::saveCsv(const QString &path)
{
    if (m_plan)
        writeInBackground(path, QByteArray("\xEF\xBB\xBF") + packs::PlanCsvText(m_result.pool, *m_plan));
}

void Tpackplan::savePdf(const QString &path)
{
    // Laid out here, where the fonts are; only the writing goes to the file writer.
    if (m_plan)
        writeInBackground(path, packs::PlanPdf(m_result.pool, *m_plan));
}

void Tpackplan::csvClicked()
{
    const QString path = savedialog::AskSavePath(
        this, QStringLiteral("CSV保存"), {QStringLiteral("CSV (*.csv)")}, QStringLiteral("pack.csv"));
    if (!path.isEmpty())
        saveCsv(path);
}

void Tpackplan::pdfClicked()
{
    const QString path = savedialog::AskSavePath(
        this, QStringLiteral("PDF保存"), {QStringLiteral("PDF (*.pdf)")}, QStringLiteral("pack.pdf"));
    if (!path.isEmpty())
        savePdf(path);
}

void Tpackplan::recordClicked()
{
    QInputDialog ask(this);
    ask.setFont(fonts::WindowFont());
    ask.setWindowTitle(QStringLiteral("組込み記録"));
    ask.setLabelText(QStringLiteral("パックの名前:"));
    if (ask.exec() == QDialog::Accepted)
        recordBuiltIn(ask.textValue());
}

void Tpackplan::recordBuiltIn(const QString &name)
{
    if (!m_plan)
        return;
    if (name.trimmed().isEmpty()) {
        statusLabel->setText(QStringLiteral("パックの名前がありません"));
        emit workDone();
        return;
    }
    QList<qint64> ids;
    for (const packs::Pack &pack : m_plan->packs)
        for (const packs::Group &g : pack.groups)
            for (int k : g.cells)
                ids << m_result.cellIds.at(k);
    // The day it was built and the capacity planned are kept with it, for 組電池.
    library::PackFacts facts;
    facts.built = QDateTime::currentDateTime();
    facts.capacityMah = m_plan->figures.packCapacity;
    setBusy(true);
    m_service->recordBuiltIn(ids, name, facts, this, [this, name](const library::Reply<library::Nothing> &r) {
        if (r.ok()) {
            // Those cells are out of every later pool, so this plan is spent.
            m_plan.reset();
            statusLabel->setText(QStringLiteral("%1 を記録しました")
                                     .arg(library::CellStateText(library::CellState::BuiltIn, name.trimmed())));
        } else {
            statusLabel->setText(r.error);
        }
        showPlan();
        emit workDone();
    });
}
