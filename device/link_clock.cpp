#include "link_clock.h"

#include <chrono>
#include <thread>

namespace {

class TSystemClock final : public TLinkClock {
public:
    void Sleep_ms(std::int32_t Milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
    }
    std::int64_t Now_ms() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

} // namespace

TLinkClock& System_Clock() {
    static TSystemClock Clock;
    return Clock;
}
