#include "widgets/FrozenTableView.h"

#include <QHeaderView>
#include <QScrollBar>

FrozenTableView::FrozenTableView(QWidget *parent)
    : QTableView(parent)
    , m_frozen(new QTableView(this))
{
    m_frozen->setObjectName(QStringLiteral("FrozenColumn"));
    m_frozen->setFocusPolicy(Qt::NoFocus);
    m_frozen->verticalHeader()->hide();
    m_frozen->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_frozen->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_frozen->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_frozen->setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollMode(ScrollPerPixel);
    setVerticalScrollMode(ScrollPerPixel);
    viewport()->stackUnder(m_frozen);

    // Either view's vertical scrolling moves the other; widths and heights
    // are the table's.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, m_frozen->verticalScrollBar(), &QScrollBar::setValue);
    connect(m_frozen->verticalScrollBar(), &QScrollBar::valueChanged, verticalScrollBar(), &QScrollBar::setValue);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
        if (logical == frozenColumn()) {
            m_frozen->setColumnWidth(logical, size);
            updateFrozenGeometry();
        }
    });
    connect(verticalHeader(), &QHeaderView::sectionResized, this,
        [this](int logical, int, int size) { m_frozen->setRowHeight(logical, size); });
    connect(horizontalHeader(), &QHeaderView::sectionMoved, this, [this] { showOnlyFrozenColumn(); });
    // The overlay's header sorts the table, and shows the table's order.
    connect(m_frozen->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int logical) {
        if (!isSortingEnabled())
            return;
        const QHeaderView *h = horizontalHeader();
        const Qt::SortOrder order
            = h->sortIndicatorSection() == logical && h->sortIndicatorOrder() == Qt::AscendingOrder
            ? Qt::DescendingOrder
            : Qt::AscendingOrder;
        sortByColumn(logical, order);
    });
    connect(horizontalHeader(), &QHeaderView::sortIndicatorChanged, m_frozen->horizontalHeader(),
        &QHeaderView::setSortIndicator);
    connect(m_frozen, &QTableView::doubleClicked, this, &QTableView::doubleClicked);
    connect(m_frozen, &QTableView::clicked, this, &QTableView::clicked);
}

int FrozenTableView::frozenColumn() const
{
    return horizontalHeader()->logicalIndex(0);
}

int FrozenTableView::contentsWidth() const
{
    const QHeaderView *header = horizontalHeader();
    int columns = 0;
    for (int c = 0; c < header->count(); ++c) {
        if (!header->isSectionHidden(c))
            columns += qMax(sizeHintForColumn(c), header->sectionSizeHint(c));
    }
    const int rows = verticalHeader()->isVisible() ? verticalHeader()->width() : 0;
    return columns + rows + 2 * frameWidth() + verticalScrollBar()->sizeHint().width();
}

void FrozenTableView::setModel(QAbstractItemModel *model)
{
    QTableView::setModel(model);
    m_frozen->setModel(model);
    m_frozen->setSelectionModel(selectionModel());
    // A row's selection runs into columns the overlay hides, which leaves it
    // no region to repaint of its own accord.
    connect(
        selectionModel(), &QItemSelectionModel::selectionChanged, m_frozen->viewport(), qOverload<>(&QWidget::update));
    m_frozen->horizontalHeader()->setSortIndicatorShown(horizontalHeader()->isSortIndicatorShown());
    if (model) {
        // A reset or new columns show every column of the overlay again.
        connect(model, &QAbstractItemModel::modelReset, this, &FrozenTableView::showOnlyFrozenColumn);
        connect(model, &QAbstractItemModel::columnsInserted, this, &FrozenTableView::showOnlyFrozenColumn);
        connect(model, &QAbstractItemModel::layoutChanged, this, &FrozenTableView::showOnlyFrozenColumn);
    }
    showOnlyFrozenColumn();
}

void FrozenTableView::showOnlyFrozenColumn()
{
    if (!model())
        return;
    const int frozen = frozenColumn();
    for (int c = 0; c < model()->columnCount(); ++c)
        m_frozen->setColumnHidden(c, c != frozen);
    m_frozen->setColumnWidth(frozen, columnWidth(frozen));
    m_frozen->horizontalHeader()->setSortIndicatorShown(horizontalHeader()->isSortIndicatorShown());
    m_frozen->horizontalHeader()->setSortIndicator(
        horizontalHeader()->sortIndicatorSection(), horizontalHeader()->sortIndicatorOrder());
    m_frozen->setSelectionBehavior(selectionBehavior());
    m_frozen->setSelectionMode(selectionMode());
    m_frozen->setEditTriggers(editTriggers());
    updateFrozenGeometry();
}

void FrozenTableView::updateGeometries()
{
    QTableView::updateGeometries();
    // Rows as tall as the table's (a default size set after construction too).
    m_frozen->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
    updateFrozenGeometry();
}

void FrozenTableView::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    updateFrozenGeometry();
}

void FrozenTableView::updateFrozenGeometry()
{
    if (!model())
        return;
    const int left = frameWidth() + (verticalHeader()->isVisible() ? verticalHeader()->width() : 0);
    m_frozen->horizontalHeader()->setFixedHeight(horizontalHeader()->height());
    // The overlay's own width of the column: while the table's header tells of
    // a resize it may still answer the old one.
    m_frozen->setGeometry(
        left, frameWidth(), m_frozen->columnWidth(frozenColumn()), viewport()->height() + horizontalHeader()->height());
    m_frozen->verticalScrollBar()->setValue(verticalScrollBar()->value());
}

QModelIndex FrozenTableView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex current = QTableView::moveCursor(cursorAction, modifiers);
    // A cell moved to by keys is scrolled out from under the overlay.
    if (cursorAction == MoveLeft && current.isValid() && current.column() != frozenColumn()) {
        const int under = visualRect(current).topLeft().x() - columnWidth(frozenColumn());
        if (under < 0)
            horizontalScrollBar()->setValue(horizontalScrollBar()->value() + under);
    }
    return current;
}

void FrozenTableView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    // The frozen column is always in view: only the rows scroll for it.
    if (index.isValid() && index.column() == frozenColumn()) {
        const int h = horizontalScrollBar()->value();
        QTableView::scrollTo(index, hint);
        horizontalScrollBar()->setValue(h);
        return;
    }
    QTableView::scrollTo(index, hint);
}
