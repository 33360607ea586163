// The simulated converter's request parser takes whatever a client writes to its terminal.

#include "sim_frame.h"
#include "sim_memory.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    const auto Request = Parse_Request(std::string_view(reinterpret_cast<const char*>(Data), Size));
    if (!Request) return 0;
    // What it accepts it must be able to serve without leaving the memory.
    const std::size_t Count = Request->Is_Write() ? Request->Data.size() : TSimMemory::Block;
    if (Count == 0 || Count > TSimMemory::Block || !TSimMemory::Contains(Request->Address, Count))
        std::abort();
    TSimMemory Memory;
    if (Request->Is_Write()) Memory.Write(Request->Address, Request->Data);
    std::uint8_t Block[TSimMemory::Block];
    if (!Request->Is_Write()) Memory.Read(Request->Address, Block);
    return 0;
}
