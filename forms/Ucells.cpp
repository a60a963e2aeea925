#include "forms/Ucells.h"
#include "core/Messages.h"
#include "widgets/Fonts.h"

#include "analysis/Capacity.h"
#include "core/Settings.h"
#include "forms/Ucompare.h"
#include "widgets/ErrorDisplay.h"
#include "widgets/ShownRows.h"
#include "widgets/WindowSize.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

Tcells::Tcells(const LineSource *log, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_log(log)
{
    m_geometry = new windowsize::FramedGeometry(this);
    setObjectName(QStringLiteral("cells"));
    setWindowTitle(QStringLiteral("セル一覧"));
    setFont(fonts::WindowFont());
    resize(640, 400);

    m_model = new cells::CellListModel(this);
    m_proxy = new QSortFilterProxyModel(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(cells::CellListModel::SortRole);

    ListView1 = new QTableView(this);
    ListView1->setModel(m_proxy);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSortingEnabled(true);
    ListView1->sortByColumn(-1, Qt::AscendingOrder); // table order until a header is clicked
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setDefaultSectionSize(ListView1->fontMetrics().height() + 6);
    ListView1->horizontalHeader()->setStretchLastSection(true);
    ListView1->setTabKeyNavigation(false);
    ListView1->installEventFilter(this);

    const auto button = [this](const QString &caption) { return new QPushButton(caption, this); };
    Button1 = button(QStringLiteral("更新(&U)"));
    Button2 = button(QStringLiteral("ファイル追加(&A)..."));
    Button3 = button(QStringLiteral("描画(&D)"));
    Button4 = button(QStringLiteral("CSV保存(&S)..."));
    Button5 = button(QStringLiteral("閉じる(&C)"));
    for (QPushButton *b : {Button1, Button2, Button3, Button4, Button5})
        b->setAutoDefault(false);

    Label1 = new QLabel(this);
    Label1->setWordWrap(true);
    Label1->setTextFormat(Qt::PlainText);
    Label1->hide();

    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {Button1, Button2, Button3, Button4})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(Button5);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ListView1, 1);
    layout->addWidget(Label1);
    layout->addLayout(buttons);

    compare = new Tcompare(this);

    connect(Button1, &QPushButton::clicked, this, &Tcells::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &Tcells::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &Tcells::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &Tcells::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &Tcells::Button5Click);
    // Escape hides the window like 閉じる.
    auto *escape = new QAction(this);
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(escape, &QAction::triggered, this, &Tcells::Button5Click);
    addAction(escape);

    OpenDialog = [this] { return runOpenDialog(); };
    SaveDialog = [this] { return runSaveDialog(); };
}

QStringList Tcells::runOpenDialog()
{
    QFileDialog dlg(this);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFiles);
    dlg.setNameFilter(messages::LogFileFilter());
    if (dlg.exec() != QDialog::Accepted)
        return {};
    return dlg.selectedFiles();
}

QString Tcells::runSaveDialog()
{
    QFileDialog dlg(this);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setNameFilter(QStringLiteral("CSVファイル　(*.csv)"));
    dlg.setDefaultSuffix(QStringLiteral("csv"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    return dlg.selectedFiles().constFirst();
}

void Tcells::recompute()
{
    const cells::CellSources::Result result = m_sources.cells(analysis::CurrentCapacityParameters());
    m_model->setRows(result.rows);
    ListView1->resizeColumnsToContents();
    Label1->setText(result.problems.isEmpty()
            ? QString()
            : QStringLiteral("読めない表があります: ") + result.problems.join(QStringLiteral(" / ")));
    Label1->setVisible(!result.problems.isEmpty());
}

QList<cells::CellRow> Tcells::shownRows() const
{
    return shownrows::Shown(*m_proxy, m_model->rows());
}

QList<cells::CellRow> Tcells::selectedRows() const
{
    QList<int> proxyRows;
    // Ranges come in the order they were selected.
    for (const QItemSelectionRange &range : ListView1->selectionModel()->selection()) {
        for (int r = range.top(); r <= range.bottom(); ++r)
            proxyRows.append(r);
    }
    return shownrows::At(*m_proxy, m_model->rows(), proxyRows);
}

void Tcells::Button1Click()
{
    if (m_log)
        m_sources.setLog(*m_log);
    recompute();
}

void Tcells::Button2Click()
{
    const QStringList paths = OpenDialog ? OpenDialog() : QStringList();
    if (paths.isEmpty())
        return;
    // Files read before one that fails stay in the list.
    try {
        for (const QString &path : paths)
            m_sources.addFile(path);
    } catch (...) {
        recompute();
        throw;
    }
    recompute();
}

void Tcells::Button3Click()
{
    const QList<cells::CellRow> rows = selectedRows();
    if (rows.isEmpty())
        return;
    if (rows.size() > Tcompare::MaxCells) {
        errors::ShowWarning(QStringLiteral("比較できるのは8セルまでです"));
        return;
    }
    compare->ShowCells(rows, settings::Gtmax, settings::Gvmax);
}

void Tcells::Button4Click()
{
    const QString path = SaveDialog ? SaveDialog() : QString();
    if (!path.isEmpty())
        cells::WriteCsv(path, shownRows());
}

void Tcells::Button5Click()
{
    hide();
}

void Tcells::showEvent(QShowEvent *event)
{
    if (!m_placed) {
        // Centred at the first show only, frame included; afterwards the user places it.
        m_placed = true;
        m_geometry->centre();
    }
    QWidget::showEvent(event);
    Button1Click();
    ListView1->setFocus(Qt::OtherFocusReason);
    if (!ListView1->currentIndex().isValid() && m_proxy->rowCount() > 0)
        ListView1->selectionModel()->setCurrentIndex(m_proxy->index(0, 0), QItemSelectionModel::NoUpdate);
}

bool Tcells::eventFilter(QObject *watched, QEvent *event)
{
    // Alt+letter still carries the letter as text, which the list would take
    // for its keyboard search; let the buttons' accelerators have it.
    if (watched == ListView1 && event->type() == QEvent::ShortcutOverride
        && (static_cast<QKeyEvent *>(event)->modifiers() & Qt::AltModifier)) {
        event->ignore();
        return true;
    }
    if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            Button3Click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
