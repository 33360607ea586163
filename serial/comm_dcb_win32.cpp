// Line settings into the device control block.

#include "comm_dcb_win32.h"

#include <cstddef>
#include <cstring>
#include <iterator>

namespace {

constexpr DWORD fBinary = 0x0001;
constexpr DWORD fOutxCtsFlow = 0x0004;
constexpr DWORD fOutxDsrFlow = 0x0008;
constexpr DWORD DTR_Handshake = 0x0020; // DTR_CONTROL_HANDSHAKE in the two DTR control bits
constexpr DWORD fOutX = 0x0100;
constexpr DWORD fInX = 0x0200;
constexpr DWORD RTS_Handshake = 0x2000; // RTS_CONTROL_HANDSHAKE in the two RTS control bits

// The flag each TCommOption stands for, by ordinal: fParity, fDsrSensitivity, fTXContinueOnXoff,
// fErrorChar, fNull.
constexpr DWORD Option_Flag[] = {0x0002, 0x0040, 0x0080, 0x0400, 0x0800};

// The flag word sits right after BaudRate; GCC and MSVC both lay the bit fields out from bit 0.
constexpr std::size_t Flags_Offset = offsetof(DCB, BaudRate) + sizeof(DWORD);

DWORD apply_flow_control(DWORD Flags, TFlowControl Flow) {
    switch (Flow) {
    case fcNone:
        return fBinary; // also DTR_CONTROL_DISABLE and RTS_CONTROL_DISABLE: both lines drop
    case fcCTS:
        return Flags | fOutxCtsFlow | RTS_Handshake;
    case fcDTR:
        return Flags | fOutxDsrFlow | DTR_Handshake;
    case fcSoftware:
        return Flags | fOutX | fInX;
    case fcDefault:
        break;
    }
    return Flags;
}

} // namespace

DWORD DCB_Flags(const DCB& Dcb) {
    DWORD Flags;
    std::memcpy(&Flags, reinterpret_cast<const char*>(&Dcb) + Flags_Offset, sizeof Flags);
    return Flags;
}

void Set_DCB_Flags(DCB& Dcb, DWORD Flags) {
    std::memcpy(reinterpret_cast<char*>(&Dcb) + Flags_Offset, &Flags, sizeof Flags);
}

void Apply_Line_Settings(DCB& Dcb, const TLine_Settings& Settings) {
    Dcb.BaudRate = Baudrate_Value[Settings.BaudRate];
    Dcb.Parity = static_cast<BYTE>(Settings.Parity);
    Dcb.StopBits = static_cast<BYTE>(Settings.Stopbits);
    Dcb.ByteSize = static_cast<BYTE>(4 + Settings.Databits);
    Dcb.XonChar = Settings.XonChar;
    Dcb.XoffChar = Settings.XoffChar;
    Dcb.ErrorChar = Settings.ErrorChar;
    Dcb.EofChar = Settings.EofChar;
    Dcb.EvtChar = Settings.EvtChar;
    Dcb.XonLim = static_cast<WORD>(Settings.ReadBufSize / 4);
    Dcb.XoffLim = static_cast<WORD>(Settings.ReadBufSize / 4);
    DWORD Flags = apply_flow_control(DCB_Flags(Dcb), Settings.FlowControl);
    // The options have the last word over their bits, whatever the flow control did.
    for (std::size_t Option = 0; Option < std::size(Option_Flag); ++Option) {
        if (Settings.Options.Contains(static_cast<TCommOption>(Option)))
            Flags |= Option_Flag[Option];
        else
            Flags &= ~Option_Flag[Option];
    }
    Set_DCB_Flags(Dcb, Flags);
}
