// Prints what an open, idle port costs with its line-event monitor running: CPU time and thread
// wake-ups over 5 s; then how long one received byte takes to reach OnRxChar.

#include "comm_int.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double cpu_seconds() {
    rusage U{};
    getrusage(RUSAGE_SELF, &U);
    return static_cast<double>(U.ru_utime.tv_sec + U.ru_stime.tv_sec) +
           static_cast<double>(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

// Context switches of every thread but the calling one: each is one wake-up.
long other_threads_switches() {
    const std::string Self = std::to_string(::gettid());
    long Total = 0;
    for (const auto& Task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (Task.path().filename() == Self) continue;
        std::ifstream Status(Task.path() / "status");
        std::string Line;
        while (std::getline(Status, Line))
            if (Line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                Line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                Total += std::atol(Line.substr(Line.find(':') + 1).c_str());
    }
    return Total;
}

} // namespace

int main() {
    const int Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Master < 0 || ::grantpt(Master) < 0 || ::unlockpt(Master) < 0) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    std::atomic<int> Received{0};
    TComm Comm;
    Comm.SetDeviceName(::ptsname(Master));
    Comm.SetBaudRate(br115200);
    Comm.SetFlowControl(fcNone);
    Comm.SetOnRxChar([&](TCustomComm* Sender, std::int32_t Count) {
        char Buf[64];
        Sender->Read(Buf, std::min<std::int32_t>(Count, sizeof Buf));
        ++Received;
    });
    Comm.Open();

    const double Idle_Seconds = 5.0;
    const long Switches_Before = other_threads_switches();
    const double Cpu_Before = cpu_seconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(Idle_Seconds));
    const double Cpu = cpu_seconds() - Cpu_Before;
    const long Switches = other_threads_switches() - Switches_Before;
    std::printf("idle port with its monitor (all nine events): %.4f s CPU over %.1f s = %.3f %% of one core, "
                "%ld monitor wake-ups (%.1f per second)\n",
                Cpu, Idle_Seconds, 100.0 * Cpu / Idle_Seconds, Switches, Switches / Idle_Seconds);

    std::vector<double> Latency_us;
    for (int I = 0; I < 1000; ++I) {
        const int Before = Received.load();
        const auto T0 = Clock::now();
        if (::write(Master, "x", 1) != 1) return 1;
        while (Received.load() == Before)
            std::this_thread::yield();
        Latency_us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - T0).count());
    }
    std::sort(Latency_us.begin(), Latency_us.end());
    std::printf(
        "byte to OnRxChar on the monitor's own thread over %zu bytes: median %.1f us, 99th percentile "
        "%.1f us, max %.1f us\n",
        Latency_us.size(), Latency_us[Latency_us.size() / 2], Latency_us[Latency_us.size() * 99 / 100],
        Latency_us.back());
    Comm.Close();
    ::close(Master);
    return 0;
}
