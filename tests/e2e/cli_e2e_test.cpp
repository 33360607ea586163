// The command-line tool's commands, run in-process against the simulated converter.

#include "cli_e2e_fixture.h"

namespace {

using namespace cli_e2e;

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
    // An empty image would write nothing and then compare equal: it is refused like a large one.
    Opt.Image = Image(0);
    Opt.Verify = true;
    EXPECT_EQ(Run(Cli_Update), Exit_Image);
    Opt.Verify = false;
    EXPECT_EQ(Sim->Counters().Writes.load(), 0u);
    EXPECT_EQ(Sim->Counters().Reads.load(), 0u);

    Opt.MBus_Baud = "115200";
    Opt.MBus_Parity = "NONE";
    EXPECT_EQ(Run(Cli_Write), Exit_Usage);

    Sim->Set_Protection(0x12345678);
    EXPECT_EQ(Run(Cli_Read), Exit_Protection);
    EXPECT_EQ(Result["error"], "protection");
    Sim->Set_Protection(0);

    Opt.Port = "COM99";
    EXPECT_EQ(Run(Cli_Read), Exit_Port);
    // The fault in words, with the port component's own message and code beside it.
    std::ofstream(Dir / "plain-file") << "not a terminal";
    const struct {
        fs::path Path;
        const char* Fault;
        const char* Says;
    } Ports[] = {
        {Dir / "no-such-tty", "no-device", "no such device"},
        {Dir / "plain-file", "not-serial", "not a serial device"},
    };
    for (const auto& P : Ports) {
        Opt.Port = P.Path.string();
        EXPECT_EQ(Run(Cli_Read), Exit_Port) << P.Fault;
        EXPECT_EQ(Result["port_fault"], P.Fault);
        EXPECT_NE(Result["message"].get<std::string>().find(P.Says), std::string::npos) << Result.dump();
        EXPECT_NE(Result["port_message"].get<std::string>(), "");
        EXPECT_NE(Result["port_message"].get<std::string>().back(), ' ');
    }
}

TEST_F(CliE2E, BusyLinkIsNoSuccessAndSendsNothing) {
    TSimOptions Paced;
    Paced.Pace = true;
    Restart_Sim(Paced);
    // A worker already reading the whole program region back, as after another command.
    const TWorkerFactory Busy_Worker = [&]() -> std::unique_ptr<Tarm_SER> {
        auto Arm = std::make_unique<Tarm_SER>(true);
        Arm->Com_Port = Sim->Slave_Path();
        Arm->Start();
        EXPECT_TRUE(Eventually([&] { return Arm->InitDone() == 1; }));
        Arm->filename = (Dir / "other.b79").string();
        EXPECT_EQ(Arm->read_mem_prg(0, 0), Req_Accepted);
        return Arm;
    };
    Opt.MBus_Baud = "2400";
    Opt.MBus_Parity = "ODD";
    Opt.Image = Image(1000);
    using TCommand = int (*)(const TCliOptions&, const TWorkerFactory&, std::ostream&, std::ostream&);
    for (TCommand Command : {TCommand(Cli_Read), TCommand(Cli_Write), TCommand(Cli_Update)}) {
        std::ostringstream Out, Err;
        EXPECT_EQ(Command(Opt, Busy_Worker, Out, Err), Exit_Busy) << Out.str();
        EXPECT_EQ(json::parse(Out.str())["error"], "busy");
    }
    EXPECT_EQ(Sim->Counters().Writes.load(), 0u);
    EXPECT_EQ(Sim->Read_Memory(0x24000, 4), (std::vector<std::uint8_t>{9, 0, 5, 0}));
}

TEST_F(CliE2E, GarbledLateOrShortAnswersAreNoSuccess) {
    // Frames: 1 the protection read, 2 the parameter block or the first image block; an image of
    // eight blocks is read back from frame 10 on.
    const struct {
        const char* Name;
        std::initializer_list<const char*> Faults;
        std::uint32_t Protection;
        bool Update;
        int Exit;
    } Cases[] = {
        {"parameter block one byte short", {"noise@2"}, 0, false, Exit_Read_Failed},
        {"garbled protection word", {"corrupt@1"}, 0x12345678, false, Exit_Read_Failed},
        {"protection word not answered", {"silent@1"}, 0, false, Exit_Read_Failed},
        {"read-back block answered 1.2 s late", {"delay=1200@10"}, 0, true, Exit_Ok},
        {"read-back blocks one byte short", {"noise@2-3"}, 0, true, Exit_Ok},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        TSimOptions Options;
        Options.Fault_Plan = plan(C.Faults);
        Restart_Sim(Options);
        Sim->Set_Protection(C.Protection);
        if (C.Update) {
            Opt.Image = Image(1000);
            Opt.Verify = true;
        }
        EXPECT_EQ(Run(C.Update ? Cli_Update : Cli_Read), C.Exit) << Result.dump();
        EXPECT_GE(Sim->Counters().Faults.load(), 1u);
        if (C.Update) {
            EXPECT_TRUE(Result["verified"].get<bool>());
        }
        Opt.Verify = false;
    }
}

TEST_F(CliE2E, UpdateStoppedOrBrokenMidwaySaysWhatHappened) {
    TSimOptions Paced;
    Paced.Pace = true;
    Restart_Sim(Paced);
    fs::create_directories(Dir / "master");
    auto image_in_master = [&] {
        const fs::path P = Dir / "master" / "Sim40815.sim";
        std::ofstream Out(P, std::ios::binary);
        for (std::size_t i = 0; i < 16 * 1024; ++i)
            Out.put(static_cast<char>(i * 5 + 1));
        return P.string();
    };
    const std::uint32_t Blocks = 16 * 1024 / 128;
    const struct {
        const char* Name;
        std::uint32_t Reads, Writes; // the act comes once the simulator has taken these
        int Act;                     // 0 interrupt, 1 remove the image's folder, 2 cut the image short
        int Exit;
        const char* Says;
    } Cases[] = {
        {"interrupted during the write", 1, 4, 0, Exit_Interrupted, "during the firmware write"},
        {"interrupted during the read-back", 4, Blocks, 0, Exit_Interrupted, "during the read-back"},
        {"image cut short during the write", 1, 4, 2, Exit_Image, "nothing more was sent"},
        {"read-back file cannot be created", 1, 4, 1, Exit_Readback_File, "read-back file"},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        if (C.Act == 1 && Open_File_Pins_Its_Folder)
            GTEST_SKIP() << "the image's folder cannot be removed while the update has the image open "
                            "(Windows); the cases before it ran";
        Opt.Image = image_in_master();
        Opt.Verify = true;
        const std::uint32_t Reads0 = Sim->Counters().Reads.load(), Writes0 = Sim->Counters().Writes.load();
        const std::uint32_t Closes0 = Sim->Counters().Closes.load();
        auto Code = Run_Async(Cli_Update);
        ASSERT_TRUE(Sim->Wait_For(
            [&](const TSimCounters& N) {
                return N.Reads >= Reads0 + C.Reads && N.Writes >= Writes0 + C.Writes;
            },
            60s));
        if (C.Act == 0) Cli_Interrupted = true;
        if (C.Act == 1) fs::remove_all(Dir / "master");
        if (C.Act == 2) fs::resize_file(Opt.Image, 1000);
        EXPECT_EQ(Code.get(), C.Exit) << Result.dump();
        Cli_Interrupted = false;
        EXPECT_NE(Result["message"].get<std::string>().find(C.Says), std::string::npos) << Result.dump();
        if (C.Act == 2) {
            EXPECT_LT(Sim->Counters().Writes.load() - Writes0, Blocks);
        }
        // The simulator drops what the closed client left before the next case speaks.
        ASSERT_TRUE(Sim->Wait_For([&](const TSimCounters& N) { return N.Closes > Closes0; }, 60s));
        fs::create_directories(Dir / "master");
    }
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
