#include "analysis/DischargeTable.h"

#include "core/LogLines.h"
#include "core/SjisText.h"

namespace analysis {

const QByteArray TableHeader("Bat-V Bat1 Bat2 Bat3 Bat4");

TDischargeTable DischargeTable;

void ExtractDischargeTable(const LineSource &lines, TDischargeTable &table)
{
    table.rows.clear();
    table.rowCount = 0;

    const int n = lines.lineCount();
    if (n <= 0)
        return;

    // The newest table wins, so look for its header from the bottom up.
    const int start = lines.lastLineEqualTo(TableHeader, n) + 1;

    for (int i = start; i < n; ++i) {
        QByteArray line = lines.line(i);
        if (!IsTableRow(line))
            break;
        table.rows.append(std::move(line));
        ++table.rowCount;
    }
}

bool IsTableRow(const QByteArray &line)
{
    return line.size() >= 6 && line.at(4) == 'V' && line.at(5) == ' ';
}

bool BeginsWithDateStamp(const QByteArray &line)
{
    // yyyy/MM/dd HH:mm
    static const char pattern[] = "dddd/dd/dd dd:dd";
    constexpr int length = sizeof(pattern) - 1;
    if (line.size() < length)
        return false;
    for (int i = 0; i < length; ++i) {
        const char c = line.at(i);
        if (pattern[i] == 'd' ? (c < '0' || c > '9') : c != pattern[i])
            return false;
    }
    const auto number = [&line](int at) { return (line.at(at) - '0') * 10 + (line.at(at + 1) - '0'); };
    const int month = number(5), day = number(8), hour = number(11), minute = number(14);
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59;
}

QList<FoundTable> FindAllTables(const LineSource &lines)
{
    QList<FoundTable> tables;
    QByteArray stamp;
    bool inRows = true; // rows at the very top count while no header is seen
    bool headerSeen = false;
    FoundTable top; // those rows
    lines.scanLines([&](int i, const QByteArray &line) {
        if (line == TableHeader) {
            headerSeen = true;
            inRows = true;
            FoundTable t;
            t.headerLine = i;
            t.stamp = stamp;
            tables.append(std::move(t));
            return;
        }
        if (inRows) {
            if (IsTableRow(line)) {
                (headerSeen ? tables.last() : top).rows.append(line);
                return;
            }
            inRows = false;
        }
        if (BeginsWithDateStamp(line))
            stamp = line.left(16);
    });
    if (!headerSeen && !top.rows.isEmpty())
        tables.append(std::move(top));
    return tables;
}

namespace {

inline bool isBlank(char c)
{
    const unsigned char b = static_cast<unsigned char>(c);
    return b >= 1 && b <= 32;
}

// Length of the character starting at p: 2 for a Shift-JIS lead byte that has
// a byte after it, else 1.
inline qsizetype charLength(const QByteArray &s, qsizetype p)
{
    return (sjis::isLeadByte(static_cast<unsigned char>(s.at(p))) && p + 1 < s.size()) ? 2 : 1;
}

// Reads the quoted field that starts at s[p] == '"'; leaves p after the closing
// quote, or at the end when the quote is never closed.
QByteArray readQuoted(const QByteArray &s, qsizetype &p)
{
    QByteArray out;
    ++p;
    while (p < s.size()) {
        if (s.at(p) == '"') {
            if (p + 1 < s.size() && s.at(p + 1) == '"') {
                out.append('"');
                p += 2;
                continue;
            }
            ++p;
            return out;
        }
        const qsizetype len = charLength(s, p);
        out.append(s.constData() + p, len);
        p += len;
    }
    return out;
}

} // namespace

QList<QByteArray> SplitFields(const QByteArray &row)
{
    QList<QByteArray> fields;
    const qsizetype n = row.size();
    qsizetype p = 0;
    while (p < n && isBlank(row.at(p)))
        ++p;
    while (p < n) {
        if (row.at(p) == '"') {
            fields.append(readQuoted(row, p));
        } else {
            const qsizetype begin = p;
            while (p < n && !isBlank(row.at(p)) && row.at(p) != ',')
                p += charLength(row, p);
            fields.append(row.mid(begin, p - begin));
        }
        while (p < n && isBlank(row.at(p)))
            ++p;
        // One comma ends the field; the blanks after it belong to no field.
        if (p < n && row.at(p) == ',') {
            ++p;
            while (p < n && isBlank(row.at(p)))
                ++p;
        }
    }
    return fields;
}

namespace {

// Accepts blanks, an optional sign, digits with at most one ".", an optional
// exponent and blanks; at least one mantissa digit.
bool parseDecimal(const QByteArray &text, double &value)
{
    qsizetype p = 0;
    const qsizetype n = text.size();
    auto digit = [&](qsizetype i) { return i < n && text.at(i) >= '0' && text.at(i) <= '9'; };
    while (p < n && text.at(p) == ' ')
        ++p;
    const qsizetype numberStart = p;
    if (p < n && (text.at(p) == '+' || text.at(p) == '-'))
        ++p;
    int mantissaDigits = 0;
    while (digit(p)) {
        ++p;
        ++mantissaDigits;
    }
    if (p < n && text.at(p) == '.') {
        ++p;
        while (digit(p)) {
            ++p;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return false;
    if (p < n && (text.at(p) == 'e' || text.at(p) == 'E')) {
        ++p;
        if (p < n && (text.at(p) == '+' || text.at(p) == '-'))
            ++p;
        if (!digit(p))
            return false;
        while (digit(p))
            ++p;
    }
    const qsizetype numberEnd = p;
    while (p < n && text.at(p) == ' ')
        ++p;
    if (p != n)
        return false;
    bool ok = false;
    // QByteArray reads "." as the decimal point whatever the user's locale says.
    value = text.mid(numberStart, numberEnd - numberStart).toDouble(&ok);
    return ok;
}

} // namespace

double FieldVoltage(const QList<QByteArray> &fields)
{
    const QByteArray text = fields.isEmpty() ? QByteArray() : fields.first().left(4);
    double v = 0.0;
    if (!parseDecimal(text, v)) {
        const QString message = QStringLiteral("'%1' は浮動小数点数ではありません").arg(sjis::decode(text));
        throw VoltageFormatError(message.toStdString());
    }
    return v;
}

qint32 FieldTime(const QList<QByteArray> &fields, int column)
{
    const int index = column + 1;
    if (column < 0 || index >= fields.size())
        return 0;
    bool ok = false;
    const qint32 t = fields.at(index).toInt(&ok, 10);
    return ok ? t : 0;
}

QList<TableRow> ConvertTable(const TDischargeTable &table)
{
    QList<TableRow> rows;
    rows.reserve(table.rowCount);
    for (qint32 k = 0; k < table.rowCount && k < table.rows.size(); ++k) {
        const QList<QByteArray> fields = SplitFields(table.rows.at(k));
        TableRow row;
        row.voltage = FieldVoltage(fields);
        row.cellCount = int(qBound(qsizetype(0), fields.size() - 1, qsizetype(4)));
        for (int j = 0; j < row.cellCount; ++j)
            row.times[j] = FieldTime(fields, j);
        rows.append(row);
    }
    return rows;
}

} // namespace analysis
