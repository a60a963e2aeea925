#pragma once
// One thread that runs jobs one after another in the order they were asked,
// for the objects that keep the disk or the database away from the
// user-interface thread. Jobs hand their results back themselves.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class WorkerThread
{
public:
    WorkerThread();
    // Runs every job already asked for, then ends the thread.
    ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    // A job must not throw: what it cannot do it reports through its owner.
    void post(std::function<void()> job);
    // Blocks until every job asked so far has run. For the command line and
    // tests, never for a window.
    void waitForIdle();
    // Whether the calling thread is this worker (for checks, not for logic).
    bool isCurrent() const { return std::this_thread::get_id() == m_thread.get_id(); }

private:
    void run();

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs; // under m_lock
    bool m_stop = false; // under m_lock
    bool m_busy = false; // under m_lock
    std::thread m_thread;
};
