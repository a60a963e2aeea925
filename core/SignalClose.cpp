#include "core/SignalClose.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace {

int pipeFds[2] = {-1, -1};
volatile std::sig_atomic_t signalsSeen = 0;
constexpr int Handled[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void OnCloseSignal(int sig)
{
    if (signalsSeen++ > 0) {
        // Asked again while closing: the user means it.
        ::_exit(128 + sig);
    }
    const int saved = errno;
    const char b = static_cast<char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &b, 1);
    errno = saved;
}

} // namespace

SignalClose::SignalClose(std::function<void()> closeAction, QObject *parent)
    : QObject(parent)
    , m_closeAction(std::move(closeAction))
{
    if (pipeFds[0] >= 0)
        throw std::logic_error("SignalClose: one per process");
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("SignalClose: no pipe");
    m_notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalClose::onSignal);
    struct sigaction sa { };
    sa.sa_handler = OnCloseSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : Handled)
        ::sigaction(sig, &sa, nullptr);
}

SignalClose::~SignalClose()
{
    struct sigaction sa { };
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (int sig : Handled)
        ::sigaction(sig, &sa, nullptr);
    delete m_notifier;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
    signalsSeen = 0;
}

void SignalClose::onSignal()
{
    char buf[16];
    while (::read(pipeFds[0], buf, sizeof buf) > 0) {
    }
    if (m_closeAction)
        m_closeAction();
}
