#include "core/WorkerThread.h"

WorkerThread::WorkerThread()
    : m_thread([this] { run(); })
{ }

WorkerThread::~WorkerThread()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void WorkerThread::post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_all();
}

void WorkerThread::waitForIdle()
{
    std::unique_lock<std::mutex> hold(m_lock);
    m_idle.wait(hold, [this] { return m_jobs.empty() && !m_busy; });
}

void WorkerThread::run()
{
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        m_wake.wait(hold, [this] { return m_stop || !m_jobs.empty(); });
        if (m_jobs.empty())
            return; // stopping, and everything asked for is done
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_busy = true;
        hold.unlock();
        job();
        // The job's captures go here, off the lock.
        job = nullptr;
        hold.lock();
        m_busy = false;
        m_idle.notify_all();
    }
}
