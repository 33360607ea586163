#include "sim_frame.h"

#include "sim_memory.h"

#include <algorithm>

namespace {

constexpr char hex_digits[] = "0123456789ABCDEF";

struct TRequestRule {
    std::uint8_t Code;
    bool Write;
    std::uint8_t Max_Memory_Type;
    std::uint32_t First; // the frame's bytes must lie in First..Last
    std::uint32_t Last;
};

constexpr TRequestRule request_rules[] = {
    {Sim_Req_Read, false, 0, 0, TSimMemory::Size - 1},
    {Sim_Req_Write, true, 0, TSimMemory::Prg_Start, TSimMemory::Data_End},
    // Memory type 1 marks the protection-word write.
    {Sim_Req_Write_Internal, true, 1, TSimMemory::Internal_Data, TSimMemory::Internal_End},
};

constexpr std::size_t header_length = 14;

// Lowercase digits are refused: the configurator must send uppercase ones.
int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::uint32_t> hex_field(std::string_view Line, std::size_t Position, std::size_t Width) {
    std::uint32_t value = 0;
    for (char c : Line.substr(Position, Width)) {
        int digit = digit_value(c);
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

void append_byte(std::string& Out, std::uint8_t Byte) {
    Out += hex_digits[Byte >> 4];
    Out += hex_digits[Byte & 0x0F];
}

} // namespace

std::optional<TSimRequest> Parse_Request(std::string_view Line) {
    if (Line.size() < header_length) return std::nullopt;
    auto memory_type = hex_field(Line, 0, 2);
    auto address = hex_field(Line, 2, 6);
    auto code = hex_field(Line, 8, 2);
    auto count = hex_field(Line, 10, 4);
    if (!memory_type || !address || !code || !count) return std::nullopt;

    auto rule = std::find_if(std::begin(request_rules), std::end(request_rules),
                             [&](const TRequestRule& r) { return r.Code == *code; });
    if (rule == std::end(request_rules) || *memory_type > rule->Max_Memory_Type) return std::nullopt;

    TSimRequest request;
    request.Memory_Type = static_cast<std::uint8_t>(*memory_type);
    request.Address = *address;
    request.Code = static_cast<std::uint8_t>(*code);

    if (!rule->Write) {
        if (Line.size() != header_length || *count != TSimMemory::Block) return std::nullopt;
    } else {
        if (*count == 0 || *count > TSimMemory::Block || Line.size() != header_length + 2 * *count + 2)
            return std::nullopt;
        std::uint8_t sum = 0;
        for (std::uint32_t i = 0; i < *count; ++i) {
            auto byte = hex_field(Line, header_length + 2 * i, 2);
            if (!byte) return std::nullopt;
            request.Data.push_back(static_cast<std::uint8_t>(*byte));
            sum ^= static_cast<std::uint8_t>(*byte);
        }
        auto checksum = hex_field(Line, header_length + 2 * *count, 2);
        if (!checksum || *checksum != sum) return std::nullopt;
    }
    // Neither can overflow: the address has six digits and the count is at most 128.
    if (*address < rule->First || *address + *count - 1 > rule->Last) return std::nullopt;
    return request;
}

std::string Encode_Read_Answer(std::span<const std::uint8_t> Bytes, TSimSpacing Spacing, bool Corrupt,
                               bool Noise) {
    std::string answer;
    answer.reserve(2 * Bytes.size() + 40);
    std::size_t noisy = Bytes.size();
    if (Noise) {
        auto zero = std::find(Bytes.begin(), Bytes.end(), std::uint8_t{0});
        noisy = zero == Bytes.end() ? 0 : static_cast<std::size_t>(zero - Bytes.begin());
    }
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < Bytes.size(); ++i) {
        if (i == noisy)
            answer.append(2, '\0');
        else
            append_byte(answer, Bytes[i]);
        sum ^= Bytes[i];
        if (Spacing == TSimSpacing::spSpaces && i % 4 == 3) answer += ' ';
        if (Spacing == TSimSpacing::spCrLf && i % 16 == 15) answer += "\r\n";
    }
    append_byte(answer, Corrupt ? static_cast<std::uint8_t>(~sum) : sum);
    return answer;
}
