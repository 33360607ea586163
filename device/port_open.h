#pragma once
// Why a port did not open, in words a technician acts on. The window shows the text as the
// tooltip of a failed connect and the command-line tool prints it; both keep the port's own
// message and code for whoever needs the detail.

#include "port_fault.h"

#include <cstdint>
#include <string>

struct TPortOpenError {
    TPortFault Kind = TPortFault::pfOther;
    TPortHolder Holder; // for pfInUse, when the holding program could be found
    std::string Text;   // English, without the port's name
};

// Describes the error code that opening Device_Path raised.
TPortOpenError Describe_Port_Open_Error(const std::string& Device_Path, std::int32_t ErrorCode);
