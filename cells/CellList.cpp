#include "cells/CellList.h"
#include "core/LogFile.h"
#include "core/SafeWrite.h"

#include "core/SjisText.h"

#include <QFile>
#include <QFileInfo>

#include <stdexcept>

namespace cells {

TableFigures FiguresOf(const QList<analysis::TableRow> &rows, const analysis::CapacityParameters &p)
{
    TableFigures f;
    for (const analysis::TableRow &row : rows)
        f.cellCount = qMax(f.cellCount, qMin(row.cellCount, 4));
    analysis::EstimateCapacities(rows, p, f.capacity);

    double voltageCounts[4];
    analysis::IntegrateOverTime(
        rows, [](double v) { return v; }, 1.0, voltageCounts);
    for (const analysis::TableRow &row : rows) {
        for (int j = 0; j < row.cellCount && j < 4; ++j)
            f.lastTime[j] = row.times[j];
    }
    for (int j = 0; j < 4; ++j) {
        f.hasMeanVoltage[j] = f.lastTime[j] != 0;
        f.meanVoltage[j] = f.hasMeanVoltage[j] ? voltageCounts[j] / f.lastTime[j] : 0.0;
    }
    return f;
}

QList<QPointF> CurveOfCell(const QList<analysis::TableRow> &rows, int cell)
{
    QList<QPointF> curve;
    for (const analysis::TableRow &row : rows) {
        if (cell < row.cellCount)
            curve.append(QPointF(row.times[cell], row.voltage));
    }
    return curve;
}

QString CellSources::LogPaneName()
{
    return QStringLiteral("通信データ");
}

void CellSources::setLog(const LineSource &lines)
{
    m_log = analysis::FindAllTables(lines);
}

void CellSources::addFile(const QString &path)
{
    Source s;
    s.path = QFileInfo(path).absoluteFilePath();
    s.name = QFileInfo(path).fileName();
    s.tables = analysis::FindAllTables(ReadLogFileLines(path));
    for (Source &existing : m_files) {
        if (existing.path == s.path) {
            existing = std::move(s);
            return;
        }
    }
    m_files.append(std::move(s));
}

CellSources::Result CellSources::cells(const analysis::CapacityParameters &p) const
{
    Result result;
    const QString unit = analysis::TimeUnitText(p.Htime);
    int number = 0;
    const auto addTables = [&](const QString &name, const QList<analysis::FoundTable> &tables) {
        for (const analysis::FoundTable &found : tables) {
            ++number;
            analysis::TDischargeTable table;
            table.rows = found.rows;
            table.rowCount = qint32(found.rows.size());
            QList<analysis::TableRow> rows;
            try {
                rows = analysis::ConvertTable(table);
            } catch (const analysis::VoltageFormatError &e) {
                result.problems.append(
                    QStringLiteral("No.%1 (%2): %3").arg(number).arg(name, QString::fromUtf8(e.what())));
                continue;
            }
            const TableFigures f = FiguresOf(rows, p);
            const QString stamp = QString::fromLatin1(found.stamp);
            for (int j = 0; j < f.cellCount; ++j) {
                CellRow c;
                c.table = number;
                c.stamp = stamp;
                c.source = name;
                c.cell = j + 1;
                c.capacity = f.capacity[j];
                c.hasMeanVoltage = f.hasMeanVoltage[j];
                c.meanVoltage = f.meanVoltage[j];
                c.lastTime = f.lastTime[j];
                c.timeUnit = unit;
                c.curve = CurveOfCell(rows, j);
                result.rows.append(std::move(c));
            }
        }
    };
    for (const Source &s : m_files)
        addTables(s.name, s.tables);
    addTables(LogPaneName(), m_log);
    return result;
}

QString ColumnTitle(int column)
{
    switch (column) {
    case ColumnNo: return QStringLiteral("No.");
    case ColumnStamp: return QStringLiteral("日時");
    case ColumnSource: return QStringLiteral("出典");
    case ColumnCell: return QStringLiteral("セル");
    case ColumnCapacity: return QStringLiteral("容量(mAh)");
    case ColumnMeanVoltage: return QStringLiteral("平均電圧(V)");
    case ColumnTime: return QStringLiteral("放電時間");
    default: return QString();
    }
}

QString CellText(const CellRow &row, int column)
{
    // QString::number always writes "." and no group separators.
    switch (column) {
    case ColumnNo: return QString::number(row.table);
    case ColumnStamp: return row.stamp;
    case ColumnSource: return row.source;
    case ColumnCell: return QString::number(row.cell);
    case ColumnCapacity: return QString::number(row.capacity, 'f', 1);
    case ColumnMeanVoltage: return row.hasMeanVoltage ? QString::number(row.meanVoltage, 'f', 3) : QString();
    case ColumnTime: return QString::number(row.lastTime) + QLatin1Char(' ') + row.timeUnit;
    default: return QString();
    }
}

QVariant SortKey(const CellRow &row, int column)
{
    switch (column) {
    case ColumnNo: return row.table;
    case ColumnCell: return row.cell;
    case ColumnCapacity: return row.capacity;
    // No mean voltage sorts below every value.
    case ColumnMeanVoltage: return row.hasMeanVoltage ? row.meanVoltage : -1.0;
    case ColumnTime: return row.lastTime;
    default: return CellText(row, column);
    }
}

QByteArray CsvRecord(const QStringList &fields)
{
    QByteArray out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += ',';
        QString f = fields.at(i);
        if (f.contains(QLatin1Char(',')) || f.contains(QLatin1Char('"')) || f.contains(QLatin1Char('\n'))
            || f.contains(QLatin1Char('\r'))) {
            f.replace(QLatin1String("\""), QLatin1String("\"\""));
            f = QLatin1Char('"') + f + QLatin1Char('"');
        }
        out += f.toUtf8();
    }
    out += "\r\n";
    return out;
}

QByteArray CsvText(const QList<CellRow> &rows)
{
    QStringList fields;
    for (int c = 0; c < ColumnCount; ++c)
        fields.append(ColumnTitle(c));
    QByteArray out = CsvRecord(fields);
    for (const CellRow &row : rows) {
        fields.clear();
        for (int c = 0; c < ColumnCount; ++c)
            fields.append(CellText(row, c));
        out += CsvRecord(fields);
    }
    return out;
}

void WriteCsv(const QString &path, const QList<CellRow> &rows)
{
    safewrite::WriteFile(path, QByteArray("\xEF\xBB\xBF") + CsvText(rows));
}

void CellListModel::setRows(QList<CellRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int CellListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CellListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CellListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const CellRow &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole: return CellText(row, index.column());
    case SortRole: return SortKey(row, index.column());
    case Qt::TextAlignmentRole: {
        const int c = index.column();
        const bool number
            = c == ColumnNo || c == ColumnCell || c == ColumnCapacity || c == ColumnMeanVoltage || c == ColumnTime;
        return QVariant::fromValue(Qt::Alignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    default: return {};
    }
}

QVariant CellListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return ColumnTitle(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

} // namespace cells
