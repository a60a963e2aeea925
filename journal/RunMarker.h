#pragma once
// Run markers: each running copy of the program keeps a marker file in the
// journal folder, named after its journal, locked (flock) for as long as the
// process lives. The close path removes it. A marker nobody holds a lock on
// therefore belongs to a run that ended some other way (killed, crashed, the
// power went), while a locked one belongs to a copy that is still running.
#include <QDateTime>
#include <QString>

namespace journal {

class RunMarker
{
public:
    RunMarker() = default;
    ~RunMarker();
    RunMarker(const RunMarker &) = delete;
    RunMarker &operator=(const RunMarker &) = delete;

    // Reserves the first index whose journal and marker names are both free
    // for a run started at start, and holds the marker, which records the
    // process id and the ini file. False when the folder cannot be written.
    bool create(const QString &folder, const QDateTime &start, const QString &iniPath);
    // The reserved index (for the journal's name); 1 when nothing was reserved.
    int index() const { return m_index; }
    QString path() const { return m_path; }
    // The clean end of the run: the marker goes.
    void remove();

private:
#ifdef Q_OS_WIN
    void *m_fd = nullptr; // the marker's handle, holding its lock (LockFileEx)
#else
    int m_fd = -1;
#endif
    int m_index = 1;
    QString m_path;
};

// The journal of an earlier run of the same ini file that did not end through
// the close path. Holding it keeps its marker locked, so no other copy asks
// about the same run.
class Unfinished
{
public:
    Unfinished() = default;
    ~Unfinished();
    Unfinished(Unfinished &&other) noexcept;
    Unfinished &operator=(Unfinished &&other) noexcept;

#ifdef Q_OS_WIN
    bool isNull() const
    {
        return m_fd == nullptr;
    }
#else
    bool isNull() const
    {
        return m_fd < 0;
    }
#endif
    QString journalPath() const
    {
        return m_journal;
    }
    // The run's pane snapshot (it may not exist).
    QString snapshotPath() const;
    // The question has been asked: the marker and the snapshot go, the journal stays.
    void dismiss();

private:
    friend Unfinished FindUnfinished(const QString &, const QString &);
    // The marker at markerPath, held, when nobody else holds it and it names the ini file ini (absolute); null
    // otherwise. One for each system; the choice among the claimed runs is common.
    static Unfinished claim(const QString &markerPath, const QString &ini);
#ifdef Q_OS_WIN
    void *m_fd = nullptr;
#else
    int m_fd = -1;
#endif
    QString m_marker;
    QString m_journal;
};

// The most recent run of iniPath whose marker in folder nobody holds and
// that left a journal that is not empty or a pane snapshot. Markers of such runs that left no journal, and
// of older unfinished runs, are removed on the way (their journals stay).
Unfinished FindUnfinished(const QString &folder, const QString &iniPath);

} // namespace journal
