// The command-line program itself, as a user on Windows runs it, against the simulated converter
// on COM9.

#include "sim_converter.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <windows.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

struct TProgramRun {
    DWORD Exit_Code = 0;
    std::string Out;
};

// Runs the program with Arguments and collects its standard output until it ends.
TProgramRun run_program(const std::wstring& Arguments) {
    SECURITY_ATTRIBUTES Inherit{sizeof Inherit, nullptr, TRUE};
    HANDLE Read_End, Write_End;
    EXPECT_TRUE(::CreatePipe(&Read_End, &Write_End, &Inherit, 0));
    ::SetHandleInformation(Read_End, HANDLE_FLAG_INHERIT, 0);
    HANDLE Null = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &Inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW Startup{};
    Startup.cb = sizeof Startup;
    Startup.dwFlags = STARTF_USESTDHANDLES;
    Startup.hStdInput = Null;
    Startup.hStdOutput = Write_End;
    Startup.hStdError = Null;
    std::wstring Command = L"\"" + fs::path(SW_CLI_PROGRAM).wstring() + L"\" " + Arguments;
    PROCESS_INFORMATION Process{};
    const BOOL Started = ::CreateProcessW(nullptr, Command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                          nullptr, &Startup, &Process);
    ::CloseHandle(Write_End);
    ::CloseHandle(Null);
    TProgramRun Run;
    EXPECT_TRUE(Started) << "cannot start " << SW_CLI_PROGRAM;
    char Buffer[4096];
    DWORD Got;
    while (::ReadFile(Read_End, Buffer, sizeof Buffer, &Got, nullptr) && Got > 0)
        Run.Out.append(Buffer, Got);
    ::CloseHandle(Read_End);
    if (Started) {
        EXPECT_EQ(::WaitForSingleObject(Process.hProcess, 120'000), WAIT_OBJECT_0);
        ::GetExitCodeProcess(Process.hProcess, &Run.Exit_Code);
        ::CloseHandle(Process.hProcess);
        ::CloseHandle(Process.hThread);
    }
    return Run;
}

TEST(CliProgram, UpdatesAndVerifiesThroughCom9) {
    TSimConverter Sim;
    Sim.Start();
    ASSERT_EQ(Sim.Slave_Path(), "\\\\.\\COM9");
    const fs::path Dir =
        fs::temp_directory_path() / ("sw40815-cli-program-" + std::to_string(::GetCurrentProcessId()));
    fs::create_directories(Dir);
    const fs::path Image = Dir / "Sim40815.sim";
    std::vector<std::uint8_t> Bytes(1000);
    for (std::size_t I = 0; I < Bytes.size(); ++I)
        Bytes[I] = static_cast<std::uint8_t>(I * 13 + 5);
    std::ofstream(Image, std::ios::binary)
        .write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));

    const TProgramRun Run = run_program(L"--port COM9 --json update \"" + Image.wstring() + L"\" --verify");
    EXPECT_EQ(Run.Exit_Code, 0u) << Run.Out;
    const json Result = json::parse(Run.Out, nullptr, false);
    ASSERT_FALSE(Result.is_discarded()) << Run.Out;
    EXPECT_TRUE(Result.value("ok", false)) << Run.Out;
    EXPECT_TRUE(Result.value("verified", false)) << Run.Out;
    EXPECT_EQ(Result.value("path", ""), "\\\\.\\COM9");
    EXPECT_EQ(Sim.Read_Memory(0x4000, Bytes.size()), Bytes);
    for (const auto& Entry : fs::directory_iterator(Dir))
        EXPECT_NE(Entry.path().extension(), ".b79") << "read-back left behind";
    Sim.Stop();
    fs::remove_all(Dir);
}

} // namespace
