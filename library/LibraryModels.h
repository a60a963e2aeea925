#pragma once
// The list models of the library window: the cells with their summaries and
// the runs with their bays, sorted by value (numbers as numbers, dates as
// dates, missing figures below all others), the cells filtered by text and
// state. No widgets: a view shows them, tests drive them directly.
#include "library/Grade.h"
#include "library/Records.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSortFilterProxyModel>

#include <optional>

namespace library {

// The role every model here sorts by.
constexpr int SortRole = Qt::UserRole;
// The role that gives a row's id (cell id or run id) on any column.
constexpr int IdRole = Qt::UserRole + 1;

// The columns the cells tab shows beyond the library's own: the grade and
// the curve distance from a chosen cell.
enum CellViewColumn { CellGradeColumn = CellColumnCount, CellCurveColumn, CellViewColumnCount };

class CellTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void setRows(QList<CellSummary> rows);
    const QList<CellSummary> &rows() const { return m_rows; }
    // The row of the cell with this id, or -1.
    int rowOf(qint64 cellId) const;

    // The limits the grade column judges by (the library's own, read with the rows).
    void setGradeLimits(const GradeLimits &limits);
    GradeLimits gradeLimits() const { return m_limits; }
    Grade grade(int row) const;
    // The cells in order of curve distance, nearest first, with the minutes of
    // those that have one. Cells left out sort after all listed ones.
    void setCurveOrder(const QList<qint64> &order, const QHash<qint64, double> &minutes);
    const QHash<qint64, double> &curveMinutes() const { return m_curveMinutes; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<CellSummary> m_rows;
    GradeLimits m_limits;
    QHash<qint64, int> m_curveRank;
    QHash<qint64, double> m_curveMinutes;
};

// The columns of the runs tab: the run, then label and capacity of each bay.
enum RunColumn { RunWhen, RunSource, RunTimeUnit, RunFirstBay, RunColumnCount = RunFirstBay + 2 * BayCount };
// The bay (1 to 4) a column belongs to, or 0; and whether it is the label's.
int BayOfColumn(int column);
bool IsLabelColumn(int column);
int LabelColumn(int bay);
int CapacityColumn(int bay);
// "日時", "出典", "時間軸", then "Bat1", "Bat1(mAh)" to "Bat4", "Bat4(mAh)".
QString RunColumnTitle(int column);

class RunTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRows(QList<RunRow> rows);
    const QList<RunRow> &rows() const { return m_rows; }
    int rowOf(qint64 runId) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // The label of a bay the table has can be edited; an edit that changes it
    // (after trimming) is shown at once and announced by bayLabelEdited.
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

signals:
    void bayLabelEdited(qint64 runId, int bay, const QString &label);

private:
    QList<RunRow> m_rows;
};

// Sorts by SortRole: values of one kind by their order, a missing value
// (invalid variant) below every present one, text without regard to case.
class ValueSortProxy : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit ValueSortProxy(QObject *parent = nullptr);

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;
};

// The cells tab's rows: those whose label, model or memo contains the filter
// text (case ignored, blanks around it too); retired cells only when asked;
// only those of one grade when one is set.
class CellFilterProxy : public ValueSortProxy
{
    Q_OBJECT
public:
    using ValueSortProxy::ValueSortProxy;

    void setFilterText(const QString &text);
    void setShowRetired(bool show);
    // None shows every grade.
    void setGradeFilter(std::optional<Grade> grade);
    QString filterText() const { return m_text; }
    std::optional<Grade> gradeFilter() const { return m_grade; }
    bool showRetired() const { return m_showRetired; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QString m_text;
    std::optional<Grade> m_grade;
    bool m_showRetired = false;
};

} // namespace library
