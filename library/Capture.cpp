#include "library/Capture.h"
#include "analysis/DischargeTable.h"
#include "library/LibraryService.h"

namespace library {

QList<CapturedRows> CaptureDetector::feed(const QByteArray &bytes, qint64 nowMs)
{
    QList<CapturedRows> out;
    if (bytes.isEmpty())
        return out;
    for (const char c : bytes) {
        if (c == '\0')
            continue;
        if (c == '\n' && m_lastWasCr) {
            // The LF of a CR LF that arrived in two pieces.
            m_lastWasCr = false;
            continue;
        }
        m_lastWasCr = c == '\r';
        if (c == '\r' || c == '\n') {
            endLine(out);
            continue;
        }
        m_line += c;
    }
    m_lastByteMs = nowMs;
    return out;
}

void CaptureDetector::endLine(QList<CapturedRows> &out)
{
    const QByteArray line = std::exchange(m_line, QByteArray());
    if (line == analysis::TableHeader) {
        // A header right after a table ends it (and starts the next).
        finish(out);
        m_inTable = true;
        return;
    }
    if (!m_inTable)
        return;
    if (analysis::IsTableRow(line)) {
        m_rows.append(line);
        return;
    }
    finish(out);
}

void CaptureDetector::finish(QList<CapturedRows> &out)
{
    if (m_inTable && m_rows.size() >= 2)
        out.append(CapturedRows{m_rows});
    m_rows.clear();
    m_inTable = false;
}

QList<CapturedRows> CaptureDetector::expire(qint64 nowMs)
{
    QList<CapturedRows> out;
    const qint64 due = deadline();
    if (due >= 0 && nowMs >= due) {
        // Bytes after the last row's line break are not a row (yet); the table
        // ends with the rows it has.
        finish(out);
    }
    return out;
}

qint64 CaptureDetector::deadline() const
{
    if (!m_inTable || m_rows.size() < 2 || m_lastByteMs < 0)
        return -1;
    return m_lastByteMs + m_quietMs;
}

void CaptureDetector::reset()
{
    m_line.clear();
    m_lastWasCr = false;
    m_inTable = false;
    m_rows.clear();
    m_lastByteMs = -1;
}

QString BayAssignment::label(int bay) const
{
    return bay >= 1 && bay <= BayCount ? m_cells[bay - 1].label : QString();
}

qint64 BayAssignment::cellId(int bay) const
{
    return bay >= 1 && bay <= BayCount ? m_cells[bay - 1].cellId : 0;
}

void BayAssignment::setLabel(int bay, const QString &label)
{
    if (bay < 1 || bay > BayCount)
        return;
    const QString l = label.trimmed();
    // The same text again (the field echoing the library's label) keeps the cell.
    if (m_cells[bay - 1].label == l)
        return;
    m_cells[bay - 1] = BayCell{0, l};
    emit changed();
}

void BayAssignment::setCell(int bay, const BayCell &cell)
{
    if (bay < 1 || bay > BayCount)
        return;
    const BayCell c{cell.cellId, cell.label.trimmed()};
    if (m_cells[bay - 1] == c)
        return;
    m_cells[bay - 1] = c;
    emit changed();
}

QList<BayCell> BayAssignment::cells() const
{
    return QList<BayCell>(std::begin(m_cells), std::end(m_cells));
}

void BayAssignment::setCells(const QList<BayCell> &cells)
{
    bool any = false;
    for (int b = 0; b < BayCount; ++b) {
        const BayCell c = b < cells.size() ? BayCell{cells.at(b).cellId, cells.at(b).label.trimmed()} : BayCell();
        any = any || !(m_cells[b] == c);
        m_cells[b] = c;
    }
    if (any)
        emit changed();
}

int BayAssignment::assignedCount() const
{
    int n = 0;
    for (const BayCell &c : m_cells)
        n += !c.isEmpty();
    return n;
}

int BayAssignment::bayHolding(const QString &label, int exceptBay) const
{
    const QString l = label.trimmed();
    if (l.isEmpty())
        return 0;
    for (int b = 1; b <= BayCount; ++b) {
        // Exactly, as the library tells its cells apart.
        if (b != exceptBay && m_cells[b - 1].label == l)
            return b;
    }
    return 0;
}

void BayAssignment::clear()
{
    setCells({});
}

LiveCapture::LiveCapture(LibraryService *service, BayAssignment *bays, std::function<QDateTime()> now,
    std::function<analysis::CapacityParameters()> parameters, std::function<int()> channel, QObject *parent,
    qint64 quietMs)
    : QObject(parent)
    , m_service(service)
    , m_bays(bays)
    , m_now(std::move(now))
    , m_parameters(std::move(parameters))
    , m_channel(std::move(channel))
    , m_detector(quietMs)
{
    m_clock.start();
    m_quiet.setSingleShot(true);
    connect(&m_quiet, &QTimer::timeout, this, [this] {
        handOver(m_detector.expire(m_clock.elapsed()));
        arm();
    });
}

void LiveCapture::feed(const QByteArray &received)
{
    handOver(m_detector.feed(received, m_clock.elapsed()));
    arm();
}

void LiveCapture::arm()
{
    const qint64 due = m_detector.deadline();
    if (due < 0) {
        m_quiet.stop();
        return;
    }
    m_quiet.start(int(qMax<qint64>(0, due - m_clock.elapsed())));
}

void LiveCapture::handOver(const QList<CapturedRows> &tables)
{
    for (const CapturedRows &t : tables) {
        RunInput run;
        run.when = m_now ? m_now() : QDateTime::currentDateTime();
        run.source = ReceivedSource(m_channel ? m_channel() : 1);
        run.rows = t.rows;
        run.parameters = m_parameters ? m_parameters() : analysis::CapacityParameters();
        for (int b = 0; b < BayCount && m_bays; ++b) {
            run.labels[b] = m_bays->label(b + 1);
            run.cellIds[b] = m_bays->cellId(b + 1);
        }
        if (m_service)
            m_service->record(run);
        emit tableCaptured(run.when);
        emit captured(run);
    }
}

} // namespace library
