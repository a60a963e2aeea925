#pragma once
// A table whose first column stays in view while the others scroll sideways:
// a second view over the same model and selection, showing that column alone,
// lies over the left edge and follows the table's widths, heights, sorting and
// vertical scrolling. Keys go to the table; clicks on the overlay select and
// double-click as on the table.
#include <QTableView>

class FrozenTableView : public QTableView
{
    Q_OBJECT
public:
    explicit FrozenTableView(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;
    // The overlay that shows the first column (tests look at it).
    QTableView *frozenView() const { return m_frozen; }
    // The logical column kept in view: the one at the first visual place.
    int frozenColumn() const;
    // The width that shows every column whole beside a vertical scroll bar:
    // what the contents and titles ask for, not what the header has now (its
    // last section may stretch).
    int contentsWidth() const;
    // The frozen column's cells scroll only the rows.
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void updateGeometries() override;

private:
    void updateFrozenGeometry();
    void showOnlyFrozenColumn();

    QTableView *m_frozen;
};
