#pragma once
// Line rates without a Bxxx constant, through the kernel's termios2 interface. Kept in
// a file of its own because <asm/termbits.h> cannot share a translation unit with
// <termios.h>.
#include <cstdint>

namespace orvi::platform {

// Sets input and output rate of the tty to `rate` bits per second (BOTHER), leaving
// every other setting as it is. 0 on success, else the errno of the failed ioctl.
int SetAnyBaudRate(int fd, uint32_t rate);

// The output rate the driver holds, whatever way it was set; 0 when it cannot be read.
uint32_t ReadBaudRate(int fd);

} // namespace orvi::platform
