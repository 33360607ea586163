// Kept apart: <asm/termbits.h> cannot share a translation unit with <termios.h>.
#include "kernel_speed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

bool Kernel_Speed(int Fd, std::uint32_t& Bps, bool& Custom) {
    termios2 Tio;
    if (::ioctl(Fd, TCGETS2, &Tio) < 0) return false;
    Bps = Tio.c_ospeed;
    Custom = (Tio.c_cflag & CBAUD) == BOTHER;
    return true;
}
