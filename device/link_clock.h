#pragma once
// The sleeps and the time of the link's poll loops. The worker only sleeps and reads the time
// through this, so tests can run the poll rules on a virtual clock instead of real time.

#include <cstdint>

class TLinkClock {
public:
    virtual ~TLinkClock() = default;
    virtual void Sleep_ms(std::int32_t Milliseconds) = 0;
    // Milliseconds from a fixed point in the past; only differences mean anything.
    virtual std::int64_t Now_ms() = 0;
};

// Real time.
TLinkClock& System_Clock();
