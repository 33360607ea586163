// The read-answer decoder takes whatever the converter (or the noise on its line) sends.

#include "frames.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    std::uint8_t Bytes[128];
    std::uint8_t Count = 0;
    const bool Good = Decode_Read_Answer(reinterpret_cast<const char*>(Data), Size, Bytes, Count);
    // A good answer is exactly one whole block.
    if (Count > 128 || (Good && Count != 128)) std::abort();
    (void)Is_Write_Ack(reinterpret_cast<const char*>(Data), Size);
    return 0;
}
