#include "core/JournalCells.h"

namespace journalcells {
namespace {

constexpr int Bays = 4;
const QString TimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz");

QByteArray Escaped(const QString &label)
{
    if (label.isEmpty())
        return "-";
    if (label == QLatin1String("-"))
        return "%2D";
    QByteArray out;
    for (char c : label.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || c == '%' || u == 0x7F)
            out += '%' + QByteArray::number(u, 16).rightJustified(2, '0').toUpper();
        else
            out += c;
    }
    return out;
}

QString Unescaped(const QByteArray &word)
{
    return word == "-" ? QString() : QString::fromUtf8(QByteArray::fromPercentEncoding(word));
}

} // namespace

QString PathFor(const QString &journalPath)
{
    QString base = journalPath;
    if (base.endsWith(QLatin1String(".log"), Qt::CaseInsensitive))
        base.chop(4);
    return base + QStringLiteral(".cells");
}

QByteArray Line(const Entry &entry)
{
    QByteArray line = entry.when.toString(TimeFormat).toLatin1() + ' ' + entry.key;
    for (int b = 0; b < Bays; ++b)
        line += ' ' + Escaped(b < entry.labels.size() ? entry.labels.at(b).trimmed() : QString());
    return line + '\n';
}

std::optional<Entry> ParseLine(const QByteArray &line)
{
    const QList<QByteArray> words = line.trimmed().split(' ');
    if (words.size() != 2 + Bays)
        return std::nullopt;
    Entry e;
    e.when = QDateTime::fromString(QString::fromLatin1(words.at(0)), TimeFormat);
    e.key = words.at(1);
    if (!e.when.isValid() || e.key.isEmpty())
        return std::nullopt;
    for (int b = 0; b < Bays; ++b)
        e.labels << Unescaped(words.at(2 + b));
    return e;
}

QList<Entry> Parse(const QByteArray &file)
{
    QList<Entry> out;
    qsizetype from = 0;
    for (qsizetype end = file.indexOf('\n'); end >= 0; from = end + 1, end = file.indexOf('\n', from)) {
        if (auto e = ParseLine(file.mid(from, end - from)))
            out.append(*e);
    }
    return out;
}

} // namespace journalcells
