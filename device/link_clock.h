#pragma once
// The sleeps of the link's poll loops. The worker only sleeps through this, so tests can run
// the poll rules on a virtual clock instead of real time.

#include <cstdint>

class TLinkClock {
public:
    virtual ~TLinkClock() = default;
    virtual void Sleep_ms(std::int32_t Milliseconds) = 0;
};

// Real time.
TLinkClock& System_Clock();
