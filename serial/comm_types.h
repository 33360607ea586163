#pragma once
// Line settings and the failure type of the serial port component.

#include <cstdint>
#include <initializer_list>
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

enum TCommOption : std::uint8_t { coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip };
enum TCommEventType : std::uint8_t {
    evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty
};

// A set of enumeration values in which bit n stands for ordinal n.
template <typename TItem, typename TBits> class TSmallSet {
public:
    constexpr TSmallSet() = default;
    constexpr TSmallSet(std::initializer_list<TItem> Items) {
        for (TItem Item : Items)
            FBits = static_cast<TBits>(FBits | bit(Item));
    }
    static constexpr TSmallSet From_Bits(TBits Bits) {
        TSmallSet Set;
        Set.FBits = Bits;
        return Set;
    }
    constexpr bool Contains(TItem Item) const { return (FBits & bit(Item)) != 0; }
    constexpr TBits Bits() const { return FBits; }
    constexpr bool operator==(const TSmallSet&) const = default;

private:
    static constexpr TBits bit(TItem Item) { return static_cast<TBits>(TBits{1} << Item); }
    TBits FBits = 0;
};

using TCommOptions = TSmallSet<TCommOption, std::uint8_t>;
using TCommEventTypes = TSmallSet<TCommEventType, std::uint16_t>;

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
