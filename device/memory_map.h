#pragma once
// The converter's memory as the link sees it, and the request codes of its frames.

#include <cstdint>

inline constexpr std::uint32_t Addr_Prg_Start = 0x4000;      // program region, 128 KiB
inline constexpr std::uint32_t Addr_Prg_End = 0x23FFF;       // last byte of the program region
inline constexpr std::uint32_t Addr_Data = 0x24000;          // parameter block
inline constexpr std::uint32_t Addr_Data_End = 0x24FFF;      // last byte of the parameter block's page
inline constexpr std::uint32_t Addr_Internal_Data = 0x3F000; // base of the internal data area
inline constexpr std::uint32_t Addr_Internal_End = 0x3FFFF;  // last byte of the internal data area
inline constexpr std::uint32_t Addr_Protection = 0x3F000;    // protection word, most significant byte first
inline constexpr std::uint32_t Addr_MacAdd = 0x3F004;        // MAC address, 6 bytes

// Besides 0, the protection word that lets the configurator work on a converter.
inline constexpr std::uint32_t Protection_Code = 0xA7;

inline constexpr std::uint8_t Req_Read = 3;
inline constexpr std::uint8_t Req_Write = 2;           // program region and parameter block
inline constexpr std::uint8_t Req_Write_Internal = 11; // internal data area

// A frame carries six address digits.
inline constexpr std::uint32_t Max_Frame_Address = 0xFFFFFF;

// Memory moves in blocks of this many bytes; every read asks for one whole block.
inline constexpr std::uint32_t Block_Size = 128;
inline constexpr std::uint32_t Prg_Size = Addr_Prg_End - Addr_Prg_Start + 1;
