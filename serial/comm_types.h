#pragma once
// Line settings and the failure type of the serial port component.

#include <cstdint>
#include <stdexcept>
#include <string>

enum TBaudrate : std::uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
    br1500000,
    br3000000
};
enum TParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits : std::uint8_t { sb10, sb15, sb20 };
enum TDatabits : std::uint8_t { da4, da5, da6, da7, da8 };
enum TFlowControl : std::uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };

// Bits per second of each TBaudrate, indexed by its ordinal.
inline constexpr std::uint32_t Baudrate_Value[] = {110,    300,    600,    1200,    2400,   4800,
                                                   9600,   14400,  19200,  38400,   56000,  57600,
                                                   115200, 128000, 256000, 1500000, 3000000};

// The one failure the port raises. ErrorCode is the platform's error number of the call
// that failed, or -1 when the component itself refuses the operation.
class ECommError : public std::runtime_error {
public:
    ECommError(const std::string& Msg, std::int32_t Code) : std::runtime_error(Msg), ErrorCode(Code) {}
    std::int32_t ErrorCode;
};
