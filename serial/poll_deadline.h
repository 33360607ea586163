#pragma once
// The end of a bounded wait that is spent in several poll() calls.

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>

#include "comm_objs.h"

class TPoll_Deadline {
public:
    // Infinite waits without limit.
    explicit TPoll_Deadline(std::uint32_t Timeout_Ms)
        : FUnlimited(Timeout_Ms == Infinite), FEnd(Clock::now() + std::chrono::milliseconds(Timeout_Ms)) {}

    // What to hand to the next poll(): -1 without limit, else the milliseconds left, rounded up so
    // that a poll that times out has reached the end.
    int Poll_Ms() const {
        if (FUnlimited) return -1;
        auto Left = std::chrono::ceil<std::chrono::milliseconds>(FEnd - Clock::now()).count();
        return static_cast<int>(std::clamp<decltype(Left)>(Left, 0, INT_MAX));
    }
    bool Passed() const { return !FUnlimited && Clock::now() >= FEnd; }

private:
    using Clock = std::chrono::steady_clock;
    bool FUnlimited;
    Clock::time_point FEnd;
};
