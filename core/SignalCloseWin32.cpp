// Closing on Windows the way the close box does: a log-off or shutdown (WM_ENDSESSION, after Windows asked with
// WM_QUERYENDSESSION) and a console's Ctrl+C, Ctrl+Break or close. The console handler runs on a thread of its own,
// so it hands the close to the event loop and waits for it; Windows ends the process when the handler returns.
#include "core/SignalClose.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <stdexcept>

#include <windows.h>

namespace {

SignalClose *g_instance = nullptr;
std::function<void()> g_onSignal; // the instance's onSignal, for the handlers outside the class
std::atomic<int> g_requests{0};
HANDLE g_closed = nullptr; // set once the close action has run

class SessionEndFilter : public QAbstractNativeEventFilter
{
public:
    explicit SessionEndFilter(std::function<void()> onEnd)
        : m_onEnd(std::move(onEnd))
    { }
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "windows_generic_MSG")
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        // The session really ends (wParam TRUE): close now, before Windows ends the process.
        if (msg->message == WM_ENDSESSION && msg->wParam && !m_done) {
            m_done = true;
            m_onEnd();
        }
        return false;
    }

private:
    std::function<void()> m_onEnd;
    bool m_done = false;
};

SessionEndFilter *g_filter = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT
        && event != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    if (g_requests++ > 0)
        ExitProcess(128 + 2); // asked again while closing: the user means it
    SignalClose *target = g_instance;
    if (!target)
        return FALSE;
    QMetaObject::invokeMethod(target, g_onSignal, Qt::QueuedConnection);
    // Ctrl+C leaves the process running while it closes; the others end it when this returns.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        WaitForSingleObject(g_closed, 10000);
    return TRUE;
}

} // namespace

SignalClose::SignalClose(std::function<void()> closeAction, QObject *parent)
    : QObject(parent)
    , m_closeAction(std::move(closeAction))
{
    if (g_instance)
        throw std::logic_error("SignalClose: one per process");
    g_instance = this;
    g_onSignal = [this] { onSignal(); };
    g_closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    if (QCoreApplication *app = QCoreApplication::instance()) {
        g_filter = new SessionEndFilter(g_onSignal);
        app->installNativeEventFilter(g_filter);
    }
}

SignalClose::~SignalClose()
{
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    if (g_filter) {
        if (QCoreApplication *app = QCoreApplication::instance())
            app->removeNativeEventFilter(g_filter);
        delete g_filter;
        g_filter = nullptr;
    }
    g_instance = nullptr;
    g_onSignal = nullptr;
    g_requests = 0;
    CloseHandle(g_closed);
    g_closed = nullptr;
}

void SignalClose::onSignal()
{
    if (m_closeAction)
        m_closeAction();
    SetEvent(g_closed);
}
