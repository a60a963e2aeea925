#pragma once
// The cell library for the windows: the one door to it. Every operation a
// window may ask for is a method here; each runs on the library's worker
// thread in the order asked, so the user-interface thread never waits for the
// disk, and its answer comes back on this object's thread. An operation that
// wrote announces it with changed(what), on this object's thread, before its
// answer; windows read again on that signal and never announce anything
// themselves.
#include "core/FileWriter.h"
#include "core/Mailbox.h"
#include "core/WorkerThread.h"
#include "library/Figures.h"
#include "library/Grade.h"
#include "library/LibraryError.h"
#include "library/Packs.h"
#include "library/Pool.h"
#include "library/Records.h"

#include <QFlags>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace library {

class Library;

// What a write changed, so a window reads again only what it shows of it.
enum class Change {
    Cells = 0x1, // cells, their labels and figures, the packs they are built into (the completion of the bays too)
    Runs = 0x2, // runs and their bays
    Settings = 0x4, // the library's settings (the grade limits)
    Bays = 0x8, // the bays kept for a channel
};
Q_DECLARE_FLAGS(Changes, Change)

// An operation's answer: its value, or the text of why it failed.
template <typename T> struct Reply {
    T value{};
    QString error; // empty when it succeeded
    // The server could not be reached: nothing was read, what is shown is
    // what was read last (error says so).
    bool stale = false;
    bool ok() const { return error.isEmpty(); }
};
// The value of an operation that only writes.
struct Nothing { };

// The cells tab's rows with the limits their grades are judged by.
struct CellsRead {
    QList<CellSummary> cells;
    GradeLimits limits;
};

class LibraryService : public QObject
{
    Q_OBJECT
public:
    // The answer to an operation, unless its context has gone by then. An
    // operation asked without one reports a failure through failed().
    template <typename T> using Then = std::function<void(const Reply<T> &)>;

    // Starts the worker, which opens path; opened() or openFailed() follows
    // from the event loop, so connecting right after construction is in time.
    explicit LibraryService(const QString &path, QObject *parent = nullptr);
    // outboxPath: where captures wait while a server library cannot be
    // reached (an SQLite file beside the ini file); empty for none.
    LibraryService(const QString &path, const QString &outboxPath, QObject *parent = nullptr);
    // Finishes the work already asked for (nothing recorded is lost; an import
    // still running stops after its current file, keeping those done), then closes.
    ~LibraryService() override;

    QString path() const { return m_path; }
    // How often the library is looked at for other benches' writes, for the
    // server's return and for sending the outbox (2 s; 0: never).
    void setPollInterval(int ms);

    // ---- Reads
    void readCells(QObject *context, Then<CellsRead> then);
    // Every run with its bays, newest first.
    void readRuns(QObject *context, Then<QList<RunRow>> then);
    // One cell's runs, oldest first.
    void readHistory(qint64 cellId, QObject *context, Then<QList<HistoryPoint>> then);
    // A cell's newest runs (up to limit) with their rows, for drawing their curves.
    void readRecentRuns(qint64 cellId, int limit, QObject *context, Then<QList<RunTable>> then);
    // Every label, sorted (the completion of the bay fields).
    void readLabels(QObject *context, Then<QStringList> then);
    void readGradeLimits(QObject *context, Then<GradeLimits> then);
    // The prefix a barcode scanner puts before a label ("VT:"); empty when none is set.
    void readScannerPrefix(QObject *context, Then<QString> then);
    // The measured cells by the distance of their curves from the cell's.
    void readCurveNeighbours(qint64 cellId, QObject *context, Then<QList<CurveNeighbour>> then);
    // The cells a pack plan may use, with their latest curves.
    void readPlanPool(const PoolRequest &request, QObject *context, Then<QList<PoolCandidate>> then);
    // What the bays hold now (Library::resolveBays).
    void readBayCells(const QList<BayCell> &bays, QObject *context, Then<QList<BayCell>> then);
    // The bays kept for channel, resolved; empty when none were kept.
    void readKeptBays(int channel, QObject *context, Then<QList<BayCell>> then);
    // Every built pack with its cells, date and capacity (組電池).
    void readPacks(QObject *context, Then<QList<PackRow>> then);

    // A cell's measurements of other meters, newest date first.
    void readFigures(qint64 cellId, QObject *context, Then<QList<Measurement>> then);
    // The columns of a figures CSV as last chosen (FigureColumns() when never).
    void readFigureColumns(QObject *context, Then<FigureColumns> then);

    // ---- Writes
    // A cell's info by its id; a new label renames the cell and keeps its
    // history; a cell taken out of its pack is in use again.
    void editCell(const CellInfo &info, QObject *context, Then<Nothing> then);
    // A run's bay gets the cell of label (a new label makes the cell), or none when empty.
    void setBayLabel(qint64 runId, int bay, const QString &label, QObject *context, Then<Nothing> then);
    // The answer holds what was removed, for restoreRuns.
    void deleteRuns(const QList<qint64> &runIds, QObject *context, Then<DeletedRuns> then);
    // Deleted runs back as they were; the answer counts the runs put back.
    void restoreRuns(const DeletedRuns &runs, QObject *context, Then<int> then);
    // The runs' figures computed again with other parameters.
    void recomputeRuns(const QList<qint64> &runIds, const analysis::CapacityParameters &parameters, QObject *context,
        Then<Nothing> then);
    void writeGradeLimits(const GradeLimits &limits, QObject *context, Then<Nothing> then);
    // The scanner's prefix (trimmed); empty: none.
    void writeScannerPrefix(const QString &prefix, QObject *context, Then<Nothing> then);
    // The cells built into the pack named name: all of them or, failing, none;
    // facts: the pack's date and capacity, kept with it.
    void recordBuiltIn(const QList<qint64> &cellIds, const QString &name, QObject *context, Then<Nothing> then);
    void recordBuiltIn(const QList<qint64> &cellIds, const QString &name, const PackFacts &facts, QObject *context,
        Then<Nothing> then);
    void undoBuiltIn(const QList<qint64> &cellIds, QObject *context, Then<Nothing> then);
    // "解除" of a whole pack: every cell of it back in use; the answer counts them.
    void dissolvePack(const QString &name, QObject *context, Then<int> then);
    // The bays of channel, for the next start.
    void keepBays(int channel, const QList<BayCell> &bays, QObject *context, Then<Nothing> then);
    // A measurement of the cell figure.cellId; the answer is its id.
    void addFigure(const Measurement &figure, QObject *context, Then<qint64> then);
    // A measurement of the cell of label (as a scanner read it, the prefix
    // already taken off); fails for a label no cell has.
    void addFigureFor(const QString &label, const Measurement &figure, QObject *context, Then<qint64> then);
    void deleteFigure(qint64 figureId, QObject *context, Then<Nothing> then);
    // The columns of a figures CSV, kept for the next import.
    void writeFigureColumns(const FigureColumns &columns, QObject *context, Then<Nothing> then);
    // A figures CSV (Library::importFigures); changed(Cells) when it stored
    // anything. The summary tells what was left out and why; a failure to read
    // the file or write the library is in it too, never in the reply's error.
    void importFigures(
        const QString &path, const FigureColumns &columns, QObject *context, Then<FigureImportSummary> then);
    // A captured table; runRecorded() follows. Nothing happens in a read-only
    // library (opened() told why).
    void record(const RunInput &run);
    // Imports files; importProgress() while it runs, then importFinished().
    // Set the returned flag to cancel (files done are kept).
    std::shared_ptr<std::atomic<bool>> importFiles(
        const QStringList &paths, const analysis::CapacityParameters &parameters);
    // A consistent copy of the library into file, made on a thread of its own
    // while the worker goes on recording.
    void backup(const QString &file, QObject *context, Then<Nothing> then);

    // Blocks until the work asked so far is done. For the command line and
    // tests, never for a window.
    void waitForIdle();

signals:
    // Every signal comes on this object's thread, never the worker's.
    // The library is open; writable is false for a newer schema (reason says why).
    void opened(bool writable, const QString &reason);
    // It could not be opened; reason for the warning "セル台帳を開けません".
    void openFailed(const QString &reason);
    // A captured table was stored (isNew) or was known already.
    void runRecorded(const library::RecordResult &result, const QDateTime &when);
    // Something stored changed: windows read again what they show of it.
    void changed(library::Changes what);
    void importProgress(int done, int total, const QString &path);
    void importFinished(const library::ImportSummary &summary);
    // Work asked without anyone to answer failed; the text is for the user.
    void failed(const QString &text);
    // A server library: reached or not, and the captures waiting in the
    // outbox. Reads answer with Reply::stale while it is not reached.
    void connectionChanged(bool connected, int unsent);

private:
    // Runs job on the worker with the library, after the work asked before.
    void post(std::function<void(Library &)> job);
    // Runs job; its value or error to then, changed(writes) first when it
    // succeeded and writes says it wrote.
    template <typename T> void ask(std::function<T(Library &)> job, Changes writes, QObject *context, Then<T> then);
    template <typename T>
    void answer(Reply<T> reply, Changes writes, const QPointer<QObject> &guard, bool hasContext, Then<T> then);
    void deliver(std::function<void()> fn);
    // The worker's part of the poll: the server back, the outbox sent, other benches' writes.
    void poll();
    // On the worker: the server is not reached; say so once.
    void lostServer();
    void sendOutbox();
    // On the worker, after this program wrote: its own write is no news.
    void noteOwnWrite();
    int unsent() const;

    const QString m_path;
    const QString m_outboxPath;
    std::unique_ptr<Library> m_library; // the worker's alone
    std::unique_ptr<class Outbox> m_outbox; // the worker's alone
    const bool m_server; // a library on a server
    bool m_connected = true; // the worker's alone
    qint64 m_seenChanges = -1; // the worker's alone
    QString m_pollError; // the worker's alone: the last failure a poll reported
    std::atomic<bool> m_pollAsked{false};
    QTimer *m_pollTimer = nullptr;
    std::mutex m_importLock;
    std::vector<std::weak_ptr<std::atomic<bool>>> m_imports; // under m_importLock: their cancel flags
    FileWriter m_files;
    Mailbox m_mailbox{this}; // the worker's answers to this object's thread; moves with it
    WorkerThread m_worker; // last: it ends first, running what was asked
};

} // namespace library

Q_DECLARE_OPERATORS_FOR_FLAGS(library::Changes)
Q_DECLARE_METATYPE(library::Changes)
