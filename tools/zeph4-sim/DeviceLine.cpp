// The simulator's line on Linux: a pseudo-terminal of its own.
#include "tools/zeph4-sim/DeviceLine.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace zeph4 {

struct DeviceLine::Impl {
    int master = -1;
    int slave = -1;
    std::string name;
    std::string link;
    bool stdinOpen = true;
};

DeviceLine::DeviceLine()
    : d(std::make_unique<Impl>())
{ }

DeviceLine::~DeviceLine()
{
    if (!d->link.empty())
        ::unlink(d->link.c_str());
    if (d->master >= 0)
        ::close(d->master);
    if (d->slave >= 0)
        ::close(d->slave);
}

bool DeviceLine::open(const std::string &, const std::string &link)
{
    char name[256] = {};
    if (::openpty(&d->master, &d->slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return false;
    }
    d->name = name;
    // Our own slave descriptor stays open so the program can close and
    // reopen the port without the line hanging up; raw so no byte changes.
    termios t{};
    ::tcgetattr(d->slave, &t);
    ::cfmakeraw(&t);
    // A speed no program asks for: when it changes, a program opened the line.
    ::cfsetspeed(&t, B50);
    ::tcsetattr(d->slave, TCSANOW, &t);
    ::fcntl(d->master, F_SETFL, ::fcntl(d->master, F_GETFL) | O_NONBLOCK);
    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(name, link.c_str()) != 0)
            std::perror("symlink");
        else
            d->link = link;
    }
    return true;
}

std::string DeviceLine::name() const
{
    return d->name;
}

bool DeviceLine::programSetUp() const
{
    termios t{};
    return ::tcgetattr(d->slave, &t) == 0 && ::cfgetospeed(&t) != B50;
}

long DeviceLine::read(char *buffer, long size)
{
    const ssize_t n = ::read(d->master, buffer, static_cast<size_t>(size));
    return n > 0 ? static_cast<long>(n) : 0;
}

long DeviceLine::write(const char *buffer, long size)
{
    const ssize_t n = ::write(d->master, buffer, static_cast<size_t>(size));
    return n > 0 ? static_cast<long>(n) : 0;
}

DeviceLine::Ready DeviceLine::wait(int ms, bool wantRoom)
{
    pollfd p[2] = {{d->master, short(POLLIN | (wantRoom ? POLLOUT : 0)), 0}, {d->stdinOpen ? 0 : -1, POLLIN, 0}};
    Ready ready;
    const int r = ::poll(p, 2, ms);
    if (r < 0) {
        ready.failed = errno != EINTR;
        return ready;
    }
    ready.line = p[0].revents & POLLIN;
    ready.room = p[0].revents & POLLOUT;
    ready.commands = p[1].revents & (POLLIN | POLLHUP);
    return ready;
}

bool DeviceLine::readCommands(std::string &into)
{
    char buf[256];
    const ssize_t n = ::read(0, buf, sizeof buf);
    if (n <= 0) {
        d->stdinOpen = false; // no more commands; keep running
        return false;
    }
    into.append(buf, static_cast<size_t>(n));
    return true;
}

} // namespace zeph4
