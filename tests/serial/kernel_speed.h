#pragma once
#include <cstdint>

// The output rate the kernel holds for the terminal Fd, and whether it is a custom (BOTHER) rate.
// Read through termios2 independently of the code under test.
bool Kernel_Speed(int Fd, std::uint32_t& Bps, bool& Custom);
