#pragma once
// SIGTERM, SIGINT and SIGHUP close the program the ordinary way (on Windows: a
// log-off or shutdown, and a console's Ctrl+C or close): the signal
// handler only writes to a pipe, and the event loop, woken by it, runs the
// close action. A second signal while that is under way ends the process at
// once.
#include <QObject>
#include <functional>

class QSocketNotifier;

class SignalClose : public QObject
{
    Q_OBJECT
public:
    // One per process; closeAction runs on this object's thread.
    explicit SignalClose(std::function<void()> closeAction, QObject *parent = nullptr);
    ~SignalClose() override;

private:
    void onSignal();

    std::function<void()> m_closeAction;
    QSocketNotifier *m_notifier = nullptr;
};
