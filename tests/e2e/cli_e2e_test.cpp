// The command-line tool's commands, run in-process against the simulated converter.

#include "cli_commands.h"
#include "exit_codes.h"
#include "sim_converter.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

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

TEST_F(CliE2E, PortsListThePinnedSimulator) {
    std::ostringstream Out;
    EXPECT_EQ(Cli_Ports(Opt, Out), Exit_Ok);
    const json J = json::parse(Out.str());
    // Ports the machine has take the other numbers; the pinned one keeps COM7.
    const auto& Ports = J["ports"];
    const auto Pinned =
        std::find_if(Ports.begin(), Ports.end(), [](const json& P) { return P["name"] == "COM7"; });
    ASSERT_NE(Pinned, Ports.end()) << J.dump();
    EXPECT_EQ((*Pinned)["path"], Sim->Slave_Path());
}

TEST_F(CliE2E, ReadWriteRead) {
    ASSERT_EQ(Run(Cli_Read), Exit_Ok);
    EXPECT_EQ(Result["serial"]["baud"], "115200");
    EXPECT_EQ(Result["mbus"]["baud"], "9600");
    EXPECT_EQ(Result["mbus"]["parity"], "NONE");
    EXPECT_EQ(Result["path"], Sim->Slave_Path());

    Opt.MBus_Baud = "2400";
    Opt.MBus_Parity = "ODD";
    ASSERT_EQ(Run(Cli_Write), Exit_Ok);
    EXPECT_EQ(Sim->Read_Memory(0x24000, 4), (std::vector<std::uint8_t>{9, 0, 3, 2}));
    ASSERT_EQ(Run(Cli_Read), Exit_Ok);
    EXPECT_EQ(Result["mbus"]["baud"], "2400");
    EXPECT_EQ(Result["mbus"]["parity"], "ODD");
}

TEST_F(CliE2E, UpdateWithVerification) {
    Opt.Image = Image(1000);
    Opt.Verify = true;
    ASSERT_EQ(Run(Cli_Update), Exit_Ok);
    EXPECT_EQ(Result["bytes"], 1000);
    EXPECT_EQ(Result["blocks"], 8);
    EXPECT_TRUE(Result["verified"].get<bool>());
    for (const auto& Entry : fs::directory_iterator(Dir))
        EXPECT_NE(Entry.path().extension(), ".b79") << "read-back left behind";
}

TEST_F(CliE2E, FailuresHaveTheirOwnExitStatus) {
    Opt.Image = (Dir / "missing.sim").string();
    EXPECT_EQ(Run(Cli_Update), Exit_Image);
    Opt.Image = Image(128 * 1024 + 1);
    EXPECT_EQ(Run(Cli_Update), Exit_Image);
    EXPECT_EQ(Sim->Counters().Writes.load(), 0u);

    Opt.MBus_Baud = "115200";
    Opt.MBus_Parity = "NONE";
    EXPECT_EQ(Run(Cli_Write), Exit_Usage);

    Sim->Set_Protection(0x12345678);
    EXPECT_EQ(Run(Cli_Read), Exit_Protection);
    EXPECT_EQ(Result["error"], "protection");
    Sim->Set_Protection(0);

    Opt.Port = "COM99";
    EXPECT_EQ(Run(Cli_Read), Exit_Port);
    Opt.Port = (Dir / "no-such-tty").string();
    EXPECT_EQ(Run(Cli_Read), Exit_Port);
}

TEST_F(CliE2E, TerminalHangingUpDuringAnUpdateIsALostLink) {
    Sim->Stop();
    TSimOptions Options;
    Options.Link = (Dir / "PORTS" / "COM7").string();
    std::string Error;
    Options.Fault_Plan.Faults.push_back(*Parse_Fault("hangup@4", Error));
    Sim = std::make_unique<TSimConverter>(Options);
    Sim->Start();
    Opt.Image = Image(4096);
    EXPECT_EQ(Run(Cli_Update), Exit_Link_Lost);
    EXPECT_EQ(Result["error"], "link-lost");
}

} // namespace
