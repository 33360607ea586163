#include "port_open.h"

TPortOpenError Describe_Port_Open_Error(const std::string& Device_Path, std::int32_t ErrorCode) {
    TPortOpenError Error;
    Error.Kind = Port_Fault_Of(ErrorCode);
    switch (Error.Kind) {
    case TPortFault::pfInUse:
        Error.Holder = Port_Holder(Device_Path);
        Error.Text = "the port is in use by another program";
        if (Error.Holder.Pid != 0)
            Error.Text += " (" + (Error.Holder.Name.empty() ? std::string("unknown") : Error.Holder.Name) +
                          ", process " + std::to_string(Error.Holder.Pid) + ")";
        Error.Text += "; close that program and try again";
        break;
    case TPortFault::pfNoDevice:
        Error.Text =
            "there is no such device; check that the adapter is plugged in and the port is the right one";
        break;
    case TPortFault::pfNotSerial:
        Error.Text = "the path is not a serial device";
        break;
    case TPortFault::pfAccessDenied:
        Error.Text = "access is denied; your user must be a member of the serial devices' group: on Debian "
                     "run 'sudo adduser $USER dialout' and log in again";
        break;
    case TPortFault::pfOther:
        Error.Text = "the port cannot be opened";
        break;
    }
    return Error;
}
