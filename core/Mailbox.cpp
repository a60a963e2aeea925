#include "core/Mailbox.h"

#include <QMetaObject>

void Mailbox::post(std::function<void()> fn)
{
    bool first = false;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        first = m_queue.empty();
        m_queue.push_back(std::move(fn));
    }
    // One wake-up for a run of functions: drain takes all that are there.
    if (first)
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void Mailbox::drain()
{
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            if (m_queue.empty())
                return;
            fn = std::move(m_queue.front());
            m_queue.pop_front();
        }
        fn();
    }
}
