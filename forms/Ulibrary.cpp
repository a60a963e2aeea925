#include "forms/Ulibrary.h"

#include "analysis/DischargeTable.h"
#include "core/FileWriter.h"
#include "core/IniFile.h"
#include "core/Messages.h"
#include "core/Settings.h"
#include "forms/Ucellinfo.h"
#include "forms/Ucompare.h"
#include "forms/Ufigurecolumns.h"
#include "forms/Ugradelimits.h"
#ifdef VOLTRAK_LABELS
#include "forms/LabelCommand.h"
#include "forms/Ulabelprint.h"
#endif
#include "forms/Umeasure.h"
#include "forms/Upackplan.h"
#include "forms/Urunparam.h"
#include "library/LibraryModels.h"
#include "library/Packs.h"
#include "widgets/Chart.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/FieldKeys.h"
#include "widgets/Fonts.h"
#include "widgets/FrozenTableView.h"
#include "widgets/SaveDialog.h"
#include "widgets/ShownRows.h"
#include "widgets/WindowSize.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

const QString Tlibrary::IniSection = QStringLiteral("CellLibrary");

namespace {

template <typename View = QTableView> View *makeList(QWidget *parent, QAbstractItemModel *model)
{
    auto *view = new View(parent);
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSortingEnabled(true);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setStretchLastSection(true);
    view->setTabKeyNavigation(false);
    return view;
}

// The curve of one bay of a stored run to draw: (time count, voltage) of each
// row that has the bay's column.
cells::CellRow drawnCurve(const library::RunTable &run, int bay)
{
    cells::CellRow row;
    row.cell = bay;
    row.capacity = run.bays[bay - 1].capacity;
    analysis::TDischargeTable table;
    table.rows = run.rows;
    table.rowCount = qint32(run.rows.size());
    row.curve = cells::CurveOfCell(analysis::ConvertTable(table), bay - 1);
    return row;
}

} // namespace

Tlibrary::Tlibrary(library::LibraryService *service, FileWriter *files, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_service(service)
    , m_files(files)
{
    m_geometry = new windowsize::FramedGeometry(this);
    setObjectName(QStringLiteral("library"));
    setWindowTitle(QStringLiteral("セル台帳"));
    setFont(fonts::WindowFont());
    resize(1000, 520);

    m_cells = new library::CellTableModel(this);
    m_cellProxy = new library::CellFilterProxy(this);
    m_cellProxy->setSourceModel(m_cells);
    m_runs = new library::RunTableModel(this);
    m_runProxy = new library::ValueSortProxy(this);
    m_runProxy->setSourceModel(m_runs);
    m_packs = new library::PackTableModel(this);
    m_packProxy = new library::ValueSortProxy(this);
    m_packProxy->setSourceModel(m_packs);

    tabs = new QTabWidget(this);
    tabs->addTab(buildCellsTab(), QStringLiteral("セル"));
    tabs->addTab(buildRunsTab(), QStringLiteral("放電記録"));
    tabs->addTab(buildPacksTab(), QStringLiteral("組電池"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs, 1);
    layout->addLayout(buildButtonRow());
    compare = new Tcompare(this);

    connectControls();
    connectService();
    makeDialogs();
    IniPath = settings::IniFilePath();
    updateButtons();
}

QWidget *Tlibrary::buildCellsTab()
{
    auto *page = new QWidget(tabs);
    auto *filterLabel = new QLabel(QStringLiteral("絞り込み"), page);
    filterEdit = new QLineEdit(page);
    filterEdit->setObjectName(QStringLiteral("Filter"));
    filterEdit->setClearButtonEnabled(true);
    fieldkeys::IgnoreAltText(filterEdit);
    filterLabel->setBuddy(filterEdit);
    showRetiredCheck = new QCheckBox(QStringLiteral("引退も表示"), page);
    auto *gradeLabel = new QLabel(QStringLiteral("判定(&G)"), page);
    gradeFilterBox = new QComboBox(page);
    gradeFilterBox->setObjectName(QStringLiteral("GradeFilter"));
    gradeFilterBox->addItem(QStringLiteral("すべて"), -1);
    for (library::Grade g : {library::Grade::Good, library::Grade::Fair, library::Grade::Poor, library::Grade::None})
        gradeFilterBox->addItem(library::GradeText(g), int(g));
    gradeLabel->setBuddy(gradeFilterBox);
    // The label stays in view while the figures scroll sideways.
    cellView = makeList<FrozenTableView>(page, m_cellProxy);
    // Columns as wide as their contents, so the width fitted to them holds them all.
    cellView->horizontalHeader()->setStretchLastSection(false);
    cellView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    cellView->sortByColumn(library::CellLabel, Qt::AscendingOrder);
    // 判定 beside 健全度, 曲線差 beside the label and only while its order applies.
    QHeaderView *header = cellView->horizontalHeader();
    header->moveSection(header->visualIndex(library::CellGradeColumn), header->visualIndex(library::CellHealth) + 1);
    header->moveSection(header->visualIndex(library::CellCurveColumn), 1);
    cellView->setColumnHidden(library::CellCurveColumn, true);
    cellView->installEventFilter(this);
    historyChart = new Chart(page);
    historyChart->setSeriesStyles({{QStringLiteral("容量"), QColor(0xFF, 0x00, 0x00), true}});
    historyChart->setLeftAxis(QStringLiteral("容量(mAh)"), 0);
    historyChart->setDateAxis(true);
    // One series named by its axis and titled by its cell: the legend's width goes to the dates.
    historyChart->setLegendVisible(false);
    historyChart->setTitle(QString());
    historyChart->setMinimumWidth(260);
    compareButton = new QPushButton(QStringLiteral("曲線比較(&D)"), page);
    similarButton = new QPushButton(QStringLiteral("似た曲線(&N)"), page);
    measureButton = new QPushButton(QStringLiteral("測定の入力(&M)..."), page);
    importFiguresButton = new QPushButton(QStringLiteral("測定の取り込み(&F)..."), page);

    auto *filterRow = new QHBoxLayout;
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(filterEdit, 1);
    filterRow->addWidget(gradeLabel);
    filterRow->addWidget(gradeFilterBox);
    filterRow->addWidget(showRetiredCheck);
    auto *right = new QWidget(page);
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(historyChart, 1);
    auto *compareRow = new QHBoxLayout;
    compareRow->addWidget(measureButton);
    compareRow->addWidget(importFiguresButton);
    compareRow->addStretch(1);
    compareRow->addWidget(similarButton);
    compareRow->addWidget(compareButton);
    rightLayout->addLayout(compareRow);
    auto *split = m_cellSplit = new QSplitter(Qt::Horizontal, page);
    split->addWidget(cellView);
    split->addWidget(right);
    // The list keeps the width its columns need; the chart takes what is left.
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setChildrenCollapsible(false);
    connect(split, &QSplitter::splitterMoved, this, [this] { m_fittedList = 0; });
    auto *layout = new QVBoxLayout(page);
    layout->addLayout(filterRow);
    layout->addWidget(split, 1);
    return page;
}

QWidget *Tlibrary::buildRunsTab()
{
    auto *page = new QWidget(tabs);
    runView = makeList(page, m_runProxy);
    runView->setEditTriggers(
        QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    runView->sortByColumn(library::RunWhen, Qt::DescendingOrder);
    runView->installEventFilter(this);
    deleteRunsButton = new QPushButton(QStringLiteral("削除(&X)"), page);
    recomputeButton = new QPushButton(QStringLiteral("条件変更(&P)..."), page);
    undoDeleteButton = new QPushButton(QStringLiteral("元に戻す(&U)"), page);
    auto *undo = new QAction(page);
    undo->setShortcut(QKeySequence::Undo);
    undo->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(undo, &QAction::triggered, this, &Tlibrary::undoDeleteClicked);
    page->addAction(undo);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(deleteRunsButton);
    buttons->addWidget(undoDeleteButton);
    buttons->addWidget(recomputeButton);
    buttons->addStretch(1);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(runView, 1);
    layout->addLayout(buttons);
    return page;
}

QWidget *Tlibrary::buildPacksTab()
{
    auto *page = new QWidget(tabs);
    packView = makeList(page, m_packProxy);
    packView->setObjectName(QStringLiteral("Packs"));
    packView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    packView->setSelectionMode(QAbstractItemView::SingleSelection);
    packView->sortByColumn(library::PackBuilt, Qt::DescendingOrder);
    packView->installEventFilter(this);
    dissolvePackButton = new QPushButton(QStringLiteral("解除(&R)..."), page);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(dissolvePackButton);
    buttons->addStretch(1);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(packView, 1);
    layout->addLayout(buttons);
    return page;
}

QString Tlibrary::selectedPack() const
{
    const QModelIndexList rows = packView->selectionModel()->selectedRows();
    return rows.isEmpty() ? QString() : rows.first().data(library::IdRole).toString();
}

void Tlibrary::dissolvePackClicked()
{
    const QString name = selectedPack();
    const int row = m_packs->rowOf(name);
    if (!m_service || !m_writable || row < 0)
        return;
    const int cells = int(m_packs->rows().at(row).labels.size());
    if (!errors::AskYesNo(
            QStringLiteral("パック %1 を解除しますか？\n%2 本のセルが使用中に戻ります。").arg(name).arg(cells)))
        return;
    m_service->dissolvePack(name, this, [this, name](const library::Reply<int> &r) {
        if (!r.ok()) {
            errors::ShowWarning(r.error);
            return;
        }
        statusLabel->setText(QStringLiteral("パック %1 を解除しました（%2 本）").arg(name).arg(r.value));
    });
}

QLayout *Tlibrary::buildButtonRow()
{
    importButton = new QPushButton(QStringLiteral("取り込み(&I)..."), this);
    csvButton = new QPushButton(QStringLiteral("CSV保存(&S)..."), this);
    backupButton = new QPushButton(QStringLiteral("バックアップ(&K)..."), this);
    closeButton = new QPushButton(QStringLiteral("閉じる(&C)"), this);
    packPlanButton = new QPushButton(QStringLiteral("組電池の設計(&B)..."), this);
    gradeLimitsButton = new QPushButton(QStringLiteral("判定の基準(&J)..."), this);
#ifdef VOLTRAK_LABELS
    labelsButton = new QPushButton(QStringLiteral("ラベル印刷(&L)..."), this);
    labelsButton->setAutoDefault(false);
#endif
    for (QPushButton *b :
        {compareButton, deleteRunsButton, undoDeleteButton, recomputeButton, importButton, csvButton, backupButton,
            closeButton, similarButton, packPlanButton, gradeLimitsButton, measureButton, importFiguresButton})
        b->setAutoDefault(false);
    statusLabel = new QLabel(this);
    statusLabel->setObjectName(QStringLiteral("Status"));
    statusLabel->setTextFormat(Qt::PlainText);

    auto *row = new QHBoxLayout;
    for (QPushButton *b : {importButton, csvButton, backupButton, packPlanButton, gradeLimitsButton})
        row->addWidget(b);
    if (labelsButton)
        row->addWidget(labelsButton);
    row->addWidget(statusLabel, 1);
    row->addWidget(closeButton);
    return row;
}

void Tlibrary::connectControls()
{
    connect(filterEdit, &QLineEdit::textChanged, this,
        [this](const QString &text) { filterCells([&] { m_cellProxy->setFilterText(text); }); });
    connect(showRetiredCheck, &QCheckBox::toggled, this,
        [this](bool show) { filterCells([&] { m_cellProxy->setShowRetired(show); }); });
    connect(gradeFilterBox, &QComboBox::currentIndexChanged, this, [this] {
        const int g = gradeFilterBox->currentData().toInt();
        filterCells([&] {
            m_cellProxy->setGradeFilter(g < 0 ? std::nullopt : std::optional<library::Grade>(library::Grade(g)));
        });
    });
    connect(cellView->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this, &Tlibrary::cellSortChanged);
    connect(cellView->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &Tlibrary::cellSelectionChanged);
    connect(cellView, &QTableView::doubleClicked, this, &Tlibrary::editCurrentCell);
    connect(runView->selectionModel(), &QItemSelectionModel::selectionChanged, this, &Tlibrary::updateButtons);
    connect(packView->selectionModel(), &QItemSelectionModel::selectionChanged, this, &Tlibrary::updateButtons);
    connect(dissolvePackButton, &QPushButton::clicked, this, &Tlibrary::dissolvePackClicked);
    connect(tabs, &QTabWidget::currentChanged, this, &Tlibrary::updateButtons);
    connect(m_runs, &library::RunTableModel::bayLabelEdited, this, &Tlibrary::runLabelEdited);
    connect(compareButton, &QPushButton::clicked, this, &Tlibrary::compareClicked);
    connect(deleteRunsButton, &QPushButton::clicked, this, &Tlibrary::deleteRunsClicked);
    connect(undoDeleteButton, &QPushButton::clicked, this, &Tlibrary::undoDeleteClicked);
    connect(recomputeButton, &QPushButton::clicked, this, &Tlibrary::recomputeClicked);
    connect(importButton, &QPushButton::clicked, this, &Tlibrary::importClicked);
    connect(csvButton, &QPushButton::clicked, this, &Tlibrary::saveCsvClicked);
    connect(backupButton, &QPushButton::clicked, this, &Tlibrary::backupClicked);
    connect(closeButton, &QPushButton::clicked, this, &Tlibrary::closeClicked);
    connect(similarButton, &QPushButton::clicked, this, &Tlibrary::similarClicked);
    connect(packPlanButton, &QPushButton::clicked, this, &Tlibrary::packPlanClicked);
    connect(gradeLimitsButton, &QPushButton::clicked, this, &Tlibrary::gradeLimitsClicked);
    connect(measureButton, &QPushButton::clicked, this, &Tlibrary::measureClicked);
    connect(importFiguresButton, &QPushButton::clicked, this, &Tlibrary::importFiguresClicked);
    if (labelsButton)
        connect(labelsButton, &QPushButton::clicked, this, &Tlibrary::labelsClicked);
    auto *escape = new QAction(this);
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(escape, &QAction::triggered, this, &Tlibrary::closeClicked);
    addAction(escape);
    auto *find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] {
        tabs->setCurrentIndex(0);
        filterEdit->setFocus(Qt::ShortcutFocusReason);
        filterEdit->selectAll();
    });
    addAction(find);
}

void Tlibrary::connectService()
{
    if (!m_service)
        return;
    connect(m_service, &library::LibraryService::changed, this, &Tlibrary::libraryChanged);
    // A capture is told here as in 装着セル; the lists follow by changed().
    connect(m_service, &library::LibraryService::runRecorded, this,
        [this](const library::RecordResult &result, const QDateTime &when) {
            if (result.isNew)
                statusLabel->setText(
                    QStringLiteral("記録しました: ") + when.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")));
        });
    connect(m_service, &library::LibraryService::importProgress, this, &Tlibrary::importProgress);
    connect(m_service, &library::LibraryService::importFinished, this, &Tlibrary::importFinished);
}

void Tlibrary::makeDialogs()
{
    OpenDialog = [this] { return runOpenDialog(); };
    SaveDialog = [this](const QString &title, const QString &filter) { return runSaveDialog(title, filter); };
    CellDialog = [this](library::CellInfo &info) {
        Tcellinfo dlg(info, m_service, this);
        if (dlg.exec() != QDialog::Accepted)
            return false;
        info = dlg.info();
        return true;
    };
    RunDialog = [this](analysis::CapacityParameters &p) {
        Trunparam dlg(p, this);
        if (dlg.exec() != QDialog::Accepted)
            return false;
        p = dlg.parameters();
        return true;
    };
    PlanDialog = [this](const QList<qint64> &shown) {
        Tpackplan dlg(m_service, m_files, shown, this);
        dlg.exec();
    };
    LimitsDialog = [this] {
        Tgradelimits dlg(m_service, this);
        dlg.exec();
    };
    MeasureDialog = [this] {
        Tmeasure dlg(m_service, this);
        dlg.exec();
    };
    FigureFileDialog = [this] {
        QFileDialog dlg(this, QStringLiteral("測定の取り込み"));
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setNameFilters({QStringLiteral("CSVファイル (*.csv)"), QStringLiteral("すべてのファイル (*)")});
        return dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty() ? dlg.selectedFiles().first()
                                                                                 : QString();
    };
    FigureColumnsDialog = [this](const QString &file, library::FigureColumns &columns) {
        Tfigurecolumns dlg(file, columns, this);
        if (dlg.exec() != QDialog::Accepted)
            return false;
        columns = dlg.columns();
        return true;
    };
#ifdef VOLTRAK_LABELS
    LabelDialog = [this](const QList<library::CellSummary> &cells) {
        QList<labels::LabelContent> contents;
        for (const library::CellSummary &c : cells)
            contents << celllabels::ContentOf(c, gradeLimits());
        Tlabelprint dlg(contents, m_service, m_files, this);
        dlg.exec();
    };
#endif
}

Tlibrary::~Tlibrary()
{
    if (m_cancelImport)
        m_cancelImport->store(true);
    delete m_progress;
    if (isVisible() && m_sizeLoaded)
        SaveSize();
}

library::GradeLimits Tlibrary::gradeLimits() const
{
    return m_cells->gradeLimits();
}

QStringList Tlibrary::runOpenDialog()
{
    QFileDialog dlg(this, QStringLiteral("取り込み"));
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFiles);
    dlg.setNameFilters({messages::LogFileFilter(), QStringLiteral("すべてのファイル (*)")});
    if (dlg.exec() != QDialog::Accepted)
        return {};
    return dlg.selectedFiles();
}

QString Tlibrary::runSaveDialog(const QString &title, const QString &filter)
{
    return savedialog::AskSavePath(this, title, {filter});
}

void Tlibrary::setWritable(bool writable)
{
    m_writable = writable;
    runView->setEditTriggers(writable
            ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked
            : QAbstractItemView::NoEditTriggers);
    updateButtons();
}

void Tlibrary::updateButtons()
{
    const bool any = runView->selectionModel()->hasSelection();
    const bool service = m_service != nullptr;
    deleteRunsButton->setEnabled(service && m_writable && any);
    recomputeButton->setEnabled(service && m_writable && any);
    undoDeleteButton->setEnabled(service && m_writable && !m_deleted.isEmpty());
    dissolvePackButton->setEnabled(service && m_writable && packView->selectionModel()->hasSelection());
    // The packs have no file of their own.
    csvButton->setEnabled(tabs->currentIndex() != PacksTab);
    importButton->setEnabled(service && m_writable && !m_cancelImport);
    backupButton->setEnabled(service);
    compareButton->setEnabled(service && m_currentCell != 0);
    similarButton->setEnabled(service && m_currentCell != 0);
    packPlanButton->setEnabled(service);
    gradeLimitsButton->setEnabled(service && m_writable);
    measureButton->setEnabled(service && m_writable);
    importFiguresButton->setEnabled(service && m_writable);
    if (labelsButton)
        labelsButton->setEnabled(service);
}

void Tlibrary::cellSortChanged(int column)
{
    // The distances belong to the order they were asked for.
    if (column != library::CellCurveColumn) {
        cellView->setColumnHidden(library::CellCurveColumn, true);
        m_curveReference = 0;
    }
}

bool Tlibrary::showCurveOrder(const QList<library::CurveNeighbour> &cells)
{
    if (cells.isEmpty()) {
        cellView->setColumnHidden(library::CellCurveColumn, true);
        m_curveReference = 0;
        return false;
    }
    QList<qint64> order;
    QHash<qint64, double> minutes;
    for (const library::CurveNeighbour &c : cells) {
        order.append(c.cellId);
        if (c.minutes)
            minutes.insert(c.cellId, *c.minutes);
    }
    m_cells->setCurveOrder(order, minutes);
    cellView->setColumnHidden(library::CellCurveColumn, false);
    cellView->sortByColumn(library::CellCurveColumn, Qt::AscendingOrder);
    cellView->resizeColumnToContents(library::CellCurveColumn);
    return true;
}

QList<library::CellSummary> Tlibrary::shownCells() const
{
    return shownrows::Shown(*m_cellProxy, m_cells->rows());
}

QList<library::RunRow> Tlibrary::shownRuns() const
{
    return shownrows::Shown(*m_runProxy, m_runs->rows());
}

QList<qint64> Tlibrary::selectedRunIds() const
{
    QList<qint64> ids;
    for (const QModelIndex &i : runView->selectionModel()->selectedRows())
        ids.append(i.data(library::IdRole).toLongLong());
    return ids;
}

library::LibraryService::Then<library::Nothing> Tlibrary::warnOnFailure()
{
    // The window tells of its own failures, where the user asked for the change.
    return [](const library::Reply<library::Nothing> &reply) {
        if (!reply.ok())
            errors::ShowWarning(reply.error);
    };
}

void Tlibrary::libraryChanged()
{
    if (isVisible())
        reload();
    else
        m_stale = true;
}

void Tlibrary::reload(std::function<void()> done)
{
    if (!m_service)
        return;
    m_stale = false;
    const int serial = ++m_reloadSerial;
    const qint64 reference = m_curveReference;
    // Asked one after another of the one worker, so they answer in this
    // order; the last answer shows them together.
    struct Read {
        library::CellsRead cells;
        QList<library::PackRow> packs;
        QList<library::RunRow> runs;
        QString error;
        bool stale = false; // the server was not reached: nothing was read
    };
    auto read = std::make_shared<Read>();
    const auto show = [this, serial, reference, done, read](const QList<library::CurveNeighbour> &neighbours) {
        // An older answer than one asked for since is of no use.
        if (serial != m_reloadSerial)
            return;
        // The server away: the rows shown stay, and the window says they are old.
        if (read->stale) {
            statusLabel->setText(read->error);
            m_showsStale = true;
            if (done)
                done();
            return;
        }
        if (m_showsStale) {
            statusLabel->clear();
            m_showsStale = false;
        }
        if (!read->error.isEmpty())
            errors::ShowWarning(read->error);
        const qint64 current = m_currentCell;
        m_cells->setGradeLimits(read->cells.limits);
        m_cells->setRows(read->cells.cells);
        m_runs->setRows(read->runs);
        const QString pack = selectedPack();
        m_packs->setRows(read->packs);
        if (const int row = m_packs->rowOf(pack); row >= 0)
            packView->selectRow(m_packProxy->mapFromSource(m_packs->index(row, 0)).row());
        if (reference != 0 && reference == m_curveReference)
            showCurveOrder(neighbours);
        if (m_cells->rowOf(current) >= 0)
            selectCell(current);
        else
            cellSelectionChanged();
        cellView->resizeColumnsToContents();
        runView->resizeColumnsToContents();
        packView->resizeColumnsToContents();
        // Fitted once, by the first cells there are.
        if (m_fitWidth && !read->cells.cells.isEmpty()) {
            m_fitWidth = false;
            fitCellColumns();
        } else if (m_fittedList > 0) {
            // Columns grown by what is read now keep their room, as long as the user left the splitter alone.
            m_fittedList = cellColumnsWidth();
            placeCellSplit();
        }
        updateButtons();
        if (done)
            done();
    };
    m_service->readCells(this, [read](const library::Reply<library::CellsRead> &r) {
        read->cells = r.value;
        read->stale = r.stale;
        if (!r.ok())
            read->error = r.error;
    });
    m_service->readPacks(this, [read](const library::Reply<QList<library::PackRow>> &r) {
        read->packs = r.value;
        if (!r.ok() && read->error.isEmpty())
            read->error = r.error;
    });
    m_service->readRuns(this, [read, reference, show](const library::Reply<QList<library::RunRow>> &r) {
        read->runs = r.value;
        if (!r.ok() && read->error.isEmpty())
            read->error = r.error;
        if (reference == 0)
            show({});
    });
    // A new run moves the distances shown: measured again with the rest.
    if (reference != 0)
        m_service->readCurveNeighbours(
            reference, this, [show](const library::Reply<QList<library::CurveNeighbour>> &r) { show(r.value); });
}

void Tlibrary::filterCells(const std::function<void()> &apply)
{
    const qint64 before = m_currentCell;
    apply();
    // A cell the filter hides is not shown beside the list, nor is the
    // neighbour the view may have moved to meanwhile chosen for the user.
    if (before != 0 && !isShown(before)) {
        cellView->selectionModel()->clear();
        cellSelectionChanged();
    }
}

bool Tlibrary::isShown(qint64 cellId) const
{
    const int row = m_cells->rowOf(cellId);
    return row >= 0 && m_cellProxy->mapFromSource(m_cells->index(row, 0)).isValid();
}

void Tlibrary::selectCell(qint64 cellId)
{
    const int row = m_cells->rowOf(cellId);
    const QModelIndex at = row < 0 ? QModelIndex() : m_cellProxy->mapFromSource(m_cells->index(row, 0));
    if (!at.isValid()) {
        // Gone, or hidden by the filter: nothing is chosen, no history shown.
        if (m_currentCell == cellId) {
            cellView->selectionModel()->clear();
            cellSelectionChanged();
        }
        return;
    }
    cellView->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    cellView->scrollTo(at);
    // The same row again after a reload: its history may have changed.
    if (m_currentCell == cellId)
        showHistory(cellId);
}

void Tlibrary::cellSelectionChanged()
{
    const QModelIndex current = cellView->selectionModel()->currentIndex();
    const qint64 id = current.isValid() ? current.data(library::IdRole).toLongLong() : 0;
    m_currentCell = id;
    updateButtons();
    showHistory(id);
}

void Tlibrary::showHistory(qint64 cellId)
{
    historyChart->series(0).clear();
    const int row = m_cells->rowOf(cellId);
    historyChart->setTitle(row >= 0 ? m_cells->rows().at(row).info.label : QString());
    if (cellId == 0 || !m_service) {
        emit historyShown();
        return;
    }
    m_service->readHistory(cellId, this, [this, cellId](const library::Reply<QList<library::HistoryPoint>> &r) {
        if (cellId != m_currentCell)
            return;
        if (!r.ok())
            errors::ShowWarning(r.error);
        ChartSeries &s = historyChart->series(0);
        s.clear();
        double lo = 0, hi = 0;
        for (const library::HistoryPoint &p : r.value) {
            const double x = double(p.when.toSecsSinceEpoch());
            s.addXY(x, p.capacity);
            lo = s.count() == 1 ? x : qMin(lo, x);
            hi = s.count() == 1 ? x : qMax(hi, x);
        }
        // Room either side, so the first and last runs are not drawn on the frame.
        const double span = hi - lo;
        const double room = qMax(span * 0.1, span < 86400.0 ? 600.0 : 43200.0);
        if (r.value.isEmpty())
            historyChart->bottomAxis().setAutomatic(true);
        else
            historyChart->bottomAxis().setRange(lo - room, hi + room);
        emit historyShown();
    });
}

void Tlibrary::compareClicked()
{
    const qint64 cellId = m_currentCell;
    if (!m_service || cellId == 0)
        return;
    m_service->readRecentRuns(
        cellId, Tcompare::MaxCells, this, [this, cellId](const library::Reply<QList<library::RunTable>> &r) {
            if (!r.ok()) {
                errors::ShowWarning(r.error);
                return;
            }
            QList<cells::CellRow> rows;
            QStringList titles;
            for (const library::RunTable &run : r.value) {
                for (int bay = 1; bay <= library::BayCount && rows.size() < Tcompare::MaxCells; ++bay) {
                    if (run.bays[bay - 1].cellId != cellId)
                        continue;
                    try {
                        rows.append(drawnCurve(run, bay));
                    } catch (const analysis::VoltageFormatError &) {
                        continue; // stored, but not drawable: left out
                    }
                    titles.append(library::DateText(run.when) + QStringLiteral(" Bat%1").arg(bay));
                }
            }
            if (rows.isEmpty()) {
                errors::ShowWarning(QStringLiteral("このセルの放電記録がありません"));
                return;
            }
            const int row = m_cells->rowOf(cellId);
            if (row >= 0)
                compare->setWindowTitle(QStringLiteral("セル比較グラフ - ") + m_cells->rows().at(row).info.label);
            compare->ShowCells(rows, settings::Gtmax, settings::Gvmax, titles);
            emit curvesShown();
        });
}

void Tlibrary::editCurrentCell()
{
    const int row = m_cells->rowOf(m_currentCell);
    if (!m_service || !m_writable || row < 0 || !CellDialog)
        return;
    library::CellInfo info = m_cells->rows().at(row).info;
    if (CellDialog(info))
        m_service->editCell(info, this, warnOnFailure());
}

void Tlibrary::similarClicked()
{
    const qint64 cellId = m_currentCell;
    if (!m_service || cellId == 0)
        return;
    m_curveReference = 0;
    m_service->readCurveNeighbours(
        cellId, this, [this, cellId](const library::Reply<QList<library::CurveNeighbour>> &r) {
            if (!r.ok())
                errors::ShowWarning(r.error);
            else if (r.value.isEmpty())
                errors::ShowWarning(QStringLiteral("このセルの放電記録がありません"));
            else {
                m_curveReference = cellId;
                showCurveOrder(r.value);
            }
            emit similarShown();
        });
}

void Tlibrary::packPlanClicked()
{
    if (!m_service || !PlanDialog)
        return;
    QList<qint64> ids;
    for (const library::CellSummary &s : shownCells())
        ids.append(s.info.id);
    PlanDialog(ids);
}

QList<library::CellSummary> Tlibrary::labelCells() const
{
    const QList<library::CellSummary> shown = shownCells();
    QList<int> rows;
    for (const QModelIndex &i : cellView->selectionModel()->selectedRows())
        rows << i.row();
    if (rows.isEmpty())
        return shown;
    std::sort(rows.begin(), rows.end());
    QList<library::CellSummary> selected;
    for (int row : rows)
        selected << shown.at(row);
    return selected;
}

void Tlibrary::labelsClicked()
{
    const QList<library::CellSummary> cells = labelCells();
    if (m_service && LabelDialog && !cells.isEmpty())
        LabelDialog(cells);
}

void Tlibrary::measureClicked()
{
    // Its writes announce themselves; this window reads again then.
    if (m_service && m_writable && MeasureDialog)
        MeasureDialog();
}

void Tlibrary::importFiguresClicked()
{
    const QString path = m_service && m_writable && FigureFileDialog ? FigureFileDialog() : QString();
    if (!path.isEmpty())
        ImportFigures(path);
}

void Tlibrary::ImportFigures(const QString &path)
{
    if (!m_service || !m_writable || path.isEmpty())
        return;
    m_service->readFigureColumns(this, [this, path](const library::Reply<library::FigureColumns> &r) {
        if (!r.ok()) {
            errors::ShowWarning(r.error);
            return;
        }
        library::FigureColumns columns = r.value;
        if (!FigureColumnsDialog || !FigureColumnsDialog(path, columns))
            return;
        if (!(columns == r.value))
            m_service->writeFigureColumns(columns, this, warnOnFailure());
        statusLabel->setText(QStringLiteral("測定を取り込み中..."));
        m_service->importFigures(
            path, columns, this, [this](const library::Reply<library::FigureImportSummary> &summary) {
                statusLabel->clear();
                if (!summary.ok())
                    errors::ShowWarning(summary.error);
                else
                    errors::ShowReport(QStringLiteral("測定の取り込み結果"), library::FigureSummaryText(summary.value));
                emit figuresImported();
            });
    });
}

void Tlibrary::gradeLimitsClicked()
{
    // The limits' write announces itself; this window reads again then.
    if (m_service && m_writable && LimitsDialog)
        LimitsDialog();
}

void Tlibrary::runLabelEdited(qint64 runId, int bay, const QString &label)
{
    if (m_service)
        m_service->setBayLabel(runId, bay, label, this, warnOnFailure());
}

void Tlibrary::deleteRunsClicked()
{
    const QList<qint64> ids = selectedRunIds();
    if (!m_service || !m_writable || ids.isEmpty())
        return;
    if (!errors::AskYesNo(QStringLiteral("選択した放電記録を削除しますか？\n"
                                         "このウィンドウを閉じるまでは「元に戻す」(Ctrl+Z) で戻せます。")))
        return;
    m_service->deleteRuns(ids, this, [this](const library::Reply<library::DeletedRuns> &r) {
        if (!r.ok()) {
            errors::ShowWarning(r.error);
            return;
        }
        if (!r.value.isEmpty())
            m_deleted.append(r.value);
        updateButtons();
    });
}

void Tlibrary::undoDeleteClicked()
{
    if (!m_service || !m_writable || m_deleted.isEmpty())
        return;
    const library::DeletedRuns runs = m_deleted.takeLast();
    updateButtons();
    m_service->restoreRuns(runs, this, [this, asked = int(runs.runs.size())](const library::Reply<int> &r) {
        if (!r.ok()) {
            errors::ShowWarning(r.error);
            return;
        }
        statusLabel->setText(r.value == asked
                ? QStringLiteral("%1 件の放電記録を戻しました").arg(r.value)
                : QStringLiteral("%1 件の放電記録を戻しました（%2 件は同じ表がもう記録されています）")
                      .arg(r.value)
                      .arg(asked - r.value));
    });
}

void Tlibrary::recomputeClicked()
{
    const QList<qint64> ids = selectedRunIds();
    if (!m_service || !m_writable || ids.isEmpty() || !RunDialog)
        return;
    const int row = m_runs->rowOf(ids.first());
    analysis::CapacityParameters p = row >= 0 ? m_runs->rows().at(row).parameters : analysis::CapacityParameters();
    if (RunDialog(p))
        m_service->recomputeRuns(ids, p, this, warnOnFailure());
}

void Tlibrary::importClicked()
{
    const QStringList paths = OpenDialog ? OpenDialog() : QStringList();
    if (!paths.isEmpty())
        Import(paths);
}

void Tlibrary::Import(const QStringList &paths)
{
    if (!m_service || !m_writable || m_cancelImport || paths.isEmpty())
        return;
    m_cancelImport = m_service->importFiles(paths, analysis::CurrentCapacityParameters());
    // Over the window the user chose the import in.
    QWidget *owner = isVisible() ? this : QApplication::activeWindow();
    m_progress = new QProgressDialog(
        QStringLiteral("取り込み中..."), QStringLiteral("キャンセル"), 0, int(paths.size()), owner ? owner : this);
    m_progress->setWindowTitle(QStringLiteral("取り込み"));
    m_progress->setFont(fonts::WindowFont());
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(500);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setValue(0);
    const std::shared_ptr<std::atomic<bool>> cancel = m_cancelImport;
    connect(m_progress, &QProgressDialog::canceled, this, [cancel] { cancel->store(true); });
    updateButtons();
}

void Tlibrary::importProgress(int done, int total, const QString &path)
{
    if (!m_progress)
        return;
    m_progress->setMaximum(total);
    m_progress->setValue(done);
    m_progress->setLabelText(QStringLiteral("取り込み中: ") + QFileInfo(path).fileName());
}

void Tlibrary::importFinished(const library::ImportSummary &summary)
{
    if (!m_cancelImport)
        return;
    m_cancelImport.reset();
    delete m_progress;
    m_progress = nullptr;
    updateButtons();
    // Nothing stored needs no reading again; a change was announced otherwise.
    errors::ShowReport(QStringLiteral("取り込み結果"), library::SummaryText(summary));
}

void Tlibrary::saveCsvClicked()
{
    if (!m_files)
        return;
    const bool runs = tabs->currentIndex() == RunsTab;
    const QString path
        = SaveDialog ? SaveDialog(QStringLiteral("CSV保存"), QStringLiteral("CSVファイル　(*.csv)")) : QString();
    if (path.isEmpty())
        return;
    // As the cell list's file: a byte order mark, then the records; what the
    // list shows, in its order, with the columns it shows.
    const bool curve = !cellView->isColumnHidden(library::CellCurveColumn);
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF")
        + (runs ? library::RunsCsv(shownRuns())
                : library::CellsCsv(shownCells(), m_cells->gradeLimits(), curve ? &m_cells->curveMinutes() : nullptr));
    m_files->write(path, bytes, this, [this, path](const QString &error) {
        if (!error.isEmpty())
            errors::ShowWarning(QStringLiteral("ファイル %1 を作成できません").arg(path));
        emit saved();
    });
}

void Tlibrary::backupClicked()
{
    if (!m_service)
        return;
    const QString path
        = SaveDialog ? SaveDialog(QStringLiteral("バックアップ"), QStringLiteral("セル台帳 (*.sqlite)")) : QString();
    if (path.isEmpty())
        return;
    statusLabel->setText(QStringLiteral("バックアップ中..."));
    m_service->backup(path, this, [this, path](const library::Reply<library::Nothing> &r) {
        if (r.ok()) {
            statusLabel->setText(QStringLiteral("バックアップしました: ") + path);
        } else {
            // The line ends with the outcome, not with "…中" for ever.
            statusLabel->setText(QStringLiteral("バックアップできませんでした: ") + path);
            errors::ShowWarning(r.error);
        }
        emit saved();
    });
}

void Tlibrary::closeClicked()
{
    hide();
}

int Tlibrary::cellColumnsWidth() const
{
    return cellView->contentsWidth();
}

void Tlibrary::fitCellColumns()
{
    // Wide enough that the セル tab shows every column beside the chart, as
    // far as the screen allows; the list gets what its columns need.
    const int list = cellColumnsWidth();
    const int chart = qMax(historyChart->minimumWidth(), m_cellSplit->widget(1)->width());
    const int missing = list + m_cellSplit->handleWidth() + chart - m_cellSplit->width();
    if (missing > 0) {
        int wanted = width() + missing;
        if (const QScreen *screen = this->screen())
            wanted = qMin(wanted, screen->availableGeometry().width() - (frameGeometry().width() - width()));
        if (wanted > width()) {
            resize(wanted, height());
            m_geometry->centre();
        }
    }
    m_fittedList = list;
    placeCellSplit();
}

void Tlibrary::placeCellSplit()
{
    // The list keeps its width as the window grows to what was asked, until the user moves the splitter.
    if (m_fittedList > 0)
        m_cellSplit->setSizes({m_fittedList, qMax(historyChart->minimumWidth(), m_cellSplit->width() - m_fittedList)});
}

void Tlibrary::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeCellSplit();
}

void Tlibrary::LoadSize()
{
    m_sizeLoaded = true;
    // A size of the user's is kept; only the first size is made to fit the columns.
    m_fitWidth = IniFile(IniPath).readInteger(IniSection, QStringLiteral("Width"), -1) < 0;
    windowsize::loadSectionSize(this, IniPath, IniSection, QSize(300, 200));
}

void Tlibrary::SaveSize()
{
    if (!windowsize::saveSectionSize(this, IniPath, IniSection))
        errors::ShowWarning(messages::IniWriteFailed());
}

void Tlibrary::showEvent(QShowEvent *event)
{
    if (!m_sizeLoaded)
        LoadSize();
    if (!m_placed) {
        m_placed = true;
        m_geometry->centre();
    }
    QWidget::showEvent(event);
    reload();
    cellView->setFocus(Qt::OtherFocusReason);
}

void Tlibrary::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // What 元に戻す could bring back is offered only while the window is open, as the question said.
    if (!event->spontaneous()) {
        m_deleted.clear();
        updateButtons();
    }
    if (!event->spontaneous() && m_sizeLoaded)
        SaveSize();
}

bool Tlibrary::eventFilter(QObject *watched, QEvent *event)
{
    // Alt+letter still carries the letter as text, which a list would take
    // for its keyboard search; let the buttons' accelerators have it.
    if ((watched == cellView || watched == runView || watched == packView) && event->type() == QEvent::ShortcutOverride
        && (static_cast<QKeyEvent *>(event)->modifiers() & Qt::AltModifier)) {
        event->ignore();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (watched == cellView && enter) {
            editCurrentCell();
            return true;
        }
        if (watched == runView && key->key() == Qt::Key_Delete) {
            deleteRunsClicked();
            return true;
        }
        if (watched == packView && key->key() == Qt::Key_Delete) {
            dissolvePackClicked();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
