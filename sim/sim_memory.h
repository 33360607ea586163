#pragma once
// The simulated converter's memory: one flat image of its 256 KiB address space, so that a saved
// image holds every byte at the offset of its device address. Not thread-safe on its own: the
// simulator guards it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class TSimMemory {
public:
    static constexpr std::uint32_t Size = 0x40000;
    static constexpr std::uint32_t Prg_Start = 0x4000; // program region, 128 KiB
    static constexpr std::uint32_t Prg_End = 0x23FFF;
    static constexpr std::uint32_t Data = 0x24000;     // parameter block
    static constexpr std::uint32_t Data_End = 0x24FFF; // the parameter block's page
    static constexpr std::uint32_t Internal_Data = 0x3F000;
    static constexpr std::uint32_t Internal_End = 0x3FFFF;
    static constexpr std::uint32_t Protection = 0x3F000; // 4 bytes, most significant first
    static constexpr std::uint32_t MacAdd = 0x3F004;     // 6 bytes
    static constexpr std::uint32_t Block = 128;          // bytes of every read answer

    // A fresh converter: everything erased to 0xFF except the parameter block's line settings
    // (9, 0, 5, 0: 115200 NONE on the serial side, 9600 NONE on the M-Bus side), a protection
    // word of 0 and a MAC address.
    TSimMemory();

    // True when Count bytes from Address lie inside the address space.
    static bool Contains(std::uint32_t Address, std::size_t Count) {
        return Address <= Size && Count <= Size - Address;
    }

    // Both raise std::out_of_range unless Contains(Address, size).
    void Read(std::uint32_t Address, std::span<std::uint8_t> Out) const;
    void Write(std::uint32_t Address, std::span<const std::uint8_t> Bytes);

    std::span<const std::uint8_t> Image() const { return FBytes; }

private:
    std::vector<std::uint8_t> FBytes;
};
