#pragma once
// The receive journal: every byte received on the serial line, appended to a
// file exactly as it arrived. The user-interface thread only appends to a
// buffer in memory; a writer thread of the journal's own creates the file on
// the first byte, writes what is waiting at once, and syncs it to the disk at
// least once a second, so a killed program loses at most the last moments.
#include "core/LogTimes.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace journal {

// The journal folder: "logs" beside the ini file. Everything the journal
// keeps on disk is found through this one function.
QString FolderFor(const QString &iniPath);

// The run's file names ("YYYYMMDD-HHMMSS[-n].log") live in core/, where the
// import reads them back too.
using logtimes::RunName;
using logtimes::RunStartOf;

class Journal : public QObject
{
    Q_OBJECT
public:
    // Writes into folder/<runName>.log; nothing is created before the first
    // byte. Should the name be taken meanwhile, the next free index is used.
    Journal(const QString &folder, const QDateTime &start, int index = 1, QObject *parent = nullptr);
    ~Journal() override;

    // Any thread; never waits for the disk.
    void append(const char *data, qsizetype size);
    // A line for the file beside the journal (core/JournalCells), written
    // after every byte appended before it; any thread, never waits for the disk.
    void appendCells(const QByteArray &line);
    // Writes and syncs what is left, then ends the writer. Further appends are dropped.
    void close();

    // Bytes handed to append() so far (the journal's length once written).
    qint64 appendedBytes() const { return m_appended.load(std::memory_order_relaxed); }

    // The file, once created; empty before.
    QString filePath() const;
    bool failed() const { return m_failed.load(); }
    // The file beside it; empty before the journal's.
    QString cellsPath() const;

signals:
    // The file could not be created or written; emitted once, from the
    // writer thread. Nothing more is journalled in this run.
    void writeFailed();
    // The file beside it could not be written; emitted once, from the writer
    // thread. The journal goes on, the lines are no longer kept.
    void cellsWriteFailed();

private:
    void run();
    bool writeOut(const std::string &chunk);
    void writeCells(const std::string &lines);
    bool createFile();
    void fail();

    const QString m_folder;
    const QDateTime m_start;
    int m_index;

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::string m_buffer; // under m_lock
    std::string m_cellsBuffer; // under m_lock
    bool m_stop = false; // under m_lock
    QString m_path; // under m_lock
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_closed{false};
    std::atomic<qint64> m_appended{0};

    std::atomic<bool> m_cellsFailed{false};

    // Writer thread only.
    int m_fd = -1;
    int m_cellsFd = -1;
    std::string m_cellsPending; // lines waiting for the journal's file
    bool m_cellsDirty = false;
    bool m_dirty = false;
    std::chrono::steady_clock::time_point m_syncDue;

    std::thread m_writer;
};

} // namespace journal
