#pragma once
// The simulated discharger's end of the serial line, and the commands typed on
// its standard input. One implementation for each system: on Linux a new
// pseudo-terminal that a program opens as its port (DeviceLine.cpp); on Windows
// a COM port named on the command line, one end of a null-modem pair whose other
// end the program opens (DeviceLineWin32.cpp).
#include <memory>
#include <string>

namespace zeph4 {

class DeviceLine
{
public:
    DeviceLine();
    ~DeviceLine();
    DeviceLine(const DeviceLine &) = delete;
    DeviceLine &operator=(const DeviceLine &) = delete;

    // Opens the line: port is the COM port on Windows (Linux makes a new
    // pseudo-terminal and ignores it); link, if not empty, becomes a symbolic
    // link to the device (Linux). False after a message on stderr.
    bool open(const std::string &port, const std::string &link);
    // What a program opens: /dev/pts/N, or the COM port.
    std::string name() const;
    // Whether a program has set up the line since it was opened (where the line can tell).
    bool programSetUp() const;

    // The bytes waiting now, up to size: 0 when none.
    long read(char *buffer, long size);
    // Writes what the line takes now, up to size: the count taken.
    long write(const char *buffer, long size);

    struct Ready {
        bool line = false; // bytes to read
        bool room = false; // room to write, when asked for
        bool commands = false; // input on stdin (or its end)
        bool failed = false; // the wait itself failed
    };
    // Waits up to ms for one of them.
    Ready wait(int ms, bool wantRoom);
    // The command input read after wait() said so; false at its end.
    bool readCommands(std::string &into);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace zeph4
