// termios2 lives in the kernel's headers, which clash with glibc's
// <termios.h>; this file includes only the kernel's side.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...);

bool SetCustomBaud(int fd, std::uint32_t rate)
{
    struct termios2 t2;
    if (ioctl(fd, TCGETS2, &t2) != 0)
        return false;
    t2.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t2.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t2.c_ispeed = rate;
    t2.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &t2) == 0;
}
