#include "platform/Termios2_linux.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace orvi::platform {

int SetAnyBaudRate(int fd, uint32_t rate) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    // A zero input-rate field makes the input rate follow the output rate.
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER;
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

uint32_t ReadBaudRate(int fd) {
    struct termios2 t {};
    return ioctl(fd, TCGETS2, &t) == 0 ? uint32_t(t.c_ospeed) : 0;
}

} // namespace orvi::platform
