// The command-line tool on a port that another program holds: Linux names the holder.

#include "cli_e2e_fixture.h"

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using namespace cli_e2e;

TEST_F(CliE2E, PortHeldByAnotherProgramNamesIt) {
    // flock(1) locks the terminal and becomes "sleep", which then holds the port as another
    // program would.
    const std::string Path = Sim->Slave_Path();
    std::vector<std::string> Args = {"flock", "--no-fork", Path, "sleep", "120"};
    std::vector<char*> Argv;
    for (auto& A : Args)
        Argv.push_back(A.data());
    Argv.push_back(nullptr);
    pid_t Holder = 0;
    ASSERT_EQ(posix_spawnp(&Holder, "flock", nullptr, nullptr, Argv.data(), environ), 0);
    struct TReap {
        pid_t Pid;
        ~TReap() {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
    } Reap{Holder};
    ASSERT_TRUE(Eventually([&] {
        const TPortHolder Found = Port_Holder(Path);
        return Found.Pid == Holder && Found.Name == "sleep";
    }));

    EXPECT_EQ(Run(Cli_Read), Exit_Port);
    EXPECT_EQ(Result["port_fault"], "in-use");
    EXPECT_EQ(Result["holder"]["pid"], Holder);
    EXPECT_EQ(Result["holder"]["name"], "sleep");
    EXPECT_NE(Result["message"].get<std::string>().find("in use by another program (sleep, process " +
                                                        std::to_string(Holder) + ")"),
              std::string::npos)
        << Result.dump();
    EXPECT_EQ(Result["port_code"], EBUSY);

    // Plain text: the words, and with --verbose the component's own message as well.
    Opt.Json = false;
    for (bool Verbose : {false, true}) {
        Opt.Verbose = Verbose;
        std::ostringstream Out, Err;
        EXPECT_EQ(Cli_Read(Opt, Real_Worker_Factory(), Out, Err), Exit_Port);
        EXPECT_NE(Err.str().find("in use by another program"), std::string::npos) << Err.str();
        EXPECT_EQ(Err.str().find("Error accessing specified device") != std::string::npos, Verbose)
            << Err.str();
    }
}

} // namespace
