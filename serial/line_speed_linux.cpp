// termios2 calls. This file must not include <termios.h>: both it and <asm/termbits.h> define
// struct termios and the same constants.

#include "line_speed_linux.h"

#include <cstring>

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

static_assert(sizeof(termios2) <= sizeof(TKernel_Termios::Bytes));

int Save_Kernel_Termios(int Fd, TKernel_Termios& Saved) {
    termios2 Tio;
    if (::ioctl(Fd, TCGETS2, &Tio) < 0) return -1;
    std::memcpy(Saved.Bytes, &Tio, sizeof Tio);
    return 0;
}

int Restore_Kernel_Termios(int Fd, const TKernel_Termios& Saved) {
    termios2 Tio;
    std::memcpy(&Tio, Saved.Bytes, sizeof Tio);
    return ::ioctl(Fd, TCSETS2, &Tio);
}

int Set_Custom_Speed(int Fd, std::uint32_t Bps) {
    termios2 Tio;
    if (::ioctl(Fd, TCGETS2, &Tio) < 0) return -1;
    // BOTHER takes the rate from c_ospeed; an input field of zero means "same as output".
    Tio.c_cflag &= ~(CBAUD | CIBAUD);
    Tio.c_cflag |= BOTHER;
    Tio.c_ospeed = Bps;
    Tio.c_ispeed = Bps;
    return ::ioctl(Fd, TCSETS2, &Tio);
}

int Get_Line_Speed(int Fd, std::uint32_t& Bps) {
    termios2 Tio;
    if (::ioctl(Fd, TCGETS2, &Tio) < 0) return -1;
    Bps = Tio.c_ospeed;
    return 0;
}
