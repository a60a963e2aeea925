#include "library/LibraryService.h"

#include <QMetaObject>

#include <algorithm>

namespace library {

LibraryService::LibraryService(const QString &path, QObject *parent)
    : QObject(parent)
    , m_path(path)
{
    qRegisterMetaType<library::RecordResult>();
    qRegisterMetaType<library::ImportSummary>();
    m_busy = true; // the open is the first piece of work
    m_worker = std::thread([this] { run(); });
}

LibraryService::~LibraryService()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
        for (const std::weak_ptr<std::atomic<bool>> &flag : m_imports) {
            if (const auto cancel = flag.lock())
                cancel->store(true);
        }
    }
    m_wake.notify_all();
    m_worker.join();
}

void LibraryService::post(std::function<void(Library &)> job)
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_all();
}

void LibraryService::deliver(std::function<void()> fn)
{
    // Through this object: it outlives the worker, so the call is never lost
    // to a deleted receiver, and runs on this object's thread.
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void LibraryService::record(const RunInput &run)
{
    const QDateTime when = run.when;
    post([this, run, when](Library &lib) {
        // A read-only library was warned about when it opened.
        if (!lib.isWritable())
            return;
        const RecordResult r = lib.recordRun(run);
        deliver([this, r, when] {
            emit runRecorded(r, when);
            if (r.isNew)
                emit changed();
        });
    });
}

std::shared_ptr<std::atomic<bool>> LibraryService::importFiles(
    const QStringList &paths, const analysis::CapacityParameters &parameters)
{
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_imports.erase(std::remove_if(m_imports.begin(), m_imports.end(),
                            [](const std::weak_ptr<std::atomic<bool>> &f) { return f.expired(); }),
            m_imports.end());
        m_imports.push_back(cancel);
    }
    post([this, paths, parameters, cancel](Library &lib) {
        const ImportSummary s = lib.importFiles(
            paths, parameters,
            [this](int done, int total, const QString &path) {
                deliver([this, done, total, path] { emit importProgress(done, total, path); });
            },
            cancel.get());
        deliver([this, s] {
            if (s.newRuns > 0 || s.knownRuns > 0)
                emit changed();
            emit importFinished(s);
        });
    });
    return cancel;
}

void LibraryService::waitForIdle()
{
    std::unique_lock<std::mutex> hold(m_lock);
    m_idle.wait(hold, [this] { return m_jobs.empty() && !m_busy; });
}

void LibraryService::run()
{
    Library lib(m_path);
    // From this object's own thread once its event loop runs, so a receiver
    // connected right after the constructor cannot miss it.
    const bool open = lib.isOpen(), writable = lib.isWritable();
    const QString reason = lib.reason();
    deliver([this, open, writable, reason] {
        if (open)
            emit opened(writable, reason);
        else
            emit openFailed(reason);
    });
    std::unique_lock<std::mutex> hold(m_lock);
    m_busy = false;
    m_idle.notify_all();
    for (;;) {
        m_wake.wait(hold, [this] { return m_stop || !m_jobs.empty(); });
        if (m_jobs.empty()) {
            // Stopping, and everything asked for is done.
            return;
        }
        std::function<void(Library &)> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_busy = true;
        hold.unlock();
        // A library that could not be opened was warned about once, by openFailed.
        if (lib.isOpen()) {
            try {
                job(lib);
            } catch (const LibraryError &e) {
                const QString text = e.text();
                deliver([this, text] { emit failed(text); });
            } catch (const std::exception &e) {
                const QString text = QString::fromUtf8(e.what());
                deliver([this, text] { emit failed(text); });
            }
        }
        hold.lock();
        m_busy = false;
        m_idle.notify_all();
    }
}

} // namespace library
