#include "port_open.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(PortOpen, ErrorsAreSaidInWordsATechnicianActsOn) {
    const struct {
        std::int32_t Code;
        TPortFault Kind;
        const char* Says;
    } Cases[] = {
        {EBUSY, TPortFault::pfInUse, "in use by another program"},
        {ENOENT, TPortFault::pfNoDevice, "no such device"},
        {ENXIO, TPortFault::pfNoDevice, "no such device"},
        {-1, TPortFault::pfNotSerial, "not a serial device"},
        {ENOTTY, TPortFault::pfNotSerial, "not a serial device"},
        {EACCES, TPortFault::pfAccessDenied, "dialout"},
        {EPERM, TPortFault::pfAccessDenied, "access is denied"},
        {EIO, TPortFault::pfOther, "cannot be opened"},
    };
    for (const auto& C : Cases) {
        const TPortOpenError E = Describe_Port_Open_Error("/dev/sw40815-no-such-port", C.Code);
        EXPECT_EQ(E.Kind, C.Kind) << C.Code;
        EXPECT_NE(E.Text.find(C.Says), std::string::npos) << C.Code << ": " << E.Text;
        EXPECT_EQ(E.Holder.Pid, 0) << C.Code;
    }
}

} // namespace
