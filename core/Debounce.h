#pragma once
// Gathers a burst of changes into one action: due() follows quietMs after the
// last poke(), but never later than maxMs after the first poke of the burst,
// so steady typing is still saved every few seconds.
#include <QElapsedTimer>
#include <QObject>

class QTimer;

class Debounce : public QObject
{
    Q_OBJECT
public:
    Debounce(int quietMs, int maxMs, QObject *parent = nullptr);

    // Something changed.
    void poke();
    // A change is waiting for due().
    bool pending() const;
    // Forgets the waiting change without emitting due().
    void cancel();
    // Emits due() now when a change is waiting.
    void fireNow();

signals:
    void due();

private:
    void fire();

    const int m_quietMs;
    const int m_maxMs;
    QTimer *m_timer;
    QElapsedTimer m_sinceFirst; // valid while a change waits
};
