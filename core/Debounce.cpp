#include "core/Debounce.h"

#include <QTimer>

Debounce::Debounce(int quietMs, int maxMs, QObject *parent)
    : QObject(parent)
    , m_quietMs(quietMs)
    , m_maxMs(qMax(quietMs, maxMs))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &Debounce::fire);
}

void Debounce::poke()
{
    if (!m_sinceFirst.isValid())
        m_sinceFirst.start();
    const qint64 left = m_maxMs - m_sinceFirst.elapsed();
    m_timer->start(int(qBound(qint64(0), qMin(qint64(m_quietMs), left), qint64(m_quietMs))));
}

bool Debounce::pending() const
{
    return m_sinceFirst.isValid();
}

void Debounce::cancel()
{
    m_timer->stop();
    m_sinceFirst.invalidate();
}

void Debounce::fireNow()
{
    if (pending())
        fire();
}

void Debounce::fire()
{
    m_timer->stop();
    m_sinceFirst.invalidate();
    emit due();
}
