#pragma once
// The captures a server library could not take yet: kept in a small SQLite
// file beside the ini file until the server answers, then sent in order. A
// run is taken out only after the server has it, and the server stores a
// table once (its rows' key), so a run sent twice after a crash is one run.
#include "library/Records.h"

#include <QList>
#include <QString>

namespace library {

class Outbox
{
public:
    // Opens or makes the file on the calling thread (the connection is that
    // thread's). Throws LibraryError when it cannot.
    explicit Outbox(const QString &path);
    ~Outbox();
    Outbox(const Outbox &) = delete;
    Outbox &operator=(const Outbox &) = delete;

    // Kept to the disk before it returns; the same table twice is kept once.
    void add(const RunInput &run);
    int count() const;
    struct Entry {
        qint64 id = 0;
        RunInput run;
    };
    // The oldest first.
    QList<Entry> pending(int limit) const;
    void remove(qint64 id);

    QString path() const { return m_path; }

private:
    QString m_path, m_name;
};

// The run as the outbox keeps it, and back (an unreadable record gives rows empty).
QByteArray RunToBytes(const RunInput &run);
RunInput RunFromBytes(const QByteArray &bytes);

} // namespace library
