#include "library/Figures.h"
#include "core/SjisText.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>

#include <cmath>

namespace library {

bool Measurement::operator==(const Measurement &o) const
{
    if (cellId != o.cellId || date != o.date || kind != o.kind)
        return false;
    if (kind == FigureKind::Resistance)
        return resistanceMilliohm == o.resistanceMilliohm;
    return chargedVolts == o.chargedVolts && restedVolts == o.restedVolts && restDays == o.restDays;
}

bool FigureColumns::operator==(const FigureColumns &o) const
{
    return label == o.label && date == o.date && figure == o.figure && value == o.value && header == o.header;
}

QString MeasurementProblem(const Measurement &m)
{
    if (!m.date.isValid())
        return QStringLiteral("日付がありません");
    if (m.kind == FigureKind::Resistance) {
        if (!std::isfinite(m.resistanceMilliohm) || m.resistanceMilliohm <= 0.0
            || m.resistanceMilliohm > MaxResistanceMilliohm)
            return QStringLiteral("内部抵抗は 0 より大きく %1 mΩ 以下です").arg(MaxResistanceMilliohm);
        return QString();
    }
    for (double v : {m.chargedVolts, m.restedVolts}) {
        if (!std::isfinite(v) || v <= 0.0 || v > MaxCellVolts)
            return QStringLiteral("電圧は 0 より大きく %1 V 以下です").arg(MaxCellVolts);
    }
    // No day of rest gives no drop per day.
    if (m.restDays < 1)
        return QStringLiteral("日数は 1 日以上です");
    return QString();
}

QString FigureKindText(FigureKind kind)
{
    return kind == FigureKind::Resistance ? QStringLiteral("内部抵抗(mΩ)") : QStringLiteral("自己放電");
}

QString MeasurementText(const Measurement &m)
{
    if (m.kind == FigureKind::Resistance)
        return QStringLiteral("%1 mΩ").arg(QString::number(m.resistanceMilliohm, 'f', 1));
    return QStringLiteral("%1 V → %2 V / %3 日 (%4 mV/日)")
        .arg(QString::number(m.chargedVolts, 'f', 3), QString::number(m.restedVolts, 'f', 3))
        .arg(m.restDays)
        .arg(QString::number(m.dropMvPerDay(), 'f', 1));
}

std::optional<double> ParseFigureNumber(const QString &text)
{
    // Full-width digits typed with a Japanese input method read as the plain ones.
    const QString t = text.normalized(QString::NormalizationForm_KC).trimmed();
    bool ok = false;
    const double v = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<int> ParseDays(const QString &text)
{
    const QString t = text.normalized(QString::NormalizationForm_KC).trimmed();
    bool ok = false;
    const int v = QLocale::c().toInt(t, &ok);
    if (!ok)
        return std::nullopt;
    return v;
}

QDate ParseFigureDate(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{4})([-/.])(\\d{1,2})\\2(\\d{1,2})(?:[ T]\\d{1,2}:\\d{2}(?::\\d{2})?)?$"));
    static const QRegularExpression compact(QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})$"));
    const QString t = text.normalized(QString::NormalizationForm_KC).trimmed();
    QRegularExpressionMatch m = form.match(t);
    if (m.hasMatch())
        return QDate(m.captured(1).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
    m = compact.match(t);
    if (m.hasMatch())
        return QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    return QDate();
}

QString FigureColumnsText(const FigureColumns &c)
{
    QString text = QStringLiteral("%1,%2,%3,%4").arg(c.label + 1).arg(c.date + 1).arg(c.figure + 1).arg(c.value + 1);
    if (c.header)
        text += QStringLiteral(",header");
    return text;
}

std::optional<FigureColumns> FigureColumnsFromText(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() < 4 || parts.size() > 5)
        return std::nullopt;
    FigureColumns c;
    int *fields[] = {&c.label, &c.date, &c.figure, &c.value};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const int n = parts.at(i).trimmed().toInt(&ok);
        if (!ok || n < 1 || n > MaxFigureColumn)
            return std::nullopt;
        *fields[i] = n - 1;
    }
    c.header = parts.size() == 5;
    if (c.header && parts.at(4).trimmed() != QLatin1String("header"))
        return std::nullopt;
    return c;
}

std::optional<FigureKind> FigureKindFromText(const QString &text)
{
    const QString t = text.normalized(QString::NormalizationForm_KC).trimmed().toLower();
    // NFKC makes the ohm sign a Greek omega, lower case here.
    for (const char *word : {"内部抵抗", "内部抵抗(mω)", "ir", "resistance"}) {
        if (t == QString::fromUtf8(word))
            return FigureKind::Resistance;
    }
    for (const char *word : {"自己放電", "sd", "self-discharge"}) {
        if (t == QString::fromUtf8(word))
            return FigureKind::SelfDischarge;
    }
    return std::nullopt;
}

namespace {

QString DecodeText(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return sjis::decode(bytes);
}

// One CSV record: its fields, the line it starts on and its text as it stood.
struct CsvRecord {
    int line = 0;
    QStringList fields;
    QString text;
};

QList<CsvRecord> SplitRecords(const QString &text)
{
    QList<CsvRecord> out;
    CsvRecord r;
    QString field;
    bool quoted = false, fieldStarted = false;
    int line = 1;
    qsizetype recordStart = 0;
    const auto endRecord = [&](qsizetype at) {
        r.fields.append(field);
        r.text = text.mid(recordStart, at - recordStart);
        // A record of one empty field is an empty line.
        if (!(r.fields.size() == 1 && r.fields.first().trimmed().isEmpty()))
            out.append(r);
        r = CsvRecord();
        field.clear();
        fieldStarted = false;
    };
    r.line = line;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == QLatin1Char('\n'))
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == QLatin1Char('"') && !fieldStarted) {
            quoted = true;
            fieldStarted = true;
        } else if (c == QLatin1Char(',')) {
            r.fields.append(field);
            field.clear();
            fieldStarted = false;
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            endRecord(i);
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            ++line;
            recordStart = i + 1;
            r.line = line;
        } else {
            field += c;
            if (!c.isSpace())
                fieldStarted = true;
        }
    }
    if (!field.isEmpty() || !r.fields.isEmpty())
        endRecord(text.size());
    return out;
}

} // namespace

QString ReadFigureValue(FigureKind kind, const QString &value, Measurement &m)
{
    m.kind = kind;
    if (kind == FigureKind::Resistance) {
        const std::optional<double> r = ParseFigureNumber(value);
        if (!r)
            return QStringLiteral("値が数ではありません");
        m.resistanceMilliohm = *r;
        return MeasurementProblem(m);
    }
    static const QRegularExpression separators(QStringLiteral("[/\\s]+"));
    const QStringList parts
        = value.normalized(QString::NormalizationForm_KC).trimmed().split(separators, Qt::SkipEmptyParts);
    if (parts.size() != 3)
        return QStringLiteral("自己放電の値は 充電後電圧/放置後電圧/日数 です");
    const std::optional<double> charged = ParseFigureNumber(parts.at(0)), rested = ParseFigureNumber(parts.at(1));
    const std::optional<int> days = ParseDays(parts.at(2));
    if (!charged || !rested || !days)
        return QStringLiteral("値が数ではありません");
    m.chargedVolts = *charged;
    m.restedVolts = *rested;
    m.restDays = *days;
    return MeasurementProblem(m);
}

FigureFile ReadFigureFile(const QByteArray &bytes, const FigureColumns &columns)
{
    FigureFile out;
    const QList<CsvRecord> records = SplitRecords(DecodeText(bytes));
    const int needed = std::max({columns.label, columns.date, columns.figure, columns.value}) + 1;
    for (qsizetype i = columns.header ? 1 : 0; i < records.size(); ++i) {
        const CsvRecord &r = records.at(i);
        const auto bad = [&](const QString &reason) { out.bad.append({r.line, r.text, reason}); };
        if (r.fields.size() < needed) {
            bad(QStringLiteral("列が足りません"));
            continue;
        }
        FigureRecord f;
        f.line = r.line;
        f.text = r.text;
        f.label = r.fields.at(columns.label).trimmed();
        if (f.label.isEmpty()) {
            bad(QStringLiteral("ラベルがありません"));
            continue;
        }
        f.measurement.date = ParseFigureDate(r.fields.at(columns.date));
        if (!f.measurement.date.isValid()) {
            bad(QStringLiteral("日付が読めません"));
            continue;
        }
        const std::optional<FigureKind> kind = FigureKindFromText(r.fields.at(columns.figure));
        if (!kind) {
            bad(QStringLiteral("測定の種類がわかりません"));
            continue;
        }
        const QString problem = ReadFigureValue(*kind, r.fields.at(columns.value), f.measurement);
        if (!problem.isEmpty()) {
            bad(problem);
            continue;
        }
        out.records.append(std::move(f));
    }
    return out;
}

QString FigureSummaryText(const FigureImportSummary &s)
{
    QString text
        = QStringLiteral("記録: %1\n新しい測定: %2\n既知の測定: %3\n").arg(s.records).arg(s.stored).arg(s.known);
    if (!s.bad.isEmpty())
        text += QStringLiteral("取り込まなかった記録: %1\n").arg(s.bad.size());
    for (const BadFigureRecord &b : s.bad)
        text += QStringLiteral("行 %1: %2: %3\n").arg(b.line).arg(b.reason, b.text);
    if (!s.failure.isEmpty())
        text += QStringLiteral("読めません: %1\n").arg(s.failure);
    return text;
}

} // namespace library
