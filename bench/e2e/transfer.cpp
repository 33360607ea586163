// Writes and reads back a full 128 KiB image against the simulated converter paced like a
// 115,200 baud line, and prints the time per block of each direction beside the pure line time.

#include "arm_usb.h"
#include "converter.h"
#include "sim_converter.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double Char_ms = 10.0 * 1000.0 / 115200.0; // ten bits a character

double run(Tarm_SER& Arm) {
    const auto T0 = Clock::now();
    while (Arm.stato.load(std::memory_order_acquire) != St_Idle)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return std::chrono::duration<double, std::milli>(Clock::now() - T0).count();
}

} // namespace

int main() {
    TSimOptions Options;
    Options.Pace = true;
    TSimConverter Sim(Options);
    Sim.Start();

    const fs::path Dir = fs::temp_directory_path() / ("sw40815-bench-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    const fs::path Image = Dir / "Sim40815.sim";
    {
        std::ofstream Out(Image, std::ios::binary);
        for (std::size_t i = 0; i < Prg_Size; ++i)
            Out.put(static_cast<char>(i * 131 + i / 251));
    }

    Tarm_SER Arm(true);
    Arm.Com_Port = Sim.Slave_Path();
    Arm.Start();
    while (Arm.InitDone() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (Arm.res_connessione() != 1) {
        std::fprintf(stderr, "cannot open %s: %s\n", Arm.Com_Port.Get().c_str(), Arm.Open_Error.c_str());
        return 1;
    }

    std::int32_t Dim = 0;
    Start_Firmware_Write(Arm, Image.string(), Dim);
    const double Write_ms = run(Arm);
    const int Write_Blocks = Arm.nciclo.load();
    const bool Write_Repeats = Arm.fErrorLastCommand.load() != 0;

    const std::string Back = Readback_File_Name(Image.string(), std::chrono::system_clock::now());
    Start_Firmware_Readback(Arm, Back, Dim);
    const double Read_ms = run(Arm);
    const int Read_Blocks = Arm.nciclo.load();
    const bool Read_Repeats = Arm.fErrorLastCommand.load() != 0;
    const bool Same = Confronta_File(Image.string(), Back);

    const double Write_Line = (273 + 7) * Char_ms;
    const double Read_Line = (15 + 258) * Char_ms;
    std::printf("full image: %u bytes, %d blocks written, %d read back, read-back %s\n", Prg_Size,
                Write_Blocks, Read_Blocks, Same ? "matches" : "DIFFERS");
    std::printf("write:     %7.2f ms a block, line time %5.2f ms, ratio %.2f (target 1.50)%s\n",
                Write_ms / Write_Blocks, Write_Line, Write_ms / Write_Blocks / Write_Line,
                Write_Repeats ? ", with repeated blocks" : "");
    std::printf("read-back: %7.2f ms a block, line time %5.2f ms, ratio %.2f (target 1.10)%s\n",
                Read_ms / Read_Blocks, Read_Line, Read_ms / Read_Blocks / Read_Line,
                Read_Repeats ? ", with repeated blocks" : "");
    std::printf("totals: write %.1f s, read-back %.1f s\n", Write_ms / 1000, Read_ms / 1000);
    fs::remove_all(Dir);
    return Same ? 0 : 1;
}
