#include "link_clock.h"

#include <chrono>
#include <thread>

namespace {

class TSystemClock final : public TLinkClock {
public:
    void Sleep_ms(std::int32_t Milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
    }
};

} // namespace

TLinkClock& System_Clock() {
    static TSystemClock Clock;
    return Clock;
}
