#pragma once
// Runs functions handed over from any thread on the thread this object lives
// in, in the order they were handed over. The hand-over goes through a lock
// of its own: a function and what it holds are made on one thread, then run
// and destroyed on the other, with nothing left to the reference count of a
// queued Qt functor (freed by whichever thread lets go of it last).
#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

class Mailbox : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // Any thread.
    void post(std::function<void()> fn);

private:
    Q_INVOKABLE void drain();

    std::mutex m_lock;
    std::deque<std::function<void()>> m_queue; // under m_lock
};
