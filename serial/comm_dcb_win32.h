#pragma once
// The device control block as the port's settings make it, apart from the driver so that it can
// be checked without one.

#include "comm_types.h"

#include <cstdint>

#include <windows.h>

struct TLine_Settings {
    TBaudrate BaudRate;
    TParity Parity;
    TStopbits Stopbits;
    TDatabits Databits;
    TFlowControl FlowControl;
    TCommOptions Options;
    char XonChar, XoffChar, ErrorChar, EofChar, EvtChar;
    std::int32_t ReadBufSize;
};

// Writes Settings into Dcb, which holds what the driver reported: every field not named in
// Settings keeps the driver's value, and the flow-control modes other than fcNone only add flags.
void Apply_Line_Settings(DCB& Dcb, const TLine_Settings& Settings);

// The DCB's flag bits as one word, bit n being the n-th flag of the structure (fBinary 0x0001,
// fParity 0x0002, ... fAbortOnError 0x4000), as the driver documents it.
DWORD DCB_Flags(const DCB& Dcb);
void Set_DCB_Flags(DCB& Dcb, DWORD Flags);
