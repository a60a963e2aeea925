#pragma once
// The library for the windows: one worker thread owns the Library connection
// and runs every read and write in the order asked, so the user-interface
// thread never waits for the disk. Results come back on the thread the
// service lives in, through signals or the callbacks given.
#include "library/Library.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace library {

class LibraryService : public QObject
{
    Q_OBJECT
public:
    // Starts the worker, which opens path; opened() or openFailed() follows
    // from the event loop, so connecting right after construction is in time.
    explicit LibraryService(const QString &path, QObject *parent = nullptr);
    // Finishes the work already asked for (nothing recorded is lost; an import
    // still running stops after its current file, keeping those done), then closes.
    ~LibraryService() override;

    QString path() const { return m_path; }

    // Runs job on the worker thread with its Library, after the work asked
    // before. A LibraryError it throws becomes failed(text). Not run at all when
    // the library could not be opened (openFailed() was the one warning).
    void post(std::function<void(Library &)> job);

    // Runs job on the worker, then done(result) on this object's thread, unless
    // context has been deleted by then.
    template <typename Result>
    void query(std::function<Result(Library &)> job, QObject *context, std::function<void(const Result &)> done)
    {
        QPointer<QObject> guard(context);
        post([this, job = std::move(job), guard, done = std::move(done)](Library &lib) {
            auto result = std::make_shared<Result>(job(lib));
            deliver([guard, done, result] {
                if (guard)
                    done(*result);
            });
        });
    }

    // Records a captured table; runRecorded() follows. Nothing happens in a
    // read-only library (opened() told why).
    void record(const RunInput &run);

    // Imports files on the worker; importProgress() while it runs, then
    // importFinished(). Set the returned flag to cancel (files done are kept).
    std::shared_ptr<std::atomic<bool>> importFiles(
        const QStringList &paths, const analysis::CapacityParameters &parameters);

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
    // Something stored changed (a run, a cell, an import): windows read again.
    void changed();
    void importProgress(int done, int total, const QString &path);
    void importFinished(const library::ImportSummary &summary);
    // A job failed; the text is for the user.
    void failed(const QString &text);

private:
    void run();
    void deliver(std::function<void()> fn);

    const QString m_path;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void(Library &)>> m_jobs; // under m_lock
    std::vector<std::weak_ptr<std::atomic<bool>>> m_imports; // under m_lock: their cancel flags
    bool m_stop = false; // under m_lock
    bool m_busy = false; // under m_lock
    std::thread m_worker;
};

} // namespace library
