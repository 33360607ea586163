#pragma once
// The kernel's own terminal interface (termios2), kept apart because its header cannot live in the
// same translation unit as <termios.h>. Only this interface sets rates that have no B constant.

#include <cstdint>

// The complete terminal state as the kernel holds it, custom rates included.
struct TKernel_Termios {
    alignas(8) unsigned char Bytes[64];
};

// Each returns 0, or -1 with errno set.
int Save_Kernel_Termios(int Fd, TKernel_Termios& Saved);
int Restore_Kernel_Termios(int Fd, const TKernel_Termios& Saved);
// Sets both directions to Bps bits per second, whatever the rate.
int Set_Custom_Speed(int Fd, std::uint32_t Bps);
// The output rate the driver reports, in bits per second.
int Get_Line_Speed(int Fd, std::uint32_t& Bps);
