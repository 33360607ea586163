#pragma once
// Serial port names. The user picks "COM" and a number; each number stands for a device path.
// On Windows COMn is the device \\.\COMn, present when it opens or another program holds it; the
// folders below are not used there. On Linux:
//   1. an entry COMn in the PORTS folder beside the program file (a link to the device), which is
//      how a user pins a port and how the simulated converter appears;
//   2. otherwise the serial devices the machine has, in a stable order, on the lowest numbers that
//      no PORTS entry holds.

#include <optional>
#include <string>
#include <vector>

struct TPortEntry {
    int Number;       // n of "COMn"
    std::string Name; // "COM3"
    std::string Path; // the device path to open
};

// The ports present now, by ascending number. A PORTS entry whose device is missing holds its
// number but is not listed. A missing folder lists nothing from it.
std::vector<TPortEntry> List_Ports(const std::string& Ports_Dir,
                                   const std::string& Sys_Class_Tty = "/sys/class/tty");

// The device path for Port: "COMn" (any case) as List_Ports numbers it, including a PORTS entry
// whose device is missing; a text holding '/' (or on Windows '\\') is a path already. Empty for
// an unknown name.
std::optional<std::string> Port_Path(const std::string& Port, const std::string& Ports_Dir,
                                     const std::string& Sys_Class_Tty = "/sys/class/tty");

// The number n of a port name "COMn" (any case, n from 1, no leading zero); empty otherwise.
std::optional<int> Port_Number(const std::string& Name);

// Folder of the running program file, where its PORTS folder lives.
std::string Program_Folder();
