// Prints the CPU time an idle, connected link worker uses over 5 s, and how quickly it picks up
// a request.

#include "arm_usb.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A port that is always open and answers every read request at once with a block of zeros.
class TInstantPort final : public TSerialPort {
public:
    std::atomic<Clock::rep> First_Purge{0};

    void SetBaudRate(TBaudrate) override {}
    void SetDatabits(TDatabits) override {}
    void SetDeviceName(const std::string&) override {}
    void SetFlowControl(TFlowControl) override {}
    void SetParity(TParity) override {}
    void SetStopbits(TStopbits) override {}
    void Open() override {}
    void Close() override {}
    void SetDTRState(bool) override {}
    void PurgeIn() override { FQueue.clear(); }
    void PurgeOut() override {
        Clock::rep Zero = 0;
        First_Purge.compare_exchange_strong(Zero, Clock::now().time_since_epoch().count());
    }
    std::int32_t Write(const void* Buf, std::int32_t Count) override {
        if (static_cast<const char*>(Buf)[Count - 1] == '\r') FQueue = std::string(256, '0') + "00";
        return Count;
    }
    std::int32_t Read(void* Buf, std::int32_t Count) override {
        const auto N = std::min<std::size_t>(static_cast<std::size_t>(Count), FQueue.size());
        std::memcpy(Buf, FQueue.data(), N);
        FQueue.erase(0, N);
        return static_cast<std::int32_t>(N);
    }
    std::int32_t InQueCount() override { return static_cast<std::int32_t>(FQueue.size()); }
    bool WaitForInput(std::int32_t Milliseconds) override {
        if (FQueue.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
        return !FQueue.empty();
    }

private:
    std::string FQueue;
};

double cpu_seconds() {
    rusage U{};
    getrusage(RUSAGE_SELF, &U);
    return static_cast<double>(U.ru_utime.tv_sec + U.ru_stime.tv_sec) +
           static_cast<double>(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main() {
    TInstantPort* Port = nullptr;
    Tarm_SER Arm(true, [&] {
        auto P = std::make_unique<TInstantPort>();
        Port = P.get();
        return P;
    });
    Arm.Start();
    while (Arm.res_connessione() != 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    const double Idle_Seconds = 5.0;
    const double Cpu_Before = cpu_seconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(Idle_Seconds));
    const double Cpu = cpu_seconds() - Cpu_Before;
    std::printf("idle worker: %.4f s CPU over %.1f s idle = %.3f %% of one core\n", Cpu, Idle_Seconds,
                100.0 * Cpu / Idle_Seconds);

    std::vector<double> Latency_us;
    for (int i = 0; i < 200; ++i) {
        Port->First_Purge = 0;
        const auto T0 = Clock::now();
        Arm.read_protection();
        while (Arm.fReceiveAnswer.load(std::memory_order_acquire) == 0)
            std::this_thread::yield();
        const auto Picked = Clock::time_point(Clock::duration(Port->First_Purge.load()));
        Latency_us.push_back(std::chrono::duration<double, std::micro>(Picked - T0).count());
        // Let the worker settle into its idle wait before the next request.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::sort(Latency_us.begin(), Latency_us.end());
    std::printf(
        "request pickup latency over %zu requests: median %.1f us, 99th percentile %.1f us, max %.1f us\n",
        Latency_us.size(), Latency_us[Latency_us.size() / 2], Latency_us[Latency_us.size() * 99 / 100],
        Latency_us.back());
    return 0;
}
