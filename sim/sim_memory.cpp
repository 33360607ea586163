#include "sim_memory.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace {

constexpr std::array<std::uint8_t, 4> default_parameters = {9, 0, 5, 0};
constexpr std::array<std::uint8_t, 4> default_protection = {0, 0, 0, 0};
// Locally administered, so it cannot clash with a real device on a network.
constexpr std::array<std::uint8_t, 6> default_mac = {0x02, 0x40, 0x81, 0x50, 0x00, 0x01};

void check_range(std::uint32_t address, std::size_t count) {
    if (!TSimMemory::Contains(address, count))
        throw std::out_of_range("simulated converter: address outside its memory");
}

} // namespace

TSimMemory::TSimMemory() : FBytes(Size, 0xFF) {
    Write(Data, default_parameters);
    Write(Protection, default_protection);
    Write(MacAdd, default_mac);
}

void TSimMemory::Read(std::uint32_t Address, std::span<std::uint8_t> Out) const {
    check_range(Address, Out.size());
    std::copy_n(FBytes.begin() + Address, Out.size(), Out.begin());
}

void TSimMemory::Write(std::uint32_t Address, std::span<const std::uint8_t> Bytes) {
    check_range(Address, Bytes.size());
    std::copy(Bytes.begin(), Bytes.end(), FBytes.begin() + Address);
}
