#pragma once
// The line between a Windows test program under Wine and sim_host, the Linux program that runs the
// simulated converter for it. The test listens on a loopback port and starts sim_host with that
// port's number; sim_host connects and serves one simulator until the connection closes.
//
// Each request is one line of words, each answer one line starting "ok" or "error":
//   options PACE DELAY_MS SEED LINK N {KIND FIRST LAST PROBABILITY PAUSE_MS}*N   -> ok
//   start                     -> ok       (the terminal is served; LINK points at it)
//   stop                      -> ok
//   read ADDRESS COUNT        -> ok HEX
//   write ADDRESS HEX         -> ok
//   protection                -> ok WORD
//   set-protection WORD       -> ok
//   counters                  -> ok READS WRITES ANSWERS ACKS REJECTED FAULTS CLOSES HUNG_UP
// Numbers are decimal; HEX is two digits a byte. "-" stands for an empty LINK.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline std::string Sim_Link_Hex(const std::vector<std::uint8_t>& Bytes) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string Text;
    Text.reserve(Bytes.size() * 2);
    for (std::uint8_t B : Bytes) {
        Text += Digits[B >> 4];
        Text += Digits[B & 0x0F];
    }
    return Text;
}

inline std::optional<std::vector<std::uint8_t>> Sim_Link_Bytes(const std::string& Hex) {
    auto digit = [](char C) -> int {
        if (C >= '0' && C <= '9') return C - '0';
        if (C >= 'A' && C <= 'F') return C - 'A' + 10;
        return -1;
    };
    if (Hex.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> Bytes;
    Bytes.reserve(Hex.size() / 2);
    for (std::size_t I = 0; I < Hex.size(); I += 2) {
        const int High = digit(Hex[I]), Low = digit(Hex[I + 1]);
        if (High < 0 || Low < 0) return std::nullopt;
        Bytes.push_back(static_cast<std::uint8_t>(High * 16 + Low));
    }
    return Bytes;
}
