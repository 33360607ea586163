#include "frames.h"
#include "memory_map.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string read_request(std::uint8_t Type, std::uint32_t Address) {
    char Out[Read_Request_Len];
    return {Out, Build_Read_Request(Out, Type, Address, Req_Read, 128)};
}

std::string write_frame(std::uint8_t Type, std::uint32_t Address, std::uint8_t Code,
                        const std::vector<std::uint8_t>& Data) {
    std::vector<char> Out(Write_Frame_Len(Data.size()));
    return {Out.data(), Build_Write_Frame(Out.data(), Type, Address, Code, Data.data(), Data.size())};
}

TEST(Frames, WorkedRequestsAreByteExact) {
    std::vector<std::uint8_t> Block(128);
    for (std::size_t i = 0; i < Block.size(); ++i)
        Block[i] = static_cast<std::uint8_t>(i * 7 + 1);
    std::string Block_Digits;
    std::uint8_t Sum = 0;
    for (auto B : Block) {
        char Two[3];
        std::snprintf(Two, sizeof Two, "%02X", B);
        Block_Digits += Two;
        Sum ^= B;
    }
    char Sum_Digits[3];
    std::snprintf(Sum_Digits, sizeof Sum_Digits, "%02X", Sum);

    const struct {
        const char* Name;
        std::string Frame;
        std::string Expected;
    } Cases[] = {
        {"protection word read", read_request(0, Addr_Protection), "0003F000030080\r"},
        {"parameter block read", read_request(0, Addr_Data), "00024000030080\r"},
        {"MAC address read", read_request(0, Addr_MacAdd), "0003F004030080\r"},
        {"parameter block write", write_frame(0, Addr_Data, Req_Write, {0x09, 0x00, 0x05, 0x00}),
         "00024000020004090005000C\r"},
        {"protection word write", write_frame(1, Addr_Internal_Data, Req_Write_Internal, {0, 0, 0, 0xA7}),
         "0103F0000B0004000000A7A7\r"},
        {"first firmware block", write_frame(0, Addr_Prg_Start, Req_Write, Block),
         "00004000020080" + Block_Digits + Sum_Digits + "\r"},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(C.Frame, C.Expected) << C.Name;
    EXPECT_EQ(write_frame(0, Addr_Prg_Start, Req_Write, Block).size(), 273u);
}

TEST(Frames, ReadAnswerDecoding) {
    const std::string All_FF = std::string(256, 'F') + "00";
    std::string Counting; // bytes 00..7F, whose exclusive-or is 00
    for (int i = 0; i < 128; ++i) {
        char Two[3];
        std::snprintf(Two, sizeof Two, "%02X", i);
        Counting += Two;
    }
    std::string Spaced; // a blank after every 8 digits
    for (std::size_t i = 0; i < Counting.size(); i += 8)
        Spaced += Counting.substr(i, 8) + " ";
    std::string Lower = Counting;
    Lower[1] = 'a'; // "0a" instead of "00": the 'a' is skipped, so every later byte shifts
    // Noise turns the digits of byte 0 (value 00) into two NULs: 127 bytes are left, and their
    // exclusive-or still matches the checksum.
    std::string Noisy = Counting;
    Noisy[0] = Noisy[1] = '\0';

    const struct {
        const char* Name;
        std::string Chars;
        bool Good;
        int Count;
    } Cases[] = {
        {"all 0xFF", All_FF, true, 128},
        {"counting bytes", Counting + "00", true, 128},
        {"bad checksum", std::string(256, 'F') + "01", false, 128},
        {"non-hex checksum character", std::string(256, 'F') + "0G", false, 128},
        {"lowercase checksum digit", Counting + "0a", false, 128},
        {"separators between digits", Spaced + "00", true, 128},
        {"CR LF between digits", Counting.substr(0, 128) + "\r\n" + Counting.substr(128) + "00", true, 128},
        {"trailing CR after the checksum", All_FF + "\r", false, 128},
        {"lowercase digit in the data", Lower + "00", false, 127},
        {"a zero byte lost to noise, checksum still matching", Noisy + "00", false, 127},
        {"one byte short", Counting.substr(2) + "00", false, 127},
        {"more than 128 bytes", std::string(258, 'F') + "00", false, 128},
    };
    for (const auto& C : Cases) {
        std::uint8_t Bytes[129] = {};
        std::uint8_t Count = 0;
        EXPECT_EQ(Decode_Read_Answer(C.Chars.data(), C.Chars.size(), Bytes, Count), C.Good) << C.Name;
        EXPECT_EQ(Count, C.Count) << C.Name;
    }

    std::uint8_t Bytes[129] = {};
    std::uint8_t Count = 0;
    ASSERT_TRUE(Decode_Read_Answer(All_FF.data(), All_FF.size(), Bytes, Count));
    for (int i = 0; i < 128; ++i)
        ASSERT_EQ(Bytes[i], 0xFF);
}

TEST(Frames, Acknowledgement) {
    const struct {
        std::string Chars;
        bool Good;
    } Cases[] = {
        {"O.K.", false},   {"ABCO.K.", true}, {"\r\n>O.K.", true}, {"ABCO.K.\r\nmore", true},
        {"ABO.K.", false}, {"ABCO.K", false}, {"ABCo.k.", false},  {"", false},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(Is_Write_Ack(C.Chars.data(), C.Chars.size()), C.Good) << C.Chars;
}

} // namespace
