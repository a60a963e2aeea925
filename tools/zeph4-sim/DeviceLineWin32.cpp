// The simulator's line on Windows: a COM port, one end of a null-modem pair (a
// cable between two ports, or a virtual pair) whose other end the program opens.
// The port is polled every few milliseconds, which is plenty for 9600 baud; the
// commands come from a thread that reads standard input.
#include "tools/zeph4-sim/DeviceLine.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <thread>

#include <windows.h>

namespace zeph4 {

struct DeviceLine::Impl {
    HANDLE port = INVALID_HANDLE_VALUE;
    std::string name;
    std::mutex mutex; // guards the two below, filled by the reader thread
    std::string commands;
    bool commandsEnded = false;
    bool commandsTold = false; // the end was handed on once
};

DeviceLine::DeviceLine()
    : d(std::make_unique<Impl>())
{ }

DeviceLine::~DeviceLine()
{
    if (d->port != INVALID_HANDLE_VALUE)
        CloseHandle(d->port);
}

bool DeviceLine::open(const std::string &port, const std::string &)
{
    if (port.empty()) {
        std::fputs("zeph4-sim: --port COMn names the COM port to play on\n", stderr);
        return false;
    }
    d->name = port.rfind("\\\\.\\", 0) == 0 ? port.substr(4) : port;
    const std::string device = "\\\\.\\" + d->name;
    d->port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (d->port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "zeph4-sim: cannot open %s (error %lu)\n", d->name.c_str(), GetLastError());
        return false;
    }
    // The discharger's line: 9600 baud, 8 bits, no parity, one stop bit; it never holds the program back.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(d->port, &dcb);
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    SetCommState(d->port, &dcb);
    // Reads return what is there at once; a write gives up after a moment and says how much went.
    COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 100};
    SetCommTimeouts(d->port, &t);
    PurgeComm(d->port, PURGE_RXCLEAR | PURGE_TXCLEAR);

    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE) {
        d->commandsEnded = true;
    } else {
        // Blocked in a read until the input ends, so it is left to end with the process.
        std::thread([impl = d.get()] {
            char buf[256];
            while (std::fgets(buf, sizeof buf, stdin)) {
                std::lock_guard<std::mutex> lock(impl->mutex);
                impl->commands += buf;
            }
            std::lock_guard<std::mutex> lock(impl->mutex);
            impl->commandsEnded = true;
        }).detach();
    }
    return true;
}

std::string DeviceLine::name() const
{
    return d->name;
}

bool DeviceLine::programSetUp() const
{
    // Through a null-modem cable the program's DTR comes back as our DSR once it opens its port. A line without
    // modem lines (Wine's COM port on a pseudo-terminal) cannot tell: the program is taken to be there.
    DWORD status = 0;
    if (!GetCommModemStatus(d->port, &status))
        return true;
    return status & (MS_DSR_ON | MS_CTS_ON);
}

long DeviceLine::read(char *buffer, long size)
{
    DWORD n = 0;
    if (!ReadFile(d->port, buffer, DWORD(size), &n, nullptr))
        return 0;
    return long(n);
}

long DeviceLine::write(const char *buffer, long size)
{
    DWORD n = 0;
    WriteFile(d->port, buffer, DWORD(size), &n, nullptr);
    return long(n);
}

DeviceLine::Ready DeviceLine::wait(int ms, bool wantRoom)
{
    Ready ready;
    const ULONGLONG until = GetTickCount64() + ULONGLONG(std::max(ms, 0));
    for (;;) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ClearCommError(d->port, &errors, &stat)) {
            ready.failed = true;
            return ready;
        }
        ready.line = stat.cbInQue > 0;
        ready.room = wantRoom && stat.cbOutQue < 1024;
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            ready.commands = !d->commands.empty() || (d->commandsEnded && !d->commandsTold);
        }
        if (ready.line || ready.room || ready.commands)
            return ready;
        const ULONGLONG now = GetTickCount64();
        if (now >= until)
            return ready;
        Sleep(DWORD(std::min<ULONGLONG>(until - now, 5)));
    }
}

bool DeviceLine::readCommands(std::string &into)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->commands.empty()) {
        if (d->commandsEnded)
            d->commandsTold = true;
        return false;
    }
    into += d->commands;
    d->commands.clear();
    return true;
}

} // namespace zeph4
