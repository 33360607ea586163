#pragma once
// A small converter for the tests, with hex helpers of its own so that a fault in the link's
// encoder cannot hide here.

#include "scripted_link.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

inline std::string hex(const std::vector<std::uint8_t>& Bytes) {
    static const char D[] = "0123456789ABCDEF";
    std::string S;
    for (auto B : Bytes) {
        S += D[B >> 4];
        S += D[B & 15];
    }
    return S;
}
inline std::uint32_t field(const std::string& S, std::size_t Pos, std::size_t Width) {
    return static_cast<std::uint32_t>(std::stoul(S.substr(Pos, Width), nullptr, 16));
}
inline std::string answer_for(const std::vector<std::uint8_t>& Bytes) {
    std::uint8_t Sum = 0;
    for (auto B : Bytes)
        Sum ^= B;
    return hex(Bytes) + hex({Sum});
}

// A small converter: memory that reads 0xFF where nothing was written, answers to reads after
// the line time of a block, and acknowledges every well-formed write.
struct TMiniConverter {
    std::mutex M;
    std::map<std::uint32_t, std::uint8_t> Mem;
    std::set<std::uint32_t> Drop_Ack_Once; // block addresses whose first write is not acknowledged
    std::set<std::uint32_t> Corrupt_Once;  // block addresses whose first answer has a bad checksum
    // Block addresses whose first answer loses the digits of its first zero byte to line noise
    // (two NULs instead): 127 bytes with a matching checksum.
    std::set<std::uint32_t> Noise_Once;
    std::map<std::uint32_t, std::int64_t> Late_Once; // block addresses whose first answer comes late
    std::atomic<bool> Silent{false};

    std::vector<TChunk> operator()(const std::string& Req) {
        std::lock_guard<std::mutex> L(M);
        if (Silent) return {};
        const std::uint32_t Address = field(Req, 2, 6);
        const std::uint32_t Code = field(Req, 8, 2);
        const std::uint32_t Count = field(Req, 10, 4);
        if (Code == 3) {
            std::vector<std::uint8_t> Block(128);
            for (std::uint32_t i = 0; i < 128; ++i)
                Block[i] = Mem.count(Address + i) ? Mem[Address + i] : 0xFF;
            std::string A = answer_for(Block);
            if (Corrupt_Once.erase(Address)) A.back() = A.back() == '0' ? '1' : '0';
            if (Noise_Once.erase(Address)) {
                const auto Zero = std::find(Block.begin(), Block.end(), 0);
                const auto At = static_cast<std::size_t>(Zero - Block.begin()) * 2;
                if (Zero != Block.end()) A[At] = A[At + 1] = '\0';
            }
            std::int64_t Delay = 25;
            if (auto Late = Late_Once.find(Address); Late != Late_Once.end()) {
                Delay = Late->second;
                Late_Once.erase(Late);
            }
            return {{Delay, A}};
        }
        for (std::uint32_t i = 0; i < Count; ++i)
            Mem[Address + i] = static_cast<std::uint8_t>(field(Req, 14 + 2 * i, 2));
        if (Drop_Ack_Once.erase(Address)) return {};
        return {{2, "ACKO.K."}};
    }
    std::vector<std::uint8_t> Bytes(std::uint32_t Address, std::size_t N) {
        std::lock_guard<std::mutex> L(M);
        std::vector<std::uint8_t> Out(N);
        for (std::size_t i = 0; i < N; ++i)
            Out[i] = Mem.count(Address + i) ? Mem[Address + i] : 0xFF;
        return Out;
    }
};
