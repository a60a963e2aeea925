// Finding the newest discharge table in the log, splitting rows, reading numbers.
#include "analysis/DischargeTable.h"
#include "core/LogLines.h"

#include <QLocale>
#include <QSet>
#include <QtTest>

using analysis::TDischargeTable;

namespace {

// Lines from text, CR LF separated as in a saved log.
ByteLines linesOf(const QByteArrayList &lines)
{
    return ByteLines(QList<QByteArray>(lines.begin(), lines.end()));
}

// Records every line index that is read.
class CountingLines : public LineSource
{
public:
    explicit CountingLines(QList<QByteArray> lines)
        : m_lines(std::move(lines))
    { }
    int lineCount() const override { return int(m_lines.size()); }
    QByteArray line(int i) const override
    {
        m_read.insert(i);
        ++m_reads;
        return m_lines.at(i);
    }
    mutable QSet<int> m_read;
    mutable int m_reads = 0;

private:
    QList<QByteArray> m_lines;
};

const QByteArray H = "Bat-V Bat1 Bat2 Bat3 Bat4";

} // namespace

class TestDischargeTable : public QObject
{
    Q_OBJECT
private slots:
    void extract_data();
    void extract();
    void extractReplacesPreviousContent();
    void extractFromSplitText();
    void extractReadsOnlyNeededLines_data();
    void extractReadsOnlyNeededLines();
    void split_data();
    void split();
    void voltage_data();
    void voltage();
    void voltageError_data();
    void voltageError();
    void voltageIgnoresLocale_data();
    void voltageIgnoresLocale();
    void time_data();
    void time();
    void convert_data();
    void convert();
    void convertStopsBeforeProducingAnything();
};

void TestDischargeTable::extract_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QByteArrayList>("rows");

    const QByteArray r1 = "1.30V 10 11 12 13";
    const QByteArray r2 = "1.20V 20 21 22 23";
    const QByteArray r3 = "1.10V 30 31 32 33";
    const QByteArray r4 = "1.00V 40 41 42 43";

    QTest::newRow("empty pane") << QByteArrayList{} << QByteArrayList{};
    QTest::newRow("one table") << QByteArrayList{"start", H, r1, r2} << QByteArrayList{r1, r2};
    QTest::newRow("two dumps: the second wins")
        << QByteArrayList{H, r1, r2, "", "other output", H, r3, r4, "after"} << QByteArrayList{r3, r4};
    QTest::newRow("header with trailing space is no header; date stamp first")
        << QByteArrayList{"2006/03/02 07:05", H + " ", r1, r2} << QByteArrayList{};
    // Without a real header the rows come from the top, and "Bat-V ..." itself
    // passes the row test.
    QTest::newRow("header with trailing space; rows from the top")
        << QByteArrayList{r1, r2, H + " ", r3} << QByteArrayList{r1, r2, H + " ", r3};
    QTest::newRow("header with a leading blank is no header") << QByteArrayList{"x", " " + H, r1} << QByteArrayList{};
    QTest::newRow("comment line ends the table")
        << QByteArrayList{H, r1, r2, "memo: cell 3 hot", r3} << QByteArrayList{r1, r2};
    QTest::newRow("wrapped continuation ends the table")
        << QByteArrayList{H, r1, "1.20V 20 21 22", "23 extra", r3} << QByteArrayList{r1, "1.20V 20 21 22"};
    QTest::newRow("comma-only row is no row") << QByteArrayList{H, "1.10V,12,30,41,50", r1} << QByteArrayList{};
    QTest::newRow("row with two commas is a row")
        << QByteArrayList{H, "1.10V 12,,30 41"} << QByteArrayList{"1.10V 12,,30 41"};
    QTest::newRow("line of five bytes ends the table") << QByteArrayList{H, r1, "1.2V", r2} << QByteArrayList{r1};
    QTest::newRow("header on the last line gives nothing") << QByteArrayList{r1, r2, H} << QByteArrayList{};
    QTest::newRow("no header: rows from the top") << QByteArrayList{r1, r2, "end", r3} << QByteArrayList{r1, r2};
    QTest::newRow("lower-case header is no header")
        << QByteArrayList{"bat-v bat1 bat2 bat3 bat4", r1} << QByteArrayList{};
    QTest::newRow("row with Shift-JIS comment after it") << QByteArrayList{H, r1, "1.20V 20 21 22 23 \x83\x81\x83\x82",
        "\x83\x81\x83\x82"} << QByteArrayList{r1, "1.20V 20 21 22 23 \x83\x81\x83\x82"};
}

void TestDischargeTable::extract()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(QByteArrayList, rows);
    TDischargeTable table;
    analysis::ExtractDischargeTable(linesOf(lines), table);
    QCOMPARE(table.rows, QList<QByteArray>(rows.begin(), rows.end()));
    QCOMPARE(table.rowCount, qint32(rows.size()));
}

void TestDischargeTable::extractReplacesPreviousContent()
{
    TDischargeTable table;
    table.rows = {"1.30V 1 2 3 4", "1.20V 5 6 7 8", "1.10V 9 9 9 9"};
    table.rowCount = 3;
    analysis::ExtractDischargeTable(linesOf({H, "1.00V 1 1 1 1"}), table);
    QCOMPARE(table.rowCount, 1);
    QCOMPARE(table.rows, QList<QByteArray>{"1.00V 1 1 1 1"});

    analysis::ExtractDischargeTable(ByteLines(), table);
    QCOMPARE(table.rowCount, 0);
    QVERIFY(table.rows.isEmpty());
}

void TestDischargeTable::extractFromSplitText()
{
    // A saved log: CR LF line ends, closing line break.
    const QByteArray text = "2006/03/02 07:05\r\nBat-V Bat1 Bat2 Bat3 Bat4\r\n1.25V 100 101 102 103\r\n"
                            "1.00V 200 201 202 203\r\n";
    TDischargeTable table;
    analysis::ExtractDischargeTable(ByteLines::fromText(text), table);
    QCOMPARE(table.rowCount, 2);
    QCOMPARE(table.rows.at(1), QByteArray("1.00V 200 201 202 203"));
}

void TestDischargeTable::extractReadsOnlyNeededLines_data()
{
    QTest::addColumn<int>("before"); // other lines above the header
    QTest::addColumn<int>("rowCount");
    QTest::addColumn<int>("after"); // other lines below the table
    QTest::newRow("table at the end of a long log") << 5000 << 100 << 0;
    QTest::newRow("table followed by a few lines") << 5000 << 30 << 7;
    QTest::newRow("header in the middle") << 5000 << 100 << 5000;
}

void TestDischargeTable::extractReadsOnlyNeededLines()
{
    QFETCH(int, before);
    QFETCH(int, rowCount);
    QFETCH(int, after);
    QList<QByteArray> lines;
    for (int i = 0; i < before; ++i)
        lines.append("progress " + QByteArray::number(i));
    const int header = int(lines.size());
    lines.append(H);
    for (int i = 0; i < rowCount; ++i)
        lines.append("1.20V " + QByteArray::number(i) + " 1 2 3");
    for (int i = 0; i < after; ++i)
        lines.append("tail " + QByteArray::number(i));

    CountingLines source(lines);
    TDischargeTable table;
    analysis::ExtractDischargeTable(source, table);
    QCOMPARE(table.rowCount, rowCount);

    // Nothing above the header is touched; below it, each line once for the
    // search, and the rows plus the one line that ends them once more.
    for (int i : source.m_read)
        QVERIFY2(i >= header, qPrintable(QString("line %1 above the header was read").arg(i)));
    QVERIFY2(source.m_reads <= int(lines.size()) - header + rowCount + 1,
        qPrintable(QString("%1 reads").arg(source.m_reads)));
}

void TestDischargeTable::split_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QByteArrayList>("fields");

    QTest::newRow("device row") << QByteArray("1.25V 12 34 56 78") << QByteArrayList{"1.25V", "12", "34", "56", "78"};
    QTest::newRow("runs of blanks and tabs")
        << QByteArray("  1.25V \t 12\t\t34   56") << QByteArrayList{"1.25V", "12", "34", "56"};
    QTest::newRow("control bytes separate") << QByteArray("a\x01"
                                                          "b\x1f"
                                                          "c")
                                            << QByteArrayList{"a", "b", "c"};
    QTest::newRow("DEL does not separate") << QByteArray("a\x7f"
                                                         "b c")
                                           << QByteArrayList{"a\x7f"
                                                             "b",
                                                  "c"};
    QTest::newRow("two commas enclose an empty field")
        << QByteArray("1.10V 12,,30 41") << QByteArrayList{"1.10V", "12", "", "30", "41"};
    QTest::newRow("blanks around a comma") << QByteArray("1.10V ,  12 , 34") << QByteArrayList{"1.10V", "12", "34"};
    QTest::newRow("blanks between two commas") << QByteArray("a , , b") << QByteArrayList{"a", "", "b"};
    QTest::newRow("comma at the end adds none") << QByteArray("1.10V 12,") << QByteArrayList{"1.10V", "12"};
    QTest::newRow("comma and blanks at the end") << QByteArray("1.10V 12 , ") << QByteArrayList{"1.10V", "12"};
    QTest::newRow("comma at the start gives an empty field") << QByteArray(",12") << QByteArrayList{"", "12"};
    QTest::newRow("comma only") << QByteArray(",") << QByteArrayList{""};
    QTest::newRow("two commas only") << QByteArray(",,") << QByteArrayList{"", ""};
    QTest::newRow("empty") << QByteArray("") << QByteArrayList{};
    QTest::newRow("blanks only") << QByteArray(" \t ") << QByteArrayList{};
    QTest::newRow("quoted field with blanks and a comma")
        << QByteArray("\"1.2 ,x\" 5") << QByteArrayList{"1.2 ,x", "5"};
    QTest::newRow("doubled quotes stand for one")
        << QByteArray("\"say \"\"hi\"\"\",7") << QByteArrayList{"say \"hi\"", "7"};
    QTest::newRow("empty quoted field") << QByteArray("\"\" 7") << QByteArrayList{"", "7"};
    QTest::newRow("text right after a closing quote starts a field")
        << QByteArray("\"ab\"cd e") << QByteArrayList{"ab", "cd", "e"};
    QTest::newRow("unclosed quote runs to the end") << QByteArray("1 \"ab c") << QByteArrayList{"1", "ab c"};
    QTest::newRow("quote inside a plain field is a plain byte")
        << QByteArray("ab\"c d") << QByteArrayList{"ab\"c", "d"};
    QTest::newRow("full-width space is no separator") << QByteArray("a\x81\x40"
                                                                    "b c")
                                                      << QByteArrayList{"a\x81\x40"
                                                                        "b",
                                                             "c"};
    QTest::newRow("lead byte keeps a comma after it") << QByteArray("\x82,x y") << QByteArrayList{"\x82,x", "y"};
    QTest::newRow("lead byte keeps a blank after it") << QByteArray("\xe0 x y") << QByteArrayList{"\xe0 x", "y"};
    QTest::newRow("lead byte keeps a quote inside a quoted field")
        << QByteArray("\"\x82\"x\" y") << QByteArrayList{"\x82\"x", "y"};
    QTest::newRow("half-width katakana is single-byte") << QByteArray("\xb1,\xb2") << QByteArrayList{"\xb1", "\xb2"};
    QTest::newRow("lead byte at the very end") << QByteArray("a \x82") << QByteArrayList{"a", "\x82"};
    QTest::newRow("more than five fields are all split")
        << QByteArray("1.0V 1 2 3 4 5 6") << QByteArrayList{"1.0V", "1", "2", "3", "4", "5", "6"};
}

void TestDischargeTable::split()
{
    QFETCH(QByteArray, row);
    QFETCH(QByteArrayList, fields);
    QCOMPARE(analysis::SplitFields(row), QList<QByteArray>(fields.begin(), fields.end()));
}

void TestDischargeTable::voltage_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<double>("volts");
    QTest::newRow("device format") << QByteArray("1.25V 1 2 3 4") << 1.25;
    QTest::newRow("low level") << QByteArray("0.95V 1 2 3 4") << 0.95;
    QTest::newRow("only four bytes are read") << QByteArray("1.2345V 1") << 1.23;
    QTest::newRow("four digits") << QByteArray("12345 V") << 1234.0;
    QTest::newRow("short field is read whole") << QByteArray("1.5 V 1 2") << 1.5;
    QTest::newRow("sign") << QByteArray("-1.2V 1") << -1.2;
    QTest::newRow("quoted field") << QByteArray("\"1.30\"V 1") << 1.30;
    QTest::newRow("leading blanks inside quotes") << QByteArray("\" 1.3\"V") << 1.3;
}

void TestDischargeTable::voltage()
{
    QFETCH(QByteArray, row);
    QFETCH(double, volts);
    QCOMPARE(analysis::FieldVoltage(analysis::SplitFields(row)), volts);
}

void TestDischargeTable::voltageError_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QString>("message");
    QTest::newRow("header text") << QByteArray("Bat-V Bat1") << QString("'Bat-' は浮動小数点数ではありません");
    QTest::newRow("letter among digits") << QByteArray("1.a5V 1 2") << QString("'1.a5' は浮動小数点数ではありません");
    QTest::newRow("unit inside the four bytes")
        << QByteArray("1.5V 1 2") << QString("'1.5V' は浮動小数点数ではありません");
    QTest::newRow("decimal comma") << QByteArray("\"1,25\"V 1") << QString("'1,25' は浮動小数点数ではありません");
    QTest::newRow("two points") << QByteArray("1..2V") << QString("'1..2' は浮動小数点数ではありません");
    QTest::newRow("no digits") << QByteArray("+.  V") << QString("'+.' は浮動小数点数ではありません");
    QTest::newRow("not a number word") << QByteArray("nan V 1") << QString("'nan' は浮動小数点数ではありません");
    QTest::newRow("empty first field") << QByteArray(",1.2V 1") << QString("'' は浮動小数点数ではありません");
    QTest::newRow("Shift-JIS text") << QByteArray("\x93\x64\x88\xb3V 1")
                                    << QString("'電圧' は浮動小数点数ではありません");
}

void TestDischargeTable::voltageError()
{
    QFETCH(QByteArray, row);
    QFETCH(QString, message);
    try {
        const double v = analysis::FieldVoltage(analysis::SplitFields(row));
        QFAIL(qPrintable(QString("read as %1").arg(v)));
    } catch (const analysis::VoltageFormatError &e) {
        QCOMPARE(QString::fromUtf8(e.what()), message);
    }
}

void TestDischargeTable::voltageIgnoresLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany);
    QTest::newRow("French") << QLocale(QLocale::French, QLocale::France);
    QTest::newRow("Japanese") << QLocale(QLocale::Japanese, QLocale::Japan);
}

void TestDischargeTable::voltageIgnoresLocale()
{
    QFETCH(QLocale, locale);
    const QLocale saved;
    QLocale::setDefault(locale);
    const double v = analysis::FieldVoltage(analysis::SplitFields("1.25V 1 2 3 4"));
    bool threw = false;
    try {
        analysis::FieldVoltage(analysis::SplitFields("\"1,25\"V"));
    } catch (const analysis::VoltageFormatError &) {
        threw = true;
    }
    QLocale::setDefault(saved);
    QCOMPARE(v, 1.25);
    QVERIFY2(threw, "a decimal comma was accepted");
}

void TestDischargeTable::time_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("count");
    QTest::newRow("first cell") << QByteArray("1.2V 12 34 56 78") << 0 << 12;
    QTest::newRow("fourth cell") << QByteArray("1.2V 12 34 56 78") << 3 << 78;
    QTest::newRow("empty field between commas") << QByteArray("1.10V 12,,30 41") << 1 << 0;
    QTest::newRow("field after the empty one") << QByteArray("1.10V 12,,30 41") << 2 << 30;
    QTest::newRow("missing field") << QByteArray("1.2V 12 34") << 2 << 0;
    QTest::newRow("not a number") << QByteArray("1.2V 12 abc") << 1 << 0;
    QTest::newRow("trailing letter") << QByteArray("1.2V 12x") << 0 << 0;
    QTest::newRow("decimal fraction") << QByteArray("1.2V 1.5") << 0 << 0;
    QTest::newRow("hex is not decimal") << QByteArray("1.2V 0x1F") << 0 << 0;
    QTest::newRow("negative") << QByteArray("1.2V -5") << 0 << -5;
    QTest::newRow("plus sign") << QByteArray("1.2V +7") << 0 << 7;
    QTest::newRow("largest 32-bit") << QByteArray("1.2V 2147483647") << 0 << 2147483647;
    QTest::newRow("beyond 32 bits") << QByteArray("1.2V 2147483648") << 0 << 0;
    QTest::newRow("quoted number") << QByteArray("1.2V \"255\"") << 0 << 255;
}

void TestDischargeTable::time()
{
    QFETCH(QByteArray, row);
    QFETCH(int, column);
    QFETCH(int, count);
    QCOMPARE(analysis::FieldTime(analysis::SplitFields(row), column), count);
}

void TestDischargeTable::convert_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<double>("volts");
    QTest::addColumn<int>("cells");
    QTest::addColumn<QList<int>>("times");
    QTest::newRow("four cells") << QByteArray("1.20V 1 2 3 4") << 1.2 << 4 << QList<int>{1, 2, 3, 4};
    QTest::newRow("three time fields") << QByteArray("1.20V 1 2 3") << 1.2 << 3 << QList<int>{1, 2, 3};
    QTest::newRow("voltage only") << QByteArray("1.20V") << 1.2 << 0 << QList<int>{};
    QTest::newRow("extra fields ignored") << QByteArray("1.20V 1 2 3 4 5 6") << 1.2 << 4 << QList<int>{1, 2, 3, 4};
    QTest::newRow("two commas") << QByteArray("1.10V 12,,30 41") << 1.1 << 4 << QList<int>{12, 0, 30, 41};
}

void TestDischargeTable::convert()
{
    QFETCH(QByteArray, row);
    QFETCH(double, volts);
    QFETCH(int, cells);
    QFETCH(QList<int>, times);
    TDischargeTable table;
    table.rows = {row};
    table.rowCount = 1;
    const QList<analysis::TableRow> rows = analysis::ConvertTable(table);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.at(0).voltage, volts);
    QCOMPARE(rows.at(0).cellCount, cells);
    for (int j = 0; j < cells; ++j)
        QCOMPARE(rows.at(0).times[j], times.at(j));
}

void TestDischargeTable::convertStopsBeforeProducingAnything()
{
    TDischargeTable table;
    table.rows = {"1.20V 1 2 3 4", "1.x0V 5 6 7 8", "1.00V 9 9 9 9"};
    table.rowCount = 3;
    QList<analysis::TableRow> result;
    try {
        result = analysis::ConvertTable(table);
        QFAIL("the bad row was accepted");
    } catch (const analysis::VoltageFormatError &e) {
        QCOMPARE(QString::fromUtf8(e.what()), QString("'1.x0' は浮動小数点数ではありません"));
    }
    QVERIFY(result.isEmpty());
}

QTEST_GUILESS_MAIN(TestDischargeTable)
#include "tst_dischargetable.moc"
