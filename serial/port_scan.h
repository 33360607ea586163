#pragma once
// The platform's part of the port listing.

#include <string>
#include <vector>

// Device paths of the serial devices the machine has, in a stable order.
std::vector<std::string> Machine_Serial_Devices(const std::string& Sys_Class_Tty);
