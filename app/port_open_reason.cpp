#include "port_open_reason.h"

#include "comm_int.h"

std::string Port_Open_Reason(const Tarm_SER& Arm, std::chrono::milliseconds Allowance) {
    const std::string Port = Arm.Com_Port.empty() ? std::string("no port selected") : Arm.Com_Port;
    // Open_Error belongs to the worker until it says the open has finished.
    if (Arm.InitDone() == 0)
        return Port + ": the port did not open within " + std::to_string(Allowance.count()) + " ms";
    std::string Reason = Port + ": " + Arm.Open_Error;
    if (Is_Permission_Error(ECommError(Arm.Open_Error, Arm.Open_Error_Code)))
        Reason += "\nYour user needs access to the serial device: on Debian add it to the group 'dialout' "
                  "(sudo adduser $USER dialout) and log in again.";
    return Reason;
}
