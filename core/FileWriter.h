#pragma once
// Files the windows save (a list as CSV, a plan as PDF, a copy of the cell
// library) written on a thread of their own, in the order asked: no window
// waits for the disk, and the library's worker is never held by a save.
#include "core/Mailbox.h"
#include "core/WorkerThread.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class FileWriter : public QObject
{
    Q_OBJECT
public:
    // The outcome on this object's thread: empty when done, else the reason.
    using Done = std::function<void(const QString &error)>;

    explicit FileWriter(QObject *parent = nullptr);
    // Finishes the writes already asked for.
    ~FileWriter() override;

    // bytes as the whole of path, through the safe write; done unless
    // context has gone by then (a null context: always).
    void write(const QString &path, const QByteArray &bytes, QObject *context, Done done);
    // Any other writing (a library copy); a std::exception it throws is the error.
    void run(std::function<void()> job, QObject *context, Done done);
    void waitForIdle() { m_thread.waitForIdle(); }

private:
    Mailbox m_mailbox{this}; // the answers to this object's thread
    WorkerThread m_thread; // last: it ends first
};
