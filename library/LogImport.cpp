#include "library/LogImport.h"
#include "analysis/DischargeTable.h"
#include "core/FileReason.h"
#include "core/JournalCells.h"
#include "core/LogFile.h"
#include "core/LogTimes.h"
#include "core/SjisText.h"
#include "core/TextSniff.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <cerrno>

namespace library {

bool ParseCellsLine(const QByteArray &line, QString (&labels)[BayCount])
{
    static const QRegularExpression form(
        QStringLiteral(R"(^\s*(?:セル|CELLS)\s*[:：]\s*(.*)$)"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(sjis::decode(line));
    if (!m.hasMatch())
        return false;
    static const QRegularExpression blanks(QStringLiteral(R"(\s+)"));
    const QStringList words = m.captured(1).split(blanks, Qt::SkipEmptyParts);
    for (int b = 0; b < BayCount; ++b) {
        const QString w = b < words.size() ? words.at(b) : QString();
        labels[b] = w == QLatin1String("-") ? QString() : w;
    }
    return true;
}

QString CellsLineText(const QString (&labels)[BayCount])
{
    static const QRegularExpression blank(QStringLiteral(R"(\s)"));
    QStringList words;
    bool any = false;
    for (const QString &l : labels) {
        const QString t = l.trimmed();
        if (t.contains(blank) || t == QLatin1String("-"))
            return QString();
        any = any || !t.isEmpty();
        words << (t.isEmpty() ? QStringLiteral("-") : t);
    }
    return any ? QStringLiteral("セル: ") + words.join(QLatin1Char(' ')) : QString();
}

int HeaderAbove(const LineSource &lines, const QByteArray &firstRow, int before)
{
    for (int h = lines.lastLineEqualTo(analysis::TableHeader, before); h >= 0;
         h = lines.lastLineEqualTo(analysis::TableHeader, h)) {
        if (h + 1 < lines.lineCount() && lines.line(h + 1) == firstRow)
            return h;
    }
    return -1;
}

std::optional<CellsLinePlace> PlaceCellsLine(const LineSource &lines, const RunInput &run)
{
    const QString text = CellsLineText(run.labels);
    if (text.isEmpty() || run.rows.isEmpty())
        return std::nullopt;
    const int header = HeaderAbove(lines, run.rows.first(), lines.lineCount());
    if (header < 0)
        return std::nullopt;
    // A table dumped again under the line already written gets no second one.
    if (header > 0) {
        QString above[BayCount];
        if (ParseCellsLine(lines.line(header - 1), above) && CellsLineText(above) == text)
            return std::nullopt;
    }
    return CellsLinePlace{header, text};
}

QDateTime StampTime(const QByteArray &stamp)
{
    return QDateTime::fromString(QString::fromLatin1(stamp.left(16)), QStringLiteral("yyyy/MM/dd HH:mm"));
}

QDateTime LineTime(const QByteArray &line)
{
    return analysis::BeginsWithDateStamp(line) ? StampTime(line) : logtimes::RestartTime(line);
}

QList<RunInput> RunsInLog(const LineSource &lines, const QDateTime &fileTime, const QString &source,
    const analysis::CapacityParameters &parameters, const QDateTime &journalStart)
{
    QList<RunInput> runs;
    int scanFrom = 0;
    // The nearest stamp or 再開 line so far; rows never are one, so the lines
    // between tables are all there is to look at.
    QDateTime stamped;
    for (const analysis::FoundTable &t : analysis::FindAllTables(lines)) {
        QString labels[BayCount];
        for (int k = scanFrom; k < t.headerLine; ++k) {
            const QByteArray line = lines.line(k);
            QString found[BayCount];
            if (ParseCellsLine(line, found)) {
                std::copy(std::begin(found), std::end(found), std::begin(labels));
            } else if (const QDateTime at = LineTime(line); at.isValid()) {
                stamped = at;
            }
        }
        scanFrom = qMax(t.headerLine, 0) + 1 + int(t.rows.size());
        if (t.rows.isEmpty())
            continue;
        RunInput run;
        if (stamped.isValid()) {
            run.when = stamped;
            run.dating = RunDating::Stamp;
        } else if (journalStart.isValid()) {
            run.when = journalStart;
            run.dating = RunDating::JournalStart;
        } else {
            run.when = fileTime;
            run.dating = RunDating::FileTime;
        }
        run.source = source;
        run.rows = t.rows;
        run.parameters = parameters;
        std::copy(std::begin(labels), std::end(labels), std::begin(run.labels));
        runs.append(std::move(run));
    }
    return runs;
}

namespace {

QString ReadFailure(const QString &path, const std::exception &e)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("ファイルがありません");
    if (info.isDir())
        return QStringLiteral("フォルダです");
    // By opening it: root passes every access() test.
    if (const int err = filereason::ReadProblem(path)) {
        if (err == EACCES || err == EPERM)
            return QStringLiteral("読み取りが許可されていません");
        return filereason::ReasonText(err);
    }
    return QString::fromUtf8(e.what());
}

} // namespace

FileRuns ReadRunsOfFile(const QString &path, const analysis::CapacityParameters &parameters)
{
    FileRuns out;
    const QDateTime journalStart = logtimes::RunStartOf(path);
    ByteLines lines;
    try {
        if (QFileInfo(path).isDir())
            throw std::runtime_error("");
        // A journal holds the line's bytes as they came, noise and all; any
        // other file that is not text could only give tables by chance.
        if (!journalStart.isValid() && !textsniff::LooksLikeText(textsniff::ReadHead(path))) {
            out.notText = true;
            return out;
        }
        lines = ReadLogFileLines(path);
    } catch (const std::exception &e) {
        out.failure = ReadFailure(path, e);
        return out;
    }
    const QFileInfo info(path);
    out.runs = RunsInLog(lines, info.lastModified(), info.fileName(), parameters, journalStart);
    if (journalStart.isValid()) {
        const QString cellsPath = journalcells::PathFor(path);
        if (QFileInfo::exists(cellsPath)) {
            QFile cells(cellsPath);
            if (!cells.open(QIODevice::ReadOnly)) {
                out.runs.clear();
                out.failure = QStringLiteral("セルの控えを読めません: %1: %2").arg(cellsPath, cells.errorString());
                return out;
            }
            ApplyJournalCells(out.runs, journalcells::Parse(cells.readAll()));
        }
    }
    return out;
}

void ApplyJournalCells(QList<RunInput> &runs, const QList<journalcells::Entry> &entries)
{
    QHash<QByteArray, const journalcells::Entry *> byKey;
    for (const journalcells::Entry &e : entries)
        byKey.insert(e.key, &e); // a table recorded twice: its last time and bays
    for (RunInput &run : runs) {
        const journalcells::Entry *e = byKey.value(RowsKey(run.rows).toHex());
        if (!e)
            continue;
        run.when = e->when;
        run.dating = RunDating::Received;
        for (int b = 0; b < BayCount; ++b)
            run.labels[b] = b < e->labels.size() ? e->labels.at(b) : QString();
    }
}

} // namespace library
