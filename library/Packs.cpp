#include "library/Packs.h"

#include "library/LibraryModels.h"
#include "library/Records.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace library {

QString PackKey(const QString &name)
{
    return QStringLiteral("pack:") + name.trimmed();
}

QString PackFactsText(const PackFacts &facts)
{
    QJsonObject o;
    if (facts.built.isValid())
        o.insert(QStringLiteral("built"), facts.built.toString(Qt::ISODate));
    if (facts.capacityMah)
        o.insert(QStringLiteral("capacity"), *facts.capacityMah);
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

PackFacts ParsePackFacts(const QString &text)
{
    PackFacts facts;
    const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
    facts.built = QDateTime::fromString(o.value(QStringLiteral("built")).toString(), Qt::ISODate);
    if (const QJsonValue c = o.value(QStringLiteral("capacity")); c.isDouble())
        facts.capacityMah = c.toDouble();
    return facts;
}

QString PackColumnTitle(int column)
{
    switch (column) {
    case PackName: return QStringLiteral("名前");
    case PackBuilt: return QStringLiteral("組込み日");
    case PackCellCount: return QStringLiteral("セル数");
    case PackCells: return QStringLiteral("セル");
    case PackCapacity: return QStringLiteral("容量(mAh)");
    default: return QString();
    }
}

void PackTableModel::setRows(QList<PackRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int PackTableModel::rowOf(const QString &name) const
{
    for (int r = 0; r < m_rows.size(); ++r)
        if (m_rows.at(r).name == name)
            return r;
    return -1;
}

int PackTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int PackTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : PackColumnCount;
}

QVariant PackTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const PackRow &p = m_rows.at(index.row());
    if (role == IdRole)
        return p.name;
    if (role == Qt::TextAlignmentRole && (index.column() == PackCellCount || index.column() == PackCapacity))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    const QString unknown = QStringLiteral("―");
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case PackName: return p.name;
        case PackBuilt: return p.facts.built.isValid() ? DateText(p.facts.built) : unknown;
        case PackCellCount: return QString::number(p.labels.size());
        case PackCells: return p.labels.join(QLatin1Char(' '));
        case PackCapacity: return p.facts.capacityMah ? QString::number(*p.facts.capacityMah, 'f', 1) : unknown;
        default: return {};
        }
    }
    if (role == SortRole) {
        switch (index.column()) {
        case PackName: return p.name;
        case PackBuilt: return p.facts.built.isValid() ? QVariant(p.facts.built) : QVariant();
        case PackCellCount: return int(p.labels.size());
        case PackCells: return p.labels.join(QLatin1Char(' '));
        case PackCapacity: return p.facts.capacityMah ? QVariant(*p.facts.capacityMah) : QVariant();
        default: return {};
        }
    }
    return {};
}

QVariant PackTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return PackColumnTitle(section);
    return {};
}

} // namespace library
