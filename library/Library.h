#pragma once
// The cell library: one SQLite file, or a database on a PostgreSQL server,
// holding every discharge run, the figures of each run's bays and the cells by
// their labels. A Library is one
// connection and belongs to the thread that made it (Qt SQL allows no other);
// the program's windows reach it only through LibraryService's worker thread.
// Every call that fails throws LibraryError with a text for the user.
#include "library/Figures.h"
#include "library/Grade.h"
#include "library/LibraryError.h"
#include "library/OpenCheck.h"
#include "library/Packs.h"
#include "library/Pool.h"
#include "library/Records.h"
#include "library/Schema.h"

#include <QSqlDatabase>
#include <QString>

#include <atomic>
#include <functional>

namespace library {

class Library
{
public:
    enum class State {
        Open, // read and write
        ReadOnly, // a newer schema: read, never written; reason() says why
        Failed, // not opened at all; reason() says why, the file was not touched
    };

    // Opens or creates the file (or the library on the server path names, see
    // ServerLocation) on the calling thread. Never throws: check
    // state() and reason(). A file that is damaged, not VOLTRAK's, or in a folder
    // that cannot be written is not opened and never written; a newer schema
    // opens read-only. busyTimeoutMs: how long a write waits for another
    // process holding the file before it is retried. With ExistingOnly nothing
    // is made: no library there fails with isMissing().
    explicit Library(const QString &path, int busyTimeoutMs = 5000, OpenMode mode = OpenMode::CreateIfMissing);
    Library(const QString &path, OpenMode mode)
        : Library(path, 5000, mode)
    { }
    ~Library();
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;

    State state() const { return m_state; }
    bool isOpen() const { return m_state != State::Failed; }
    bool isWritable() const { return m_state == State::Open; }
    // Failed because there is no library at the path (ExistingOnly); reason() is MissingText.
    bool isMissing() const { return m_missing; }
    // Failed because the server could not be reached (it may answer later).
    bool isUnreachable() const { return m_unreachable; }
    // Empty when Open; the reason for the warning otherwise.
    QString reason() const { return m_reason; }
    // The file, or the server as shown to the user.
    QString path() const { return m_path; }
    bool isServer() const;
    // The connection itself, for a copy of the whole library (CopyLibrary) on this thread.
    QSqlDatabase database() const;

    // A number that changes when another connection (another bench, another
    // copy of the program) has written the library; compare it with the last
    // one read.
    qint64 changeCounter() const;

    // Library-wide settings (key/value text); fallback when the key is unset.
    QString setting(const QString &key, const QString &fallback = QString()) const;
    // What the bays hold now: a bay's cell by its id, with the label it has
    // now (renamed since), or by its label when no id is known or the cell
    // was deleted (then the id is the cell of that label, or 0).
    QList<BayCell> resolveBays(const QList<BayCell> &bays) const;
    // The bays kept for channel, as resolveBays gives them; empty when none were.
    QList<BayCell> keptBays(int channel) const;
    void keepBays(int channel, const QList<BayCell> &bays);
    void setSetting(const QString &key, const QString &value);

    // Stores a run with its bays' figures (computed exactly as the cell list
    // computes them) unless the same rows are stored already; labels name the
    // bays' cells, a new label creates the cell. A table whose voltage is not a
    // number throws. Retries while another process holds the file.
    RecordResult recordRun(const RunInput &run);

    // Reads each file as the open command does and records every table in it,
    // each file in one transaction (wholly in or not at all). A line
    // "セル: a b c d" or "CELLS: a b c d" ("-" = empty bay) above a table's
    // header and after the previous table names that table's bays; the nearest
    // date stamp or 再開 line above a table is its time, else a receive
    // journal's start, else the file's time (ReadRunsOfFile). A file that is not
    // text is not read. progress is called before each file (done so far,
    // total, the file); cancel, when set, stops before the next file, keeping
    // those done. Never throws for a file: failures, files that gave nothing and
    // how each file's tables were dated are in the summary.
    ImportSummary importFiles(const QStringList &paths, const analysis::CapacityParameters &parameters,
        const std::function<void(int done, int total, const QString &path)> &progress = {},
        const std::atomic<bool> *cancel = nullptr);

    // Every cell with its summary, ordered by label.
    QList<CellSummary> cellSummaries() const;
    // One cell's runs, oldest first.
    QList<HistoryPoint> cellHistory(qint64 cellId) const;
    // Every run with its bays, newest first; with a limit, only that many of
    // the newest (a list of 50,000 runs takes seconds to read).
    QList<RunRow> runs(int limit = -1) const;
    // One run with its rows; throws when there is no such run.
    RunTable runTable(qint64 runId) const;
    // A cell's most recent runs (up to limit), newest first, with their rows.
    QList<RunTable> recentRunsOf(qint64 cellId, int limit = 8) const;
    // Every label, sorted (completion of the bay fields).
    QStringList labels() const;
    // The cell with this (trimmed) label, or 0.
    qint64 cellIdOf(const QString &label) const;
    CellInfo cell(qint64 cellId) const;

    // Creates a cell when the (trimmed) label is new; returns its id either way.
    qint64 ensureCell(const QString &label);
    // Writes a cell's info by its id; a new label renames the cell and keeps its
    // history. Throws when the label is empty or another cell has it.
    void updateCell(const CellInfo &info);
    // Gives a run's bay a cell by label (a new label creates it), or takes the
    // cell away with an empty label.
    void setBayLabel(qint64 runId, int bay, const QString &label);
    // Returns what was removed, for restoreRuns.
    DeletedRuns deleteRuns(const QList<qint64> &runIds);
    // Puts deleted runs back with their ids, bays and figures, in one
    // transaction. A run whose table was stored again since stays out, and
    // a bay whose cell was deleted since has none. Returns the runs put back.
    int restoreRuns(const DeletedRuns &runs);
    // New time unit, Hteiko and Hvds for runs; their figures are computed
    // again, all in one transaction or none (a run that has gone throws).
    void setRunParameters(const QList<qint64> &runIds, const analysis::CapacityParameters &parameters);

    // The limits of the grades, kept in the library; the defaults when none
    // are stored or the stored ones do not make sense.
    GradeLimits gradeLimits() const;
    // Throws for limits that are not valid.
    void setGradeLimits(const GradeLimits &limits);

    // The cells a plan may use (PoolOf over the summaries), each with the
    // curve of its latest run.
    QList<PoolCandidate> planPool(const PoolRequest &request) const;
    // The measured cells by the distance of their latest curves from the
    // reference cell's; empty when the reference has no curve.
    QList<CurveNeighbour> curveNeighbours(qint64 referenceCellId) const;

    // Marks each cell as built into the pack named name (trimmed), which takes
    // them out of later pools. Throws, also for an empty name and for a cell
    // no longer in use; then none is marked.
    // The facts kept of the pack (its date and capacity) go into the settings
    // in the same transaction. A name that already names a pack is refused.
    void recordBuiltIn(const QList<qint64> &cellIds, const QString &name, const PackFacts &facts = {});
    // Puts built-in cells back in use, in one transaction; any other cell
    // stays as it is.
    void undoBuiltIn(const QList<qint64> &cellIds);
    // Every pack with cells built into it, by name, with the facts kept of it.
    QList<PackRow> packs() const;
    // Puts every cell of the pack back in use and forgets its facts, in one
    // transaction; returns the cells put back. Throws when no cell is built into it.
    int dissolvePack(const QString &name);

    // ---- The figures of other meters (internal resistance, self-discharge)
    // A cell's measurements, newest date first.
    QList<Measurement> figures(qint64 cellId) const;
    // Stores a measurement of the cell m.cellId and returns its id. Throws for
    // a cell that is not there and for a measurement MeasurementProblem refuses.
    qint64 addFigure(const Measurement &m);
    // The same for the cell of label (trimmed): "セル <label> はありません" when none has it.
    qint64 addFigureFor(const QString &label, Measurement m);
    // Throws when there is no measurement of that id.
    void deleteFigure(qint64 id);
    // Reads the figures CSV at path (ReadFigureFile) and stores its good
    // records in one transaction; a record of a label no cell has is left out
    // with the others the reader refused, a measurement stored before is
    // counted as known. A file that cannot be read, or a library that cannot
    // be written, stores nothing and is told in failure. Never throws.
    FigureImportSummary importFigures(const QString &path, const FigureColumns &columns);
    // The columns of the last figures import; FigureColumns() when none are kept.
    FigureColumns figureColumns() const;
    void setFigureColumns(const FigureColumns &columns);

private:
    void openServer(OpenMode mode);

    struct Impl;
    Impl *d = nullptr;
    State m_state = State::Failed;
    bool m_missing = false;
    bool m_unreachable = false;
    QString m_reason;
    QString m_path;
};

} // namespace library
