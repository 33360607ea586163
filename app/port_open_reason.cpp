#include "port_open_reason.h"

#include "port_open.h"

std::string Port_Open_Reason(const Tarm_SER& Arm, std::chrono::milliseconds Allowance) {
    const std::string Path = Arm.Com_Port.Get();
    const std::string Port = Path.empty() ? std::string("no port selected") : Path;
    // Open_Error belongs to the worker until it says the open has finished.
    if (Arm.InitDone() == 0)
        return Port + ": the port did not open within " + std::to_string(Allowance.count()) + " ms";
    // The words a technician acts on, then the port's own message for whoever needs the detail.
    return Port + ": " + Describe_Port_Open_Error(Path, Arm.Open_Error_Code).Text + "\n(" + Arm.Open_Error +
           ")";
}
