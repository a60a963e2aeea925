#pragma once
// The log pane as it was: the whole text (received and typed alike, as the
// save command writes it) kept beside the run's journal, with the journal's
// length at that moment. After a crash the pane comes back as the snapshot
// followed by what the journal received after it, so typed notes return and
// cleared text stays cleared.
//
// The caller copies the text (on its own thread, only when the user changed
// it); a writer thread of the snapshot's own encodes and writes it beside the
// old file and renames it into place. A newer text waiting replaces an older
// one that was not written yet.
#include "core/LogTimes.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace journal {

// The snapshot file of a run, from its journal's path ("X.log" -> "X.pane").
QString SnapshotPathFor(const QString &journalPath);

struct SnapshotContent {
    qint64 journalLength = 0; // bytes of the journal the text already holds
    QDateTime taken;
    QByteArray text; // Shift-JIS, CR LF breaks
};

// The file's bytes for a snapshot, and back; nullopt for a file that is not one.
QByteArray EncodeSnapshot(const SnapshotContent &s);
std::optional<SnapshotContent> DecodeSnapshot(const QByteArray &file);

// What the pane held at the crash: the snapshot's text, then the journal's
// bytes after its length (the whole journal without a snapshot). Text as the
// pane holds it ("\n" breaks).
QString RecoveredText(const std::optional<SnapshotContent> &snapshot, const QByteArray &journalBytes);

// What the next start offers of a run that did not end well.
struct RecoveryOffer {
    QByteArray received; // the whole journal
    std::optional<SnapshotContent> snapshot; // none when there is none or it cannot be read
    QDateTime started; // the run's start, from the journal's name; invalid without one
};
RecoveryOffer ReadRecovery(const QString &journalPath, const QString &snapshotPath);
// "前回の受信データが保存されていない可能性があります。\r\n<yyyy/MM/dd HH:mm の | 前回の>受信記録（n バイト）を開きますか？"
QString RecoveryQuestion(const RecoveryOffer &offer);

// The line between recovered text and what arrives after the restart (core/,
// where the import reads it back).
using logtimes::RestartLine;

class PaneSnapshot : public QObject
{
    Q_OBJECT
public:
    explicit PaneSnapshot(const QString &path, QObject *parent = nullptr);
    ~PaneSnapshot() override;

    QString path() const { return m_path; }

    // Any thread; never waits for the disk.
    void write(const QString &paneText, qint64 journalLength, const QDateTime &taken);
    // Waits for a write in progress (or waiting), then ends the writer.
    void finish();
    // The clean end of the run: the writer ends and the file goes.
    void remove();
    // Number of snapshots on disk so far (tests, bench).
    int written() const { return m_written.load(); }

signals:
    // A snapshot could not be written; emitted once, on this object's thread.
    void writeFailed();

private:
    void run();

    const QString m_path;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::optional<SnapshotContent> m_waiting; // under m_lock; its text still in m_waitingText
    QString m_waitingText; // under m_lock
    bool m_stop = false; // under m_lock
    std::atomic<bool> m_failed{false};
    std::atomic<int> m_written{0};
    std::thread m_writer;
};

} // namespace journal
