#include "forms/Upackplan.h"

#include "core/SafeWrite.h"
#include "library/LibraryService.h"
#include "packs/PlanFiles.h"
#include "widgets/Fonts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

namespace {

struct Computed {
    packs::LibraryPool pool;
    packs::PlanResult result;
};

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

Tpackplan::Tpackplan(library::LibraryService *service, std::optional<QList<qint64>> shownCells, QWidget *parent)
    : QDialog(parent)
    , m_service(service)
    , m_shownCells(std::move(shownCells))
{
    setWindowTitle(QStringLiteral("組電池の設計"));
    setFont(fonts::WindowFont()); // a window does not take its parent's font
    setSizeGripEnabled(true);

    SeriesEdit = spin(packs::MaxSeries, 4, this);
    ParallelEdit = spin(packs::MaxParallel, 1, this);
    PacksEdit = spin(packs::MaxPacks, 1, this);
    CriterionBox = new QComboBox(this);
    CriterionBox->addItems(
        {packs::CriterionText(packs::Criterion::Capacity), packs::CriterionText(packs::Criterion::CapacityAndCurve)});
    GoodOnlyCheck = new QCheckBox(QStringLiteral("「良」のみ(&G)"), this);
    CalcButton = new QPushButton(QStringLiteral("計算(&R)"), this);
    CalcButton->setDefault(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("直列数 S(&S)"), SeriesEdit);
    form->addRow(QStringLiteral("並列数 P(&P)"), ParallelEdit);
    form->addRow(QStringLiteral("パック数 K(&K)"), PacksEdit);
    form->addRow(QStringLiteral("基準(&T)"), CriterionBox);
    form->addRow(QString(), GoodOnlyCheck);

    PlanView = new QTreeWidget(this);
    PlanView->setColumnCount(3);
    PlanView->setHeaderLabels(
        {QStringLiteral("グループ"), QStringLiteral("セル（容量 mAh）"), QStringLiteral("計(mAh)")});
    PlanView->header()->setStretchLastSection(false);
    PlanView->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    FiguresLabel = new QLabel(this);
    FiguresLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    StatusLabel = new QLabel(this);
    StatusLabel->setWordWrap(true);

    // Each opens a file dialog, like the ledger's CSV保存(&S)...; S and P are the counts' here.
    CsvButton = new QPushButton(QStringLiteral("CSV保存(&C)..."), this);
    PdfButton = new QPushButton(QStringLiteral("PDF保存(&D)..."), this);
    RecordButton = new QPushButton(QStringLiteral("組込み記録(&A)..."), this);
    CloseButton = new QPushButton(QStringLiteral("閉じる"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(CsvButton);
    buttons->addWidget(PdfButton);
    buttons->addWidget(RecordButton);
    buttons->addStretch();
    buttons->addWidget(CloseButton);

    auto *top = new QHBoxLayout;
    top->addLayout(form);
    top->addWidget(CalcButton, 0, Qt::AlignBottom);
    top->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(StatusLabel);
    layout->addWidget(PlanView, 1);
    layout->addWidget(FiguresLabel);
    layout->addLayout(buttons);
    resize(720, 560);

    connect(CalcButton, &QPushButton::clicked, this, &Tpackplan::CalcButtonClick);
    connect(CsvButton, &QPushButton::clicked, this, &Tpackplan::CsvButtonClick);
    connect(PdfButton, &QPushButton::clicked, this, &Tpackplan::PdfButtonClick);
    connect(RecordButton, &QPushButton::clicked, this, &Tpackplan::RecordButtonClick);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
    showPlan();
}

Tpackplan::~Tpackplan() = default;

void Tpackplan::setBusy(bool busy)
{
    CalcButton->setEnabled(!busy);
    const bool plan = !busy && m_plan.has_value();
    CsvButton->setEnabled(plan);
    PdfButton->setEnabled(plan);
    RecordButton->setEnabled(plan);
}

void Tpackplan::CalcButtonClick()
{
    packs::PackShape shape;
    shape.series = SeriesEdit->value();
    shape.parallel = ParallelEdit->value();
    shape.packs = PacksEdit->value();
    const auto criterion
        = CriterionBox->currentIndex() == 1 ? packs::Criterion::CapacityAndCurve : packs::Criterion::Capacity;
    const bool goodOnly = GoodOnlyCheck->isChecked();
    const std::optional<QList<qint64>> shown = m_shownCells;
    StatusLabel->setText(QStringLiteral("計算しています…"));
    setBusy(true);
    m_service->query<Computed>(
        [shape, criterion, goodOnly, shown](library::Library &lib) {
            Computed c;
            try {
                QList<library::CellSummary> cells = lib.cellSummaries();
                if (shown) {
                    cells.erase(std::remove_if(cells.begin(), cells.end(),
                                    [&](const library::CellSummary &s) { return !shown->contains(s.info.id); }),
                        cells.end());
                }
                c.pool = packs::PoolOf(cells, packs::ReadGradeLimits(lib),
                    goodOnly ? std::optional<library::Grade>(library::Grade::Good) : std::nullopt);
                packs::AddLatestCurves(lib, c.pool);
                c.result = packs::MakePlan(c.pool.cells, shape, criterion);
            } catch (const library::LibraryError &e) {
                c.result.error = e.text();
            }
            return c;
        },
        this,
        [this](const Computed &c) {
            m_pool = c.pool;
            m_plan = c.result.plan;
            StatusLabel->setText(c.result.error);
            showPlan();
            emit planReady();
        });
}

void Tpackplan::showPlan()
{
    PlanView->clear();
    FiguresLabel->clear();
    setBusy(false);
    if (!m_plan)
        return;
    for (qsizetype p = 0; p < m_plan->packs.size(); ++p) {
        const packs::Pack &pack = m_plan->packs.at(p);
        auto *packItem = new QTreeWidgetItem(PlanView,
            {QStringLiteral("パック %1（%2）").arg(p + 1).arg(packs::ShapeText(m_plan->shape)), QString(), QString()});
        for (qsizetype g = 0; g < pack.groups.size(); ++g) {
            const packs::Group &group = pack.groups.at(g);
            QStringList names;
            for (int k : group.cells)
                names << QStringLiteral("%1 %2").arg(m_pool.cells.at(k).label, mah(m_pool.cells.at(k).capacity));
            auto *item = new QTreeWidgetItem(
                packItem, {QString::number(g + 1), names.join(QStringLiteral("　")), mah(group.total)});
            item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        }
        packItem->setExpanded(true);
    }
    PlanView->resizeColumnToContents(0);
    QStringList lines;
    for (const auto &[caption, text] : packs::FigureTexts(*m_plan))
        lines << caption + QStringLiteral(": ") + text;
    FiguresLabel->setText(lines.join(QLatin1Char('\n')));
}

void Tpackplan::writeInBackground(const QString &path, const QByteArray &bytes)
{
    setBusy(true);
    m_service->query<QString>(
        [path, bytes](library::Library &) {
            try {
                safewrite::WriteFile(path, bytes);
            } catch (const safewrite::WriteError &e) {
                return QString::fromUtf8(e.what());
            }
            return QString();
        },
        this,
        [this, path](const QString &error) {
            setBusy(false);
            StatusLabel->setText(error.isEmpty() ? QStringLiteral("保存しました: %1").arg(path) : error);
            emit workDone();
        });
}

void Tpackplan::saveCsv(const QString &path)
{
    if (m_plan)
        writeInBackground(path, QByteArray("\xEF\xBB\xBF") + packs::PlanCsvText(m_pool.cells, *m_plan));
}

void Tpackplan::savePdf(const QString &path)
{
    // Laid out here, where the fonts are; only the writing goes to the worker.
    if (m_plan)
        writeInBackground(path, packs::PlanPdf(m_pool.cells, *m_plan));
}

void Tpackplan::CsvButtonClick()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("CSV保存"), QStringLiteral("pack.csv"), QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty())
        saveCsv(path);
}

void Tpackplan::PdfButtonClick()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("PDF保存"), QStringLiteral("pack.pdf"), QStringLiteral("PDF (*.pdf)"));
    if (!path.isEmpty())
        savePdf(path);
}

void Tpackplan::RecordButtonClick()
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
        StatusLabel->setText(QStringLiteral("パックの名前がありません"));
        emit workDone();
        return;
    }
    QList<qint64> ids;
    for (const packs::Pack &pack : m_plan->packs)
        for (const packs::Group &g : pack.groups)
            for (int k : g.cells)
                ids << m_pool.cellIds.at(k);
    setBusy(true);
    library::LibraryService *service = m_service;
    m_service->query<QString>(
        [ids, name, service](library::Library &lib) {
            try {
                packs::RecordBuiltIn(lib, ids, name);
            } catch (const library::LibraryError &e) {
                return e.text();
            }
            emit service->changed();
            return QString();
        },
        this,
        [this, name](const QString &error) {
            if (error.isEmpty()) {
                // Those cells are out of every later pool, so this plan is spent.
                m_plan.reset();
                StatusLabel->setText(QStringLiteral("%1 を記録しました")
                                         .arg(library::CellStateText(library::CellState::BuiltIn, name.trimmed())));
            } else {
                StatusLabel->setText(error);
            }
            showPlan();
            emit workDone();
        });
}
