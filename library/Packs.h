#pragma once
// The packs cells are built into: what 組込み記録 keeps of a pack beside its
// cells' state (when it was built and its planned capacity, in the library's
// settings under PackKey), each pack as the 組電池 tab lists it, and that
// list's model. No database and no widgets here.
#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace library {

// What is kept of a pack when it is recorded.
struct PackFacts {
    QDateTime built; // invalid: not known
    std::optional<double> capacityMah; // the planned pack's capacity (its weakest group)
};

// "pack:<name>", the settings key of a pack's facts.
QString PackKey(const QString &name);
// The facts as the settings hold them, and back; a text that is none gives no facts.
QString PackFactsText(const PackFacts &facts);
PackFacts ParsePackFacts(const QString &text);

// One pack: the cells built into it (by label) and what was kept of it; a
// pack recorded before its facts were kept has none.
struct PackRow {
    QString name;
    QList<qint64> cellIds; // in the order of their labels
    QStringList labels;
    PackFacts facts;
};

// The columns of the 組電池 tab and their titles: "名前", "組込み日", "セル数", "セル", "容量(mAh)".
enum PackColumn { PackName, PackBuilt, PackCellCount, PackCells, PackCapacity, PackColumnCount };
QString PackColumnTitle(int column);

class PackTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void setRows(QList<PackRow> rows);
    const QList<PackRow> &rows() const { return m_rows; }
    // The row of the pack of that name, or -1.
    int rowOf(const QString &name) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    // Texts as shown ("yyyy/MM/dd HH:mm", one decimal, labels by blanks, "―" for what
    // is not known); SortRole sorts numbers as numbers and dates as dates.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<PackRow> m_rows;
};

} // namespace library
