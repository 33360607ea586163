#include "frames.h"

#include <cstring>

namespace {

const char Hex_Digits[] = "0123456789ABCDEF";

char* put_hex(char* Out, std::uint32_t Value, int Width) {
    for (int i = Width - 1; i >= 0; --i) {
        Out[i] = Hex_Digits[Value & 0xF];
        Value >>= 4;
    }
    return Out + Width;
}

// The converter speaks uppercase only: lowercase letters are not digits on this line.
int digit_value(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return -1;
}

char* put_header(char* Out, std::uint8_t Mem_Type, std::uint32_t Address, std::uint8_t Code,
                 std::uint32_t Count) {
    Out = put_hex(Out, Mem_Type, 2);
    Out = put_hex(Out, Address & 0xFFFFFF, 6);
    Out = put_hex(Out, Code, 2);
    return put_hex(Out, Count & 0xFFFF, 4);
}

} // namespace

std::size_t Build_Read_Request(char* Out, std::uint8_t Mem_Type, std::uint32_t Address, std::uint8_t Code,
                               std::uint32_t Count) {
    char* P = put_header(Out, Mem_Type, Address, Code, Count);
    *P++ = '\r';
    return static_cast<std::size_t>(P - Out);
}

std::size_t Build_Write_Frame(char* Out, std::uint8_t Mem_Type, std::uint32_t Address, std::uint8_t Code,
                              const std::uint8_t* Data, std::size_t N) {
    char* P = put_header(Out, Mem_Type, Address, Code, static_cast<std::uint32_t>(N));
    std::uint8_t Sum = 0;
    for (std::size_t i = 0; i < N; ++i) {
        P = put_hex(P, Data[i], 2);
        Sum ^= Data[i];
    }
    P = put_hex(P, Sum, 2);
    *P++ = '\r';
    return static_cast<std::size_t>(P - Out);
}

bool Decode_Read_Answer(const char* Chars, std::size_t N, std::uint8_t* Bytes, std::uint8_t& Count) {
    Count = 0;
    if (N < 2) return false;
    std::size_t K = 0;
    std::uint8_t Sum = 0;
    int High = -1;
    bool Overflow = false;
    for (std::size_t i = 0; i < N - 2; ++i) {
        const int D = digit_value(Chars[i]);
        if (D < 0) continue;
        if (High < 0) {
            High = D;
            continue;
        }
        const auto Byte = static_cast<std::uint8_t>(High << 4 | D);
        High = -1;
        if (K == 128) {
            Overflow = true;
            continue;
        }
        Bytes[K++] = Byte;
        Sum ^= Byte;
    }
    Count = static_cast<std::uint8_t>(K);
    const int C1 = digit_value(Chars[N - 2]);
    const int C2 = digit_value(Chars[N - 1]);
    if (C1 < 0 || C2 < 0 || Overflow || K != 128) return false;
    return static_cast<std::uint8_t>(C1 << 4 | C2) == Sum;
}

bool Is_Write_Ack(const char* Chars, std::size_t N) {
    return N >= Ack_Min_Len && std::memcmp(Chars + 3, "O.K.", 4) == 0;
}
