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

// Rules of the two waits: one poll every Poll_ms; a read answer must be complete within
// Read_Answer_Polls polls (Read_Answer_Timeout_ms), an acknowledgement must start within
// Ack_Silent_Polls empty polls.
inline constexpr std::int32_t Poll_ms = 10;
inline constexpr std::int32_t Read_Answer_Polls = 50;
inline constexpr std::int32_t Read_Answer_Timeout_ms = Read_Answer_Polls * Poll_ms;
inline constexpr std::int32_t Ack_Silent_Polls = 1100;
// Answers carry no address: after a failed exchange the next request first lets this long pass
// from the failure, so that a late answer to the failed request arrives and is thrown away
// instead of being taken for the answer to the next one.
inline constexpr std::int32_t Late_Answer_Grace_ms = 1000;

// Writes the 15 characters of a read request into Out; returns their number.
std::size_t Build_Read_Request(char* Out, std::uint8_t Mem_Type, std::uint32_t Address, std::uint8_t Code,
                               std::uint32_t Count);

// Writes a write frame carrying Data[0..N-1] into Out (room for Write_Frame_Len(N) characters);
// returns its length.
std::size_t Build_Write_Frame(char* Out, std::uint8_t Mem_Type, std::uint32_t Address, std::uint8_t Code,
                              const std::uint8_t* Data, std::size_t N);

// Decodes N received characters of a read answer into Bytes (room for 128). Non-digits before
// the checksum are skipped; the last two characters are the checksum. Count receives the number
// of bytes decoded. Good only when exactly 128 bytes were decoded and the checksum is two digits
// that match: line noise that turns a byte's digits into other characters leaves 127 bytes whose
// exclusive-or may still match, and those bytes would all sit one place off.
bool Decode_Read_Answer(const char* Chars, std::size_t N, std::uint8_t* Bytes, std::uint8_t& Count);

// True when the N characters are an acknowledgement: at least 7, with "O.K." at positions 3 to 6.
bool Is_Write_Ack(const char* Chars, std::size_t N);
