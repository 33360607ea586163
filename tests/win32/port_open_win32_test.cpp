#include "port_open.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

TEST(PortOpen, WindowsErrorsAreSaidInWordsATechnicianActsOn) {
    const struct {
        std::int32_t Code;
        TPortFault Kind;
        const char* Says;
    } Cases[] = {
        // A COM port opens exclusively: a refusal means another program has it, never a missing right.
        {ERROR_ACCESS_DENIED, TPortFault::pfInUse, "in use by another program"},
        {ERROR_SHARING_VIOLATION, TPortFault::pfInUse, "in use by another program"},
        {ERROR_FILE_NOT_FOUND, TPortFault::pfNoDevice, "no such device"},
        {ERROR_PATH_NOT_FOUND, TPortFault::pfNoDevice, "no such device"},
        {ERROR_DEVICE_NOT_CONNECTED, TPortFault::pfNoDevice, "no such device"},
        {-1, TPortFault::pfNotSerial, "not a serial device"},
        {ERROR_INVALID_FUNCTION, TPortFault::pfNotSerial, "not a serial device"},
        {ERROR_GEN_FAILURE, TPortFault::pfOther, "cannot be opened"},
        {ERROR_INVALID_PARAMETER, TPortFault::pfOther, "cannot be opened"},
    };
    for (const auto& C : Cases) {
        const TPortOpenError E = Describe_Port_Open_Error("\\\\.\\COM250", C.Code);
        EXPECT_EQ(E.Kind, C.Kind) << C.Code;
        EXPECT_NE(E.Text.find(C.Says), std::string::npos) << C.Code << ": " << E.Text;
        EXPECT_EQ(E.Holder.Pid, 0) << C.Code; // Windows names no holder
        EXPECT_EQ(E.Text.find("dialout"), std::string::npos) << C.Code << ": " << E.Text;
    }
}

} // namespace
