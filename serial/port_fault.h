#pragma once
// Why a port did not open, as far as the platform can tell, and which other program holds a
// port that is in use. Callers turn these into words; nothing here prints.

#include <cstdint>
#include <string>

enum class TPortFault {
    pfOther,        // anything else: only the port's own message says more
    pfInUse,        // another program holds the port
    pfNoDevice,     // there is no device at the path (unplugged, or a wrong name)
    pfNotSerial,    // the path is something other than a serial device
    pfAccessDenied, // the user may not open the device
};

// The kind of an error code that the port's Open raised.
TPortFault Port_Fault_Of(std::int32_t ErrorCode);

struct TPortHolder {
    std::int64_t Pid = 0; // 0: no holder found
    std::string Name;     // the program's name as the system lists it
};

// Another process that holds Device_Path locked or open. A lock on the device names its holder
// for certain; without one, the first other process with the device open is taken.
TPortHolder Port_Holder(const std::string& Device_Path);
