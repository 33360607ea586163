#pragma once
// The converter's side of the wire format, parsed and built here with code of its own, so that a
// fault in the configurator's frame encoder cannot hide behind the same fault in the simulator.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::uint8_t Sim_Req_Read = 0x03;
inline constexpr std::uint8_t Sim_Req_Write = 0x02;          // program region and parameter block
inline constexpr std::uint8_t Sim_Req_Write_Internal = 0x0B; // internal data area

// The write acknowledgement: printable, with "O.K." at positions 3 to 6 as the receiver expects.
inline constexpr std::string_view Sim_Ack = "ACKO.K.";

struct TSimRequest {
    std::uint8_t Memory_Type = 0;
    std::uint32_t Address = 0;
    std::uint8_t Code = 0;
    std::vector<std::uint8_t> Data; // write frames only

    bool Is_Write() const { return Code != Sim_Req_Read; }
};

// Takes one request line without its CR. Empty unless the line is a frame this converter serves:
// uppercase hexadecimal digits only, a known request code with a memory type it allows, a read
// count of 0080 or a write count of 1 to 128 matched by the data, the data's checksum, and bytes
// that lie in the area the code may touch (reads: anywhere; code 02: program region and parameter
// block page; code 0B, memory type 0 or 1: internal data area).
std::optional<TSimRequest> Parse_Request(std::string_view Line);

// How a read answer lays out its digits. The receiver skips anything that is not a digit, but a
// longer answer may still be on the line when it reads, so the separated forms are faults.
enum class TSimSpacing {
    spNone,   // 256 data digits, 2 checksum digits
    spSpaces, // a space after every 8 data digits: 290 characters
    spCrLf    // CR LF after every 32 data digits: 274 characters
};

// The answer to a read request for the 128 Bytes given: their digits, then the two digits of their
// exclusive-or, with no terminator. Corrupt sends the checksum's complement instead. Noise sends
// the two digits of the first zero byte (of the first byte when none is zero) as two NULs, the way
// line noise can: the checksum still matches when that byte is zero, but one byte is missing.
std::string Encode_Read_Answer(std::span<const std::uint8_t> Bytes, TSimSpacing Spacing, bool Corrupt,
                               bool Noise = false);
