#pragma once
// Why a worker's port did not open, in words for the user: the device path, the port's own
// message and, for a refused permission, how to get access.

#include "arm_usb.h"

#include <chrono>
#include <string>

// Allowance: how long the caller waited; a worker still opening is described by it.
std::string Port_Open_Reason(const Tarm_SER& Arm, std::chrono::milliseconds Allowance);
