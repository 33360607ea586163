// The device control block the port's settings make, checked without a driver (Wine's driver
// rebuilds part of it from the terminal and so cannot show it).

#include "comm_dcb_win32.h"

#include <gtest/gtest.h>

namespace {

TLine_Settings link_settings() {
    return {br115200, paNone, sb10, da8, fcNone, {}, 17, 19, 0, 0, 0, 4096};
}

// What a driver might report: every flag the flow-control modes and options touch, plus
// abort-on-error and DTR/RTS enabled.
DCB driver_state() {
    DCB Dcb{};
    Dcb.DCBlength = sizeof Dcb;
    Set_DCB_Flags(Dcb, 0x0001 | 0x0002 | 0x0010 | 0x0040 | 0x0080 | 0x0400 | 0x0800 | 0x1000 | 0x4000);
    Dcb.wReserved1 = 0x1234; // a field the settings do not name
    return Dcb;
}

TEST(LineSettings, FieldsComeFromTheSettings) {
    DCB Dcb = driver_state();
    TLine_Settings S = link_settings();
    S.BaudRate = br3000000;
    S.Parity = paSpace;
    S.Stopbits = sb20;
    S.Databits = da7;
    S.ErrorChar = '?';
    S.EvtChar = '\r';
    S.ReadBufSize = 4098;
    Apply_Line_Settings(Dcb, S);
    EXPECT_EQ(Dcb.BaudRate, 3000000u);
    EXPECT_EQ(Dcb.Parity, SPACEPARITY);
    EXPECT_EQ(Dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(Dcb.ByteSize, 7);
    EXPECT_EQ(Dcb.XonChar, 17);
    EXPECT_EQ(Dcb.XoffChar, 19);
    EXPECT_EQ(Dcb.ErrorChar, '?');
    EXPECT_EQ(Dcb.EvtChar, '\r');
    EXPECT_EQ(Dcb.XonLim, 1024); // a quarter of the receive buffer, rounded down
    EXPECT_EQ(Dcb.XoffLim, 1024);
    EXPECT_EQ(Dcb.wReserved1, 0x1234);
}

TEST(LineSettings, FlowControlAndOptionsMakeTheFlagWord) {
    const DWORD Reported = DCB_Flags(driver_state());
    const DWORD Option_Bits = 0x0002 | 0x0040 | 0x0080 | 0x0400 | 0x0800;
    const struct {
        TFlowControl Flow;
        TCommOptions Options;
        DWORD Flags;
    } Cases[] = {
        // fcNone keeps fBinary alone, lines disabled; the options have the last word.
        {fcNone, {}, 0x0001},
        {fcNone, {coParityCheck}, 0x0001 | 0x0002},
        {fcNone,
         {coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip},
         0x0001 | 0x0040 | 0x0080 | 0x0400 | 0x0800},
        // The other modes add their bits to what the driver reported.
        {fcCTS, {}, (Reported & ~Option_Bits) | 0x0004 | 0x2000},
        {fcDTR, {}, (Reported & ~Option_Bits) | 0x0008 | 0x0020},
        {fcSoftware, {coParityCheck}, (Reported & ~Option_Bits) | 0x0100 | 0x0200 | 0x0002},
        {fcDefault, {}, Reported & ~Option_Bits},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(static_cast<int>(Case.Flow));
        DCB Dcb = driver_state();
        TLine_Settings S = link_settings();
        S.FlowControl = Case.Flow;
        S.Options = Case.Options;
        Apply_Line_Settings(Dcb, S);
        EXPECT_EQ(DCB_Flags(Dcb), Case.Flags) << std::hex << DCB_Flags(Dcb);
    }
}

TEST(LineSettings, FlagWordIsTheStructuresBitFields) {
    DCB Dcb{};
    Set_DCB_Flags(Dcb, 0x0001 | 0x0002 | 0x0020 | 0x2000);
    EXPECT_EQ(Dcb.fBinary, 1u);
    EXPECT_EQ(Dcb.fParity, 1u);
    EXPECT_EQ(Dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
    EXPECT_EQ(Dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_EQ(Dcb.fOutX, 0u);
}

} // namespace
