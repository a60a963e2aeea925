#include "library/LibraryModels.h"
#include "library/Pool.h"

#include <limits>

namespace library {

namespace {

bool isNumericCellColumn(int column)
{
    return column != CellLabel && column != CellModel && column != CellLastMeasured && column != CellStateColumn
        && column != CellGradeColumn;
}

QString oneDecimal(double v)
{
    return QString::number(v, 'f', 1);
}

} // namespace

// ---- cells ----

void CellTableModel::setRows(QList<CellSummary> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int CellTableModel::rowOf(qint64 cellId) const
{
    for (qsizetype i = 0; i < m_rows.size(); ++i)
        if (m_rows.at(i).info.id == cellId)
            return int(i);
    return -1;
}

void CellTableModel::setGradeLimits(const GradeLimits &limits)
{
    m_limits = limits;
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, CellGradeColumn), index(int(m_rows.size()) - 1, CellGradeColumn));
}

Grade CellTableModel::grade(int row) const
{
    if (row < 0 || row >= m_rows.size())
        return Grade::None;
    return GradeOfCell(m_rows.at(row), m_limits);
}

void CellTableModel::setCurveOrder(const QList<qint64> &order, const QHash<qint64, double> &minutes)
{
    m_curveRank.clear();
    for (qsizetype i = 0; i < order.size(); ++i)
        m_curveRank.insert(order.at(i), int(i));
    m_curveMinutes = minutes;
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, CellCurveColumn), index(int(m_rows.size()) - 1, CellCurveColumn));
}

int CellTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CellTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : CellViewColumnCount;
}

QVariant CellTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const CellSummary &s = m_rows.at(index.row());
    if (index.column() == CellGradeColumn && (role == Qt::DisplayRole || role == SortRole)) {
        // Grades follow the health, so they sort by it.
        return role == SortRole ? CellSortKey(s, CellHealth) : QVariant(GradeText(grade(index.row())));
    }
    if (index.column() == CellCurveColumn && (role == Qt::DisplayRole || role == SortRole)) {
        if (role == SortRole)
            return m_curveRank.value(s.info.id, std::numeric_limits<int>::max());
        const auto m = m_curveMinutes.constFind(s.info.id);
        return m == m_curveMinutes.constEnd() ? QVariant() : QVariant(oneDecimal(*m));
    }
    switch (role) {
    case Qt::DisplayRole: return CellColumnText(s, index.column());
    case SortRole: return CellSortKey(s, index.column());
    case IdRole: return s.info.id;
    case Qt::TextAlignmentRole:
        return isNumericCellColumn(index.column()) ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    default: return {};
    }
}

QVariant CellTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case CellGradeColumn: return GradeColumnTitle();
    case CellCurveColumn: return CurveColumnTitle();
    default: return CellColumnTitle(section);
    }
}

// ---- runs ----

int BayOfColumn(int column)
{
    if (column < RunFirstBay || column >= RunColumnCount)
        return 0;
    return (column - RunFirstBay) / 2 + 1;
}

bool IsLabelColumn(int column)
{
    return BayOfColumn(column) != 0 && (column - RunFirstBay) % 2 == 0;
}

int LabelColumn(int bay)
{
    return RunFirstBay + 2 * (bay - 1);
}

int CapacityColumn(int bay)
{
    return LabelColumn(bay) + 1;
}

QString RunColumnTitle(int column)
{
    switch (column) {
    case RunWhen: return QStringLiteral("日時");
    case RunSource: return QStringLiteral("出典");
    case RunTimeUnit: return QStringLiteral("時間軸");
    default: break;
    }
    const int bay = BayOfColumn(column);
    if (bay == 0)
        return QString();
    const QString name = QStringLiteral("Bat%1").arg(bay);
    return IsLabelColumn(column) ? name : name + QStringLiteral("(mAh)");
}

void RunTableModel::setRows(QList<RunRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int RunTableModel::rowOf(qint64 runId) const
{
    for (qsizetype i = 0; i < m_rows.size(); ++i)
        if (m_rows.at(i).id == runId)
            return int(i);
    return -1;
}

int RunTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int RunTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : RunColumnCount;
}

QVariant RunTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const RunRow &r = m_rows.at(index.row());
    const int column = index.column();
    if (role == IdRole)
        return r.id;
    const int bay = BayOfColumn(column);
    const BayFigures *b = bay ? &r.bays[bay - 1] : nullptr;
    if (role == Qt::TextAlignmentRole)
        return (b && !IsLabelColumn(column)) ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != SortRole)
        return {};
    switch (column) {
    case RunWhen: return role == SortRole ? QVariant(r.when) : QVariant(DateText(r.when));
    case RunSource: return r.source;
    case RunTimeUnit:
        return role == SortRole ? QVariant(r.parameters.Htime) : QVariant(analysis::TimeUnitText(r.parameters.Htime));
    default: break;
    }
    if (!b)
        return {};
    if (IsLabelColumn(column))
        return b->present || role == SortRole ? QVariant(b->label) : QVariant();
    if (!b->present)
        return {};
    return role == SortRole ? QVariant(b->capacity) : QVariant(oneDecimal(b->capacity));
}

QVariant RunTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return RunColumnTitle(section);
}

Qt::ItemFlags RunTableModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.row() < m_rows.size() && IsLabelColumn(index.column())
        && m_rows.at(index.row()).bays[BayOfColumn(index.column()) - 1].present)
        f |= Qt::ItemIsEditable;
    return f;
}

bool RunTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    RunRow &r = m_rows[index.row()];
    const int bay = BayOfColumn(index.column());
    BayFigures &b = r.bays[bay - 1];
    const QString label = value.toString().trimmed();
    if (label == b.label)
        return false;
    b.label = label;
    emit dataChanged(index, index);
    emit bayLabelEdited(r.id, bay, label);
    return true;
}

// ---- sorting and filtering ----

ValueSortProxy::ValueSortProxy(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    setSortRole(SortRole);
    setSortCaseSensitivity(Qt::CaseInsensitive);
}

bool ValueSortProxy::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const QVariant l = left.data(sortRole());
    const QVariant r = right.data(sortRole());
    const bool lMissing = !l.isValid() || l.isNull();
    const bool rMissing = !r.isValid() || r.isNull();
    if (lMissing || rMissing)
        return lMissing && !rMissing;
    if (l.userType() == QMetaType::QString && r.userType() == QMetaType::QString)
        return QString::compare(l.toString(), r.toString(), Qt::CaseInsensitive) < 0;
    return QVariant::compare(l, r) == QPartialOrdering::Less;
}

void CellFilterProxy::setFilterText(const QString &text)
{
    const QString t = text.trimmed();
    if (t == m_text)
        return;
    m_text = t;
    invalidateFilter();
}

void CellFilterProxy::setShowRetired(bool show)
{
    if (show == m_showRetired)
        return;
    m_showRetired = show;
    invalidateFilter();
}

void CellFilterProxy::setGradeFilter(std::optional<Grade> grade)
{
    if (grade == m_grade)
        return;
    m_grade = grade;
    invalidateFilter();
}

bool CellFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    const auto *cells = qobject_cast<const CellTableModel *>(sourceModel());
    if (!cells || sourceRow >= cells->rows().size())
        return true;
    const CellInfo &info = cells->rows().at(sourceRow).info;
    if (info.state == CellState::Retired && !m_showRetired)
        return false;
    if (m_grade && cells->grade(sourceRow) != *m_grade)
        return false;
    if (m_text.isEmpty())
        return true;
    for (const QString *field : {&info.label, &info.model, &info.memo})
        if (field->contains(m_text, Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace library
