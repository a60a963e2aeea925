#pragma once
// Recognising a discharge table in the bytes received from the line: the
// header, at least two rows, then a line that is not a row, or a quiet time
// without another byte after the last row's line break. Each table is handed
// over once; the library's key makes a second dump of the same table a known run.
#include "library/Records.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace library {

// The rows of one recognised table.
struct CapturedRows {
    QList<QByteArray> rows;
};

// No clock of its own: the caller passes the time (milliseconds, any steady
// origin) with the bytes and asks expire() when deadline() has come.
class CaptureDetector
{
public:
    static constexpr qint64 DefaultQuietMs = 3000;
    explicit CaptureDetector(qint64 quietMs = DefaultQuietMs)
        : m_quietMs(quietMs)
    { }

    // Received bytes as they came; lines end at CR LF, CR or LF (also split
    // across calls), zero bytes are dropped. Returns the tables ended by them.
    QList<CapturedRows> feed(const QByteArray &bytes, qint64 nowMs);
    // The tables ended by quiet time at nowMs.
    QList<CapturedRows> expire(qint64 nowMs);
    // When expire() should be called next, or -1 when nothing waits.
    qint64 deadline() const;
    void reset();

private:
    void endLine(QList<CapturedRows> &out);
    void finish(QList<CapturedRows> &out);

    qint64 m_quietMs;
    QByteArray m_line;
    bool m_lastWasCr = false;
    bool m_inTable = false;
    QList<QByteArray> m_rows;
    qint64 m_lastByteMs = -1;
};

// The cells in the four bays now ("装着セル"); the next captured runs get them.
// A bay holds a cell of the library by its id once it is known, so a rename
// follows the cell; a label typed that no cell has yet stays a label.
class BayAssignment : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    QString label(int bay) const; // bay 1 to 4; trimmed
    qint64 cellId(int bay) const; // 0: not known (yet)
    // As typed: a new label, its cell not known yet.
    void setLabel(int bay, const QString &label);
    // The library's answer for a bay: its cell and that cell's label now.
    void setCell(int bay, const BayCell &cell);
    QList<BayCell> cells() const;
    void setCells(const QList<BayCell> &cells);
    // Bays that hold something.
    int assignedCount() const;
    // The other bay (1 to 4) holding label, or 0.
    int bayHolding(const QString &label, int exceptBay) const;
    void clear();

signals:
    void changed();

private:
    BayCell m_cells[BayCount];
};

class LibraryService;

// The main window's side of capturing: fed what CommX1Receive reads, it
// records each recognised table through the service (never waiting for the
// disk) with the bay labels and parameters of the moment.
class LiveCapture : public QObject
{
    Q_OBJECT
public:
    // now: the local time a run is stamped with; parameters: the settings in
    // force; channel: the port's channel, for the run's source.
    LiveCapture(LibraryService *service, BayAssignment *bays, std::function<QDateTime()> now,
        std::function<analysis::CapacityParameters()> parameters, std::function<int()> channel,
        QObject *parent = nullptr, qint64 quietMs = CaptureDetector::DefaultQuietMs);

    void feed(const QByteArray &received);

signals:
    // A table was recognised and handed to the service (recorded later,
    // LibraryService::runRecorded tells).
    void tableCaptured(const QDateTime &when);
    // The same, with what was handed over: its rows and the bays of the moment.
    void captured(const library::RunInput &run);

private:
    void handOver(const QList<CapturedRows> &tables);
    void arm();

    LibraryService *m_service;
    BayAssignment *m_bays;
    std::function<QDateTime()> m_now;
    std::function<analysis::CapacityParameters()> m_parameters;
    std::function<int()> m_channel;
    CaptureDetector m_detector;
    QTimer m_quiet;
    QElapsedTimer m_clock;
};

} // namespace library
