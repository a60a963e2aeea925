#pragma once
// The cell library: one SQLite file holding every discharge run, the figures
// of each run's bays and the cells by their labels. A Library is one
// connection and belongs to the thread that made it (Qt SQL allows no other);
// the program's windows reach it only through LibraryService's worker thread.
// Every call that fails throws LibraryError with a text for the user.
#include "library/Records.h"

#include <QString>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>

namespace library {

// The file's application_id: "VTRK". A file with another nonzero id is not ours.
constexpr qint32 ApplicationId = 0x5654524B;
// The schema version this build writes (PRAGMA user_version). Older files are
// migrated step by step on open; newer ones open read-only.
constexpr int SchemaVersion = 1;

class LibraryError : public std::runtime_error
{
public:
    explicit LibraryError(const QString &text)
        : std::runtime_error(text.toStdString())
    { }
    QString text() const { return QString::fromUtf8(what()); }
};

// The warning's title when the library cannot be opened (the reason goes below it).
QString CannotOpenTitle(); // "セル台帳を開けません"

class Library
{
public:
    enum class State {
        Open, // read and write
        ReadOnly, // a newer schema: read, never written; reason() says why
        Failed, // not opened at all; reason() says why, the file was not touched
    };

    // Opens or creates the file on the calling thread. Never throws: check
    // state() and reason(). A file that is damaged, not VOLTRAK's, or in a folder
    // that cannot be written is not opened and never written; a newer schema
    // opens read-only. busyTimeoutMs: how long a write waits for another
    // process holding the file before it is retried.
    explicit Library(const QString &path, int busyTimeoutMs = 5000);
    ~Library();
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;

    State state() const { return m_state; }
    bool isOpen() const { return m_state != State::Failed; }
    bool isWritable() const { return m_state == State::Open; }
    // Empty when Open; the reason for the warning otherwise.
    QString reason() const { return m_reason; }
    QString path() const { return m_path; }

    // Library-wide settings (key/value text); fallback when the key is unset.
    QString setting(const QString &key, const QString &fallback = QString()) const;
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
    // date stamp above a table is its time, else the file's time. progress is
    // called before each file (done so far, total, the file); cancel, when set,
    // stops before the next file, keeping those done. Never throws for a file:
    // failures are in the summary.
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
    void deleteRuns(const QList<qint64> &runIds);
    // New time unit, Hteiko and Hvds for a run; its figures are computed again.
    void setRunParameters(qint64 runId, const analysis::CapacityParameters &parameters);

    // A consistent copy of the whole library into file (VACUUM INTO a file
    // beside it, then renamed into place), while others keep writing.
    void backupTo(const QString &file) const;

private:
    struct Impl;
    Impl *d = nullptr;
    State m_state = State::Failed;
    QString m_reason;
    QString m_path;
};

} // namespace library
