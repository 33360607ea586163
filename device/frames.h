#pragma once
// The converter's wire format: uppercase hexadecimal ASCII requests ended by CR, read answers of
// 256 digits plus a two-digit checksum, and seven-character write acknowledgements.

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t Read_Request_Len = 15;
inline constexpr std::size_t Read_Answer_Len = 258; // 128 bytes as digits, then the checksum
inline constexpr std::size_t Ack_Min_Len = 7;
inline constexpr std::size_t Write_Frame_Len(std::size_t N) {
    return 17 + 2 * N;
}

// Poll rules of the two waits: one poll every Poll_ms; a read answer must be complete within
// Read_Answer_Polls polls, an acknowledgement must start within Ack_Silent_Polls empty polls.
inline constexpr std::int32_t Poll_ms = 10;
inline constexpr std::int32_t Read_Answer_Polls = 50;
inline constexpr std::int32_t Ack_Silent_Polls = 1100;

// Writes the 15 characters of a read request into Out; returns their number.
std::size_t Build_Read_Request(char* Out, std::uint8_t Mem_Type, std::uint32_t Address, std::uint8_t Code,
                               std::uint32_t Count);

// Writes a write frame carrying Data[0..N-1] into Out (room for Write_Frame_Len(N) characters);
// returns its length.
std::size_t Build_Write_Frame(char* Out, std::uint8_t Mem_Type, std::uint32_t Address, std::uint8_t Code,
                              const std::uint8_t* Data, std::size_t N);

// Decodes N received characters of a read answer into Bytes (room for 128). Non-digits before
// the checksum are skipped; the last two characters are the checksum. Count receives the number
// of bytes decoded. False when the checksum is not two digits, does not match, or the answer
// holds more than 128 bytes.
bool Decode_Read_Answer(const char* Chars, std::size_t N, std::uint8_t* Bytes, std::uint8_t& Count);

// True when the N characters are an acknowledgement: at least 7, with "O.K." at positions 3 to 6.
bool Is_Write_Ack(const char* Chars, std::size_t N);
