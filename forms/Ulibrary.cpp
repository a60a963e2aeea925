#include "forms/Ulibrary.h"
#include "core/Messages.h"
#include "widgets/Fonts.h"

#include "analysis/DischargeTable.h"
#include "core/SafeWrite.h"
#include "core/Settings.h"
#include "forms/Ucellinfo.h"
#include "forms/Ucompare.h"
#include "forms/Ugradelimits.h"
#include "forms/Upackplan.h"
#include "forms/Urunparam.h"
#include "library/LibraryModels.h"
#include "library/LibraryService.h"
#include "packs/LibraryPool.h"
#include "widgets/Chart.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/FieldKeys.h"
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
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

const QString Tlibrary::IniSection = QStringLiteral("CellLibrary");

namespace {

struct Snapshot {
    QList<library::CellSummary> cells;
    QList<library::RunRow> runs;
    library::GradeLimits limits;
    QList<packs::CurveNeighbour> neighbours; // from the 似た曲線 reference, when one is shown
};

struct Neighbours {
    bool ok = false;
    QString error;
    QList<packs::CurveNeighbour> cells;
};

QTableView *makeList(QWidget *parent, QAbstractItemModel *model)
{
    auto *view = new QTableView(parent);
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

// The curve of one bay of a stored run: (time count, voltage) of each row
// that has the bay's column.
cells::CellRow curveOf(const library::RunTable &run, int bay)
{
    cells::CellRow row;
    row.cell = bay;
    row.capacity = run.bays[bay - 1].capacity;
    analysis::TDischargeTable table;
    table.rows = run.rows;
    table.rowCount = qint32(run.rows.size());
    for (const analysis::TableRow &r : analysis::ConvertTable(table)) {
        if (bay - 1 < r.cellCount)
            row.curve.append(QPointF(r.times[bay - 1], r.voltage));
    }
    return row;
}

} // namespace

Tlibrary::Tlibrary(library::LibraryService *service, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_service(service)
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

    PageControl1 = new QTabWidget(this);

    // セル
    auto *cellPage = new QWidget(PageControl1);
    auto *filterLabel = new QLabel(QStringLiteral("絞り込み"), cellPage);
    Edit1 = new QLineEdit(cellPage);
    Edit1->setObjectName(QStringLiteral("Filter"));
    Edit1->setClearButtonEnabled(true);
    fieldkeys::IgnoreAltText(Edit1);
    filterLabel->setBuddy(Edit1);
    CheckBox1 = new QCheckBox(QStringLiteral("引退も表示"), cellPage);
    auto *gradeLabel = new QLabel(QStringLiteral("判定(&G)"), cellPage);
    ComboBox1 = new QComboBox(cellPage);
    ComboBox1->setObjectName(QStringLiteral("GradeFilter"));
    ComboBox1->addItem(QStringLiteral("すべて"), QString());
    for (library::Grade g : {library::Grade::Good, library::Grade::Fair, library::Grade::Poor, library::Grade::None})
        ComboBox1->addItem(library::GradeText(g), library::GradeText(g));
    gradeLabel->setBuddy(ComboBox1);
    ListView1 = makeList(cellPage, m_cellProxy);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->sortByColumn(library::CellLabel, Qt::AscendingOrder);
    // 判定 beside 健全度, 曲線差 beside the label and only while its order applies.
    QHeaderView *cellHeader = ListView1->horizontalHeader();
    cellHeader->moveSection(
        cellHeader->visualIndex(library::CellGradeColumn), cellHeader->visualIndex(library::CellHealth) + 1);
    cellHeader->moveSection(cellHeader->visualIndex(library::CellCurveColumn), 1);
    ListView1->setColumnHidden(library::CellCurveColumn, true);
    ListView1->installEventFilter(this);
    Chart1 = new Chart(cellPage);
    Chart1->setSeriesStyles({{QStringLiteral("容量"), QColor(0xFF, 0x00, 0x00), true}});
    Chart1->setLeftAxis(QStringLiteral("容量(mAh)"), 0);
    Chart1->setDateAxis(true);
    Chart1->setMinimumWidth(260);
    Button1 = new QPushButton(QStringLiteral("曲線比較(&D)"), cellPage);
    Button8 = new QPushButton(QStringLiteral("似た曲線(&N)"), cellPage);

    auto *filterRow = new QHBoxLayout;
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(Edit1, 1);
    filterRow->addWidget(gradeLabel);
    filterRow->addWidget(ComboBox1);
    filterRow->addWidget(CheckBox1);
    auto *right = new QWidget(cellPage);
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(Chart1, 1);
    auto *compareRow = new QHBoxLayout;
    compareRow->addStretch(1);
    compareRow->addWidget(Button8);
    compareRow->addWidget(Button1);
    rightLayout->addLayout(compareRow);
    auto *split = new QSplitter(Qt::Horizontal, cellPage);
    split->addWidget(ListView1);
    split->addWidget(right);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setChildrenCollapsible(false);
    auto *cellLayout = new QVBoxLayout(cellPage);
    cellLayout->addLayout(filterRow);
    cellLayout->addWidget(split, 1);
    PageControl1->addTab(cellPage, QStringLiteral("セル"));

    // 放電記録
    auto *runPage = new QWidget(PageControl1);
    ListView2 = makeList(runPage, m_runProxy);
    ListView2->setEditTriggers(
        QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    ListView2->sortByColumn(library::RunWhen, Qt::DescendingOrder);
    ListView2->installEventFilter(this);
    Button2 = new QPushButton(QStringLiteral("削除(&X)"), runPage);
    Button3 = new QPushButton(QStringLiteral("条件変更(&P)..."), runPage);
    auto *runButtons = new QHBoxLayout;
    runButtons->addWidget(Button2);
    runButtons->addWidget(Button3);
    runButtons->addStretch(1);
    auto *runLayout = new QVBoxLayout(runPage);
    runLayout->addWidget(ListView2, 1);
    runLayout->addLayout(runButtons);
    PageControl1->addTab(runPage, QStringLiteral("放電記録"));

    Button4 = new QPushButton(QStringLiteral("取り込み(&I)..."), this);
    Button5 = new QPushButton(QStringLiteral("CSV保存(&S)..."), this);
    Button6 = new QPushButton(QStringLiteral("バックアップ(&K)..."), this);
    Button7 = new QPushButton(QStringLiteral("閉じる(&C)"), this);
    Button9 = new QPushButton(QStringLiteral("組電池の設計(&B)..."), this);
    Button10 = new QPushButton(QStringLiteral("判定の基準(&J)..."), this);
    for (QPushButton *b : {Button1, Button2, Button3, Button4, Button5, Button6, Button7, Button8, Button9, Button10})
        b->setAutoDefault(false);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Status"));
    Label1->setTextFormat(Qt::PlainText);

    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {Button4, Button5, Button6, Button9, Button10})
        buttons->addWidget(b);
    buttons->addWidget(Label1, 1);
    buttons->addWidget(Button7);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1, 1);
    layout->addLayout(buttons);

    compare = new Tcompare(this);

    connect(Edit1, &QLineEdit::textChanged, m_cellProxy, &library::CellFilterProxy::setFilterText);
    connect(CheckBox1, &QCheckBox::toggled, m_cellProxy, &library::CellFilterProxy::setShowRetired);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this,
        [this] { m_cellProxy->setGradeFilter(ComboBox1->currentData().toString()); });
    connect(cellHeader, &QHeaderView::sortIndicatorChanged, this, &Tlibrary::cellSortChanged);
    connect(
        ListView1->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &Tlibrary::cellSelectionChanged);
    connect(ListView1, &QTableView::doubleClicked, this, &Tlibrary::ListView1DblClick);
    connect(ListView2->selectionModel(), &QItemSelectionModel::selectionChanged, this, &Tlibrary::updateButtons);
    connect(m_runs, &library::RunTableModel::bayLabelEdited, this, &Tlibrary::runLabelEdited);
    connect(Button1, &QPushButton::clicked, this, &Tlibrary::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &Tlibrary::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &Tlibrary::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &Tlibrary::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &Tlibrary::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &Tlibrary::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &Tlibrary::Button7Click);
    connect(Button8, &QPushButton::clicked, this, &Tlibrary::Button8Click);
    connect(Button9, &QPushButton::clicked, this, &Tlibrary::Button9Click);
    connect(Button10, &QPushButton::clicked, this, &Tlibrary::Button10Click);
    auto *escape = new QAction(this);
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(escape, &QAction::triggered, this, &Tlibrary::Button7Click);
    addAction(escape);
    auto *find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] {
        PageControl1->setCurrentIndex(0);
        Edit1->setFocus(Qt::ShortcutFocusReason);
        Edit1->selectAll();
    });
    addAction(find);

    if (m_service) {
        connect(m_service, &library::LibraryService::changed, this, [this] {
            if (isVisible())
                reload();
            else
                m_stale = true;
        });
        // A capture is told here as in 装着セル; the lists follow by changed().
        connect(m_service, &library::LibraryService::runRecorded, this,
            [this](const library::RecordResult &result, const QDateTime &when) {
                if (result.isNew)
                    Label1->setText(
                        QStringLiteral("記録しました: ") + when.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")));
            });
        connect(m_service, &library::LibraryService::importProgress, this, &Tlibrary::importProgress);
        connect(m_service, &library::LibraryService::importFinished, this, &Tlibrary::importFinished);
    }

    OpenDialog = [this] { return runOpenDialog(); };
    SaveDialog = [this](const QString &title, const QString &filter, const QString &suffix) {
        return runSaveDialog(title, filter, suffix);
    };
    CellDialog = [this](library::CellInfo &info) {
        Tcellinfo dlg(info, this);
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
        Tpackplan dlg(m_service, shown, this);
        dlg.exec();
    };
    LimitsDialog = [this] {
        Tgradelimits dlg(m_service, this);
        return dlg.exec() == QDialog::Accepted;
    };
    IniPath = settings::IniFilePath();
    m_cells->setGradeFunction(
        [this](const library::CellSummary &s) { return library::GradeText(packs::GradeOfCell(s, m_limits)); });
    updateButtons();
}

Tlibrary::~Tlibrary()
{
    if (m_cancelImport)
        m_cancelImport->store(true);
    delete m_progress;
    if (isVisible() && m_sizeLoaded)
        SaveSize();
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

QString Tlibrary::runSaveDialog(const QString &title, const QString &filter, const QString &suffix)
{
    QFileDialog dlg(this, title);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setNameFilter(filter);
    dlg.setDefaultSuffix(suffix);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    return dlg.selectedFiles().constFirst();
}

void Tlibrary::setWritable(bool writable)
{
    m_writable = writable;
    ListView2->setEditTriggers(writable
            ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked
            : QAbstractItemView::NoEditTriggers);
    updateButtons();
}

void Tlibrary::updateButtons()
{
    const bool any = ListView2->selectionModel()->hasSelection();
    const bool service = m_service != nullptr;
    Button2->setEnabled(service && m_writable && any);
    Button3->setEnabled(service && m_writable && any);
    Button4->setEnabled(service && m_writable && !m_cancelImport);
    Button6->setEnabled(service);
    Button1->setEnabled(service && m_currentCell != 0);
    Button8->setEnabled(service && m_currentCell != 0);
    Button9->setEnabled(service);
    Button10->setEnabled(service && m_writable);
}

void Tlibrary::cellSortChanged(int column)
{
    // The distances belong to the order they were asked for.
    if (column != library::CellCurveColumn) {
        ListView1->setColumnHidden(library::CellCurveColumn, true);
        m_curveReference = 0;
    }
}

bool Tlibrary::showCurveOrder(const QList<packs::CurveNeighbour> &cells)
{
    if (cells.isEmpty()) {
        ListView1->setColumnHidden(library::CellCurveColumn, true);
        m_curveReference = 0;
        return false;
    }
    QList<qint64> order;
    QHash<qint64, double> minutes;
    for (const packs::CurveNeighbour &c : cells) {
        order.append(c.cellId);
        if (c.minutes)
            minutes.insert(c.cellId, *c.minutes);
    }
    m_cells->setCurveOrder(order, minutes);
    ListView1->setColumnHidden(library::CellCurveColumn, false);
    ListView1->sortByColumn(library::CellCurveColumn, Qt::AscendingOrder);
    ListView1->resizeColumnToContents(library::CellCurveColumn);
    return true;
}

QList<library::CellSummary> Tlibrary::shownCells() const
{
    QList<library::CellSummary> rows;
    for (int r = 0; r < m_cellProxy->rowCount(); ++r)
        rows.append(m_cells->rows().at(m_cellProxy->mapToSource(m_cellProxy->index(r, 0)).row()));
    return rows;
}

QList<library::RunRow> Tlibrary::shownRuns() const
{
    QList<library::RunRow> rows;
    for (int r = 0; r < m_runProxy->rowCount(); ++r)
        rows.append(m_runs->rows().at(m_runProxy->mapToSource(m_runProxy->index(r, 0)).row()));
    return rows;
}

QList<qint64> Tlibrary::selectedRunIds() const
{
    QList<qint64> ids;
    for (const QModelIndex &i : ListView2->selectionModel()->selectedRows())
        ids.append(i.data(library::IdRole).toLongLong());
    return ids;
}

void Tlibrary::reload(std::function<void()> done)
{
    if (!m_service)
        return;
    m_stale = false;
    const int serial = ++m_reloadSerial;
    const qint64 reference = m_curveReference;
    m_service->query<Snapshot>(
        [reference](library::Library &lib) {
            Snapshot s{lib.cellSummaries(), lib.runs(), packs::ReadGradeLimits(lib), {}};
            // A new run moves the distances shown: measured again with the rest.
            if (reference != 0)
                s.neighbours = packs::CurveNeighbours(lib, reference);
            return s;
        },
        this,
        [this, serial, reference, done](const Snapshot &s) {
            // An older answer than one asked for since is of no use.
            if (serial != m_reloadSerial)
                return;
            const qint64 current = m_currentCell;
            m_limits = s.limits;
            m_cells->setRows(s.cells);
            m_runs->setRows(s.runs);
            if (reference != 0 && reference == m_curveReference)
                showCurveOrder(s.neighbours);
            if (m_cells->rowOf(current) >= 0)
                selectCell(current);
            else
                cellSelectionChanged();
            ListView1->resizeColumnsToContents();
            ListView2->resizeColumnsToContents();
            updateButtons();
            if (done)
                done();
        });
}

void Tlibrary::selectCell(qint64 cellId)
{
    const int row = m_cells->rowOf(cellId);
    if (row < 0)
        return;
    const QModelIndex at = m_cellProxy->mapFromSource(m_cells->index(row, 0));
    if (!at.isValid())
        return;
    ListView1->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ListView1->scrollTo(at);
    // The same row again after a reload: its history may have changed.
    if (m_currentCell == cellId)
        showHistory(cellId);
}

void Tlibrary::cellSelectionChanged()
{
    const QModelIndex current = ListView1->selectionModel()->currentIndex();
    const qint64 id = current.isValid() ? current.data(library::IdRole).toLongLong() : 0;
    m_currentCell = id;
    updateButtons();
    showHistory(id);
}

void Tlibrary::showHistory(qint64 cellId)
{
    Chart1->series(0).clear();
    if (cellId == 0 || !m_service) {
        emit historyShown();
        return;
    }
    m_service->query<QList<library::HistoryPoint>>([cellId](library::Library &lib) { return lib.cellHistory(cellId); },
        this,
        [this, cellId](const QList<library::HistoryPoint> &points) {
            if (cellId != m_currentCell)
                return;
            ChartSeries &s = Chart1->series(0);
            s.clear();
            double lo = 0, hi = 0;
            for (const library::HistoryPoint &p : points) {
                const double x = double(p.when.toSecsSinceEpoch());
                s.addXY(x, p.capacity);
                lo = s.count() == 1 ? x : qMin(lo, x);
                hi = s.count() == 1 ? x : qMax(hi, x);
            }
            // Room either side, so the first and last runs are not drawn on
            // the frame; runs of one day read by their time.
            const double span = hi - lo;
            const double room = qMax(span * 0.1, span < 86400.0 ? 600.0 : 43200.0);
            Chart1->setDateAxis(true, span < 86400.0 ? QStringLiteral("HH:mm") : QStringLiteral("MM/dd"));
            ChartAxis &bottom = Chart1->bottomAxis();
            bottom.setAutomatic(points.isEmpty());
            bottom.setMinimum(lo - room);
            bottom.setMaximum(hi + room);
            emit historyShown();
        });
}

void Tlibrary::change(std::function<void(library::Library &)> job, std::function<void()> after)
{
    if (!m_service)
        return;
    // The window tells of its own failures, where the user asked for the change.
    m_service->query<QString>(
        [job = std::move(job)](library::Library &lib) {
            try {
                job(lib);
            } catch (const library::LibraryError &e) {
                return e.text();
            }
            return QString();
        },
        this,
        [this, after = std::move(after)](const QString &error) {
            if (!error.isEmpty())
                errors::ShowWarning(error);
            else if (after)
                after();
            reload();
        });
}

void Tlibrary::Button1Click()
{
    const qint64 cellId = m_currentCell;
    if (!m_service || cellId == 0)
        return;
    m_service->query<QList<library::RunTable>>(
        [cellId](library::Library &lib) { return lib.recentRunsOf(cellId, Tcompare::MaxCells); }, this,
        [this, cellId](const QList<library::RunTable> &runs) {
            QList<cells::CellRow> rows;
            QStringList titles;
            for (const library::RunTable &run : runs) {
                for (int bay = 1; bay <= library::BayCount && rows.size() < Tcompare::MaxCells; ++bay) {
                    if (run.bays[bay - 1].cellId != cellId)
                        continue;
                    try {
                        rows.append(curveOf(run, bay));
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

void Tlibrary::ListView1DblClick()
{
    const int row = m_cells->rowOf(m_currentCell);
    if (!m_service || !m_writable || row < 0 || !CellDialog)
        return;
    library::CellInfo info = m_cells->rows().at(row).info;
    const bool wasBuiltIn = info.state == library::CellState::BuiltIn;
    if (!CellDialog(info))
        return;
    const bool undo = wasBuiltIn && info.state != library::CellState::BuiltIn;
    change([info, undo](library::Library &lib) {
        if (undo)
            packs::UndoBuiltIn(lib, info.id);
        lib.updateCell(info);
    });
}

void Tlibrary::Button8Click()
{
    const qint64 cellId = m_currentCell;
    if (!m_service || cellId == 0)
        return;
    m_curveReference = 0;
    m_service->query<Neighbours>(
        [cellId](library::Library &lib) {
            Neighbours n;
            try {
                n.cells = packs::CurveNeighbours(lib, cellId);
                n.ok = true;
            } catch (const library::LibraryError &e) {
                n.error = e.text();
            }
            return n;
        },
        this,
        [this, cellId](const Neighbours &n) {
            if (!n.ok) {
                errors::ShowWarning(n.error);
                emit similarShown();
                return;
            }
            if (n.cells.isEmpty()) {
                errors::ShowWarning(QStringLiteral("このセルの放電記録がありません"));
                emit similarShown();
                return;
            }
            m_curveReference = cellId;
            showCurveOrder(n.cells);
            emit similarShown();
        });
}

void Tlibrary::Button9Click()
{
    if (!m_service || !PlanDialog)
        return;
    QList<qint64> ids;
    for (const library::CellSummary &s : shownCells())
        ids.append(s.info.id);
    PlanDialog(ids);
}

void Tlibrary::Button10Click()
{
    if (!m_service || !m_writable || !LimitsDialog)
        return;
    // The dialog's write announces a change; reading again here also covers a
    // library whose window is the only one listening.
    if (LimitsDialog())
        reload();
}

void Tlibrary::runLabelEdited(qint64 runId, int bay, const QString &label)
{
    if (!m_service)
        return;
    change([runId, bay, label](library::Library &lib) { lib.setBayLabel(runId, bay, label); });
}

void Tlibrary::Button2Click()
{
    const QList<qint64> ids = selectedRunIds();
    if (!m_service || !m_writable || ids.isEmpty())
        return;
    if (!errors::AskYesNo(QStringLiteral("選択した放電記録を削除しますか？")))
        return;
    change([ids](library::Library &lib) { lib.deleteRuns(ids); });
}

void Tlibrary::Button3Click()
{
    const QList<qint64> ids = selectedRunIds();
    if (!m_service || !m_writable || ids.isEmpty() || !RunDialog)
        return;
    const int row = m_runs->rowOf(ids.first());
    analysis::CapacityParameters p = row >= 0 ? m_runs->rows().at(row).parameters : analysis::CapacityParameters();
    if (!RunDialog(p))
        return;
    change([ids, p](library::Library &lib) {
        for (qint64 id : ids)
            lib.setRunParameters(id, p);
    });
}

void Tlibrary::Button4Click()
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
    reload();
    errors::ShowMessage(library::SummaryText(summary));
}

void Tlibrary::Button5Click()
{
    if (!m_service)
        return;
    const bool runs = PageControl1->currentIndex() == 1;
    const QString path = SaveDialog
        ? SaveDialog(QStringLiteral("CSV保存"), QStringLiteral("CSVファイル　(*.csv)"), QStringLiteral("csv"))
        : QString();
    if (path.isEmpty())
        return;
    // As the cell list's file: a byte order mark, then the records; what the
    // list shows, in its order.
    const QByteArray bytes
        = QByteArray("\xEF\xBB\xBF") + (runs ? library::RunsCsv(shownRuns()) : library::CellsCsv(shownCells()));
    change([path, bytes](library::Library &) {
        try {
            safewrite::WriteFile(path, bytes);
        } catch (const safewrite::WriteError &) {
            throw library::LibraryError(QStringLiteral("ファイル %1 を作成できません").arg(path));
        }
    });
}

void Tlibrary::Button6Click()
{
    if (!m_service)
        return;
    const QString path = SaveDialog
        ? SaveDialog(QStringLiteral("バックアップ"), QStringLiteral("セル台帳 (*.sqlite)"), QStringLiteral("sqlite"))
        : QString();
    if (path.isEmpty())
        return;
    Label1->setText(QStringLiteral("バックアップ中..."));
    change([path](library::Library &lib) { lib.backupTo(path); },
        [this, path] { Label1->setText(QStringLiteral("バックアップしました: ") + path); });
}

void Tlibrary::Button7Click()
{
    hide();
}

void Tlibrary::LoadSize()
{
    m_sizeLoaded = true;
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
    ListView1->setFocus(Qt::OtherFocusReason);
}

void Tlibrary::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous() && m_sizeLoaded)
        SaveSize();
}

bool Tlibrary::eventFilter(QObject *watched, QEvent *event)
{
    // Alt+letter still carries the letter as text, which a list would take
    // for its keyboard search; let the buttons' accelerators have it.
    if ((watched == ListView1 || watched == ListView2) && event->type() == QEvent::ShortcutOverride
        && (static_cast<QKeyEvent *>(event)->modifiers() & Qt::AltModifier)) {
        event->ignore();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (watched == ListView1 && enter) {
            ListView1DblClick();
            return true;
        }
        if (watched == ListView2 && key->key() == Qt::Key_Delete) {
            Button2Click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
