#pragma once
// The fixture of the command-line tool's end-to-end tests: the commands run in-process against
// the simulated converter, pinned as COM7.

#include "cli_commands.h"
#include "eventually.h"
#include "exit_codes.h"
#include "port_fault.h"
#include "sim_converter.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace cli_e2e {

using namespace std::chrono_literals;

// Windows does not remove a folder while a file in it is open.
#ifdef _WIN32
inline constexpr bool Open_File_Pins_Its_Folder = true;
#else
inline constexpr bool Open_File_Pins_Its_Folder = false;
#endif

inline TSimFaultPlan plan(std::initializer_list<const char*> Texts) {
    TSimFaultPlan Plan;
    for (const char* Text : Texts) {
        std::string Error;
        auto Fault = Parse_Fault(Text, Error);
        EXPECT_TRUE(Fault.has_value()) << Error;
        if (Fault) Plan.Faults.push_back(*Fault);
    }
    return Plan;
}

class CliE2E : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::temp_directory_path() / ("sw40815-cli-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(Dir / "PORTS");
        TSimOptions Options;
        Options.Link = (Dir / "PORTS" / "COM7").string();
        Sim = std::make_unique<TSimConverter>(Options);
        Sim->Start();
        Opt.Port = "COM7";
        Opt.Ports_Dir = (Dir / "PORTS").string();
        Opt.Json = true;
    }
    void TearDown() override {
        Sim->Stop();
        fs::remove_all(Dir);
    }
    // Runs a command; returns its exit status and leaves its JSON object in Result.
    template <class F> int Run(F Command) {
        std::ostringstream Out, Err;
        const int Code = Command(Opt, Real_Worker_Factory(), Out, Err);
        Result = json::parse(Out.str());
        EXPECT_EQ(Result["ok"].get<bool>(), Code == Exit_Ok) << Out.str();
        return Code;
    }
    // The same on a thread of its own, for tests that act while the command runs.
    template <class F> std::future<int> Run_Async(F Command) {
        return std::async(std::launch::async, [this, Command] { return Run(Command); });
    }
    void Restart_Sim(TSimOptions Options) {
        Sim->Stop();
        Options.Link = (Dir / "PORTS" / "COM7").string();
        Sim = std::make_unique<TSimConverter>(Options);
        Sim->Start();
    }
    std::string Image(std::size_t N) {
        const fs::path P = Dir / "Sim40815.sim";
        std::ofstream Out(P, std::ios::binary);
        for (std::size_t i = 0; i < N; ++i)
            Out.put(static_cast<char>(i * 7 + 3));
        return P.string();
    }

    fs::path Dir;
    std::unique_ptr<TSimConverter> Sim;
    TCliOptions Opt;
    json Result;
};

} // namespace cli_e2e
