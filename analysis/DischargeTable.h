#pragma once
// The discharge table that the discharger dumps into the log: finding the most
// recent one, splitting its rows into fields and converting them to numbers.
#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <stdexcept>
#include <string>

class LineSource;

namespace analysis {

// The header line the discharger prints before its rows, byte for byte.
extern const QByteArray TableHeader;

struct TDischargeTable {
    QList<QByteArray> rows; // whole row lines, exactly as they stood in the log
    qint32 rowCount = 0;
};

// The last extracted table; overwritten by every draw command.
extern TDischargeTable DischargeTable;

// Replaces the table's content with the rows of the most recent table in the
// lines: those after the last header line (or from the top when there is none)
// up to the first line that is not a row. Reads only the lines it needs.
void ExtractDischargeTable(const LineSource &lines, TDischargeTable &table);

// A row has "V " as its 5th and 6th bytes.
bool IsTableRow(const QByteArray &line);

// A line that begins with a date stamp as the clear command writes it,
// "yyyy/MM/dd HH:mm" (month 1-12, day 1-31, hour 0-23, minute 0-59).
bool BeginsWithDateStamp(const QByteArray &line);

// One discharge table as found in the log.
struct FoundTable {
    int headerLine = -1; // index of the header line; -1 for rows taken from the top
    QByteArray stamp; // the date stamp of the nearest stamped line above, or empty
    QList<QByteArray> rows; // whole row lines
};

// Every table in the lines, oldest first, by the rules of ExtractDischargeTable:
// each header line starts a table whose rows are the row lines right after it.
// When there is no header at all, the row lines from the top (if any) are the
// one table, as the extraction takes them. So the last table found is exactly
// what ExtractDischargeTable takes, unless that is empty without a header.
// One pass over the lines.
QList<FoundTable> FindAllTables(const LineSource &lines);

// Splits a row into fields: runs of bytes 1..32 and/or one comma separate
// (blanks around a comma are skipped, two commas enclose an empty field, a
// comma at the end adds none); a field starting with a double quote runs to the
// closing quote, a doubled quote standing for one; the two bytes of a Shift-JIS
// double-byte character are never taken apart.
QList<QByteArray> SplitFields(const QByteArray &row);

// Thrown when a row's voltage field is not a decimal number; the message
// (UTF-8) names the bytes that were read.
class VoltageFormatError : public std::runtime_error
{
public:
    explicit VoltageFormatError(const std::string &utf8Message)
        : std::runtime_error(utf8Message)
    { }
};

// The voltage of a row: the first four bytes of field 0 read as a decimal number
// with "." as the decimal point, whatever the locale. Throws VoltageFormatError.
double FieldVoltage(const QList<QByteArray> &fields);

// The time count of cell column j (0..3): field j+1 as a decimal integer, 0 when
// it is missing or not an integer.
qint32 FieldTime(const QList<QByteArray> &fields, int column);

// One row converted to numbers.
struct TableRow {
    double voltage = 0.0;
    int cellCount = 0; // columns present: min(fields - 1, 4)
    qint32 times[4] = {0, 0, 0, 0};
};

// Converts every row, or throws VoltageFormatError at the first bad voltage
// without having produced anything.
QList<TableRow> ConvertTable(const TDischargeTable &table);

} // namespace analysis
