// Port faults on Windows: the error codes of a failed CreateFile or of the settings that follow.
// Windows names no program that holds a port.

#include "port_fault.h"

#include <windows.h>

TPortFault Port_Fault_Of(std::int32_t ErrorCode) {
    switch (ErrorCode) {
    case ERROR_ACCESS_DENIED: // a COM port is opened exclusively: someone else has it
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return TPortFault::pfInUse;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_INVALID_NAME:
        return TPortFault::pfNoDevice;
    case -1:                     // the port opened the path and found no character device behind it
    case ERROR_INVALID_FUNCTION: // a character device whose driver has no serial functions
        return TPortFault::pfNotSerial;
    default:
        return TPortFault::pfOther;
    }
}

TPortHolder Port_Holder(const std::string&) {
    return {};
}
