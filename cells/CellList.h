#pragma once
// The cell list: every cell of every discharge table in the log and in added
// log files, with its capacity, mean voltage and discharge time; the model the
// list window shows, and the CSV form of the list. No widgets.
#include "analysis/Capacity.h"
#include "analysis/DischargeTable.h"
#include "core/LogLines.h"

#include <QAbstractTableModel>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>

namespace cells {

// One cell of one table.
struct CellRow {
    int table = 0; // the table's number, 1 = oldest
    QString stamp; // "yyyy/MM/dd HH:mm", or empty
    QString source; // the log pane's name or the file's name
    int cell = 0; // 1 to 4
    double capacity = 0.0; // mAh, as the graph window's labels compute it
    bool hasMeanVoltage = false; // false when the cell's last time count is 0
    double meanVoltage = 0.0; // V
    qint32 lastTime = 0; // the cell's last time count
    QString timeUnit; // "分", "10秒" or "秒"
    QList<QPointF> curve; // (time count, voltage) of each row that has the cell
};

// The points a chart draws for cell (0..3): (time count, voltage) of each row that has its column.
QList<QPointF> CurveOfCell(const QList<analysis::TableRow> &rows, int cell);

// The figures of the four cells of one table.
struct TableFigures {
    int cellCount = 0; // columns present in any row
    double capacity[4] = {0, 0, 0, 0};
    bool hasMeanVoltage[4] = {false, false, false, false};
    double meanVoltage[4] = {0, 0, 0, 0};
    qint32 lastTime[4] = {0, 0, 0, 0};
};

// Capacity with the capacity estimate itself; mean voltage by the same
// trapezoid sums with the voltage in place of the current, over time counts,
// divided by the cell's last time count.
TableFigures FiguresOf(const QList<analysis::TableRow> &rows, const analysis::CapacityParameters &p);

// What the list is made of: the log pane's tables and those of added files.
class CellSources
{
public:
    // The name the list gives the log pane as a source.
    static QString LogPaneName();

    // Replaces the log pane's tables with those found in lines.
    void setLog(const LineSource &lines);
    // Reads a log file as the open command reads it and adds its tables; a file
    // added again replaces its earlier tables. Throws std::runtime_error
    // ("ファイル %1 は開けません").
    void addFile(const QString &path);
    int fileCount() const { return int(m_files.size()); }

    struct Result {
        QList<CellRow> rows;
        QStringList problems; // tables left out, with the reason
    };
    // Every cell, files first in the order they were added, then the log pane;
    // tables numbered from 1 across them. A table whose row has a voltage that
    // is not a number is left out (its number is not reused) and named in problems.
    Result cells(const analysis::CapacityParameters &p) const;

private:
    struct Source {
        QString path; // empty for the log pane
        QString name;
        QList<analysis::FoundTable> tables;
    };
    QList<Source> m_files;
    QList<analysis::FoundTable> m_log;
};

enum Column {
    ColumnNo,
    ColumnStamp,
    ColumnSource,
    ColumnCell,
    ColumnCapacity,
    ColumnMeanVoltage,
    ColumnTime,
    ColumnCount
};

// "No.", "日時", "出典", "セル", "容量(mAh)", "平均電圧(V)", "放電時間".
QString ColumnTitle(int column);
// The text the list shows: one decimal for the capacity, three for the mean
// voltage (empty when there is none), "120 分" for the time; "." as the point.
QString CellText(const CellRow &row, int column);
// The value the list sorts by: numbers as numbers.
QVariant SortKey(const CellRow &row, int column);

// One CSV record with CR LF: fields quoted when they hold a comma, a quote or
// a line break, quotes doubled inside.
QByteArray CsvRecord(const QStringList &fields);
// The header record and one record per row, in the given order, as UTF-8 without
// a byte order mark (what a printer to standard output writes).
QByteArray CsvText(const QList<CellRow> &rows);
// The file: a UTF-8 byte order mark, then CsvText. Written beside and renamed
// into place; throws std::runtime_error ("ファイル %1 を作成できません").
void WriteCsv(const QString &path, const QList<CellRow> &rows);

// The rows for a list view; sort by SortRole.
class CellListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int SortRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;

    void setRows(QList<CellRow> rows);
    const QList<CellRow> &rows() const { return m_rows; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<CellRow> m_rows;
};

} // namespace cells
