// Prints what an open, idle COM port costs with its line-event monitor running in the Windows
// build: process CPU time over 5 s, then how long a read request takes until its whole answer has
// been reported through OnRxChar. Under Wine it runs on the simulated converter's COM port; on a
// plain pseudo-terminal the monitor polls the driver, with the modem lines preloaded
// (scripts/wine-run.sh --preload .../libpty_modem_lines.so) it waits in the driver.

#include "comm_int.h"
#include "frames.h"
#include "memory_map.h"
#include "sim_converter.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double cpu_seconds() {
    FILETIME Created, Exited, Kernel, User;
    ::GetProcessTimes(::GetCurrentProcess(), &Created, &Exited, &Kernel, &User);
    auto seconds = [](const FILETIME& T) {
        return static_cast<double>((static_cast<std::uint64_t>(T.dwHighDateTime) << 32) | T.dwLowDateTime) /
               1e7;
    };
    return seconds(Kernel) + seconds(User);
}

} // namespace

int main() {
    TSimConverter Sim;
    Sim.Start();
    std::mutex Lock;
    std::condition_variable Changed;
    std::int32_t Received = 0;
    TComm Comm;
    Comm.SetDeviceName(Sim.Slave_Path());
    Comm.SetBaudRate(br115200);
    Comm.SetFlowControl(fcNone);
    Comm.SetOnRxChar([&](TCustomComm* Sender, std::int32_t Count) {
        std::vector<char> Buf(static_cast<std::size_t>(Count));
        const std::int32_t Got = Sender->Read(Buf.data(), Count);
        std::lock_guard<std::mutex> Guard(Lock);
        Received += std::max(Got, 0);
        Changed.notify_all();
    });
    Comm.Open();

    const double Idle_Seconds = 5.0;
    const double Cpu_Before = cpu_seconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(Idle_Seconds));
    const double Cpu = cpu_seconds() - Cpu_Before;
    std::printf(
        "idle COM port with its monitor (all nine events): %.4f s CPU over %.1f s = %.3f %% of one core\n",
        Cpu, Idle_Seconds, 100.0 * Cpu / Idle_Seconds);

    std::vector<double> Round_Trip_ms;
    char Request[Read_Request_Len];
    const std::size_t N = Build_Read_Request(Request, 0, Addr_Data, Req_Read, Block_Size);
    for (int I = 0; I < 50; ++I) {
        std::unique_lock<std::mutex> Guard(Lock);
        Received = 0;
        Guard.unlock();
        const auto T0 = Clock::now();
        if (Comm.Write(Request, static_cast<std::int32_t>(N)) != static_cast<std::int32_t>(N)) return 1;
        Guard.lock();
        if (!Changed.wait_for(Guard, std::chrono::seconds(5),
                              [&] { return static_cast<std::size_t>(Received) >= Read_Answer_Len; })) {
            std::fprintf(stderr, "no whole answer within 5 s (%d bytes)\n", Received);
            return 1;
        }
        Round_Trip_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - T0).count());
    }
    std::sort(Round_Trip_ms.begin(), Round_Trip_ms.end());
    std::printf("read request to the answer's last byte through OnRxChar over %zu requests: median %.1f ms, "
                "max %.1f ms\n",
                Round_Trip_ms.size(), Round_Trip_ms[Round_Trip_ms.size() / 2], Round_Trip_ms.back());
    Comm.Close();
    Sim.Stop();
    return 0;
}
