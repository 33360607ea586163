// The sw40815-sim program as a script or a developer runs it: device path first, a port link,
// memory saved on SIGUSR1 and on exit.

#include "sim_memory.h"
#include "sim_test_port.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string first_line(int Fd) {
    std::string line;
    char c;
    pollfd ready{Fd, POLLIN, 0};
    while (::poll(&ready, 1, static_cast<int>(Patience.count())) > 0 && ::read(Fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

std::vector<std::uint8_t> file_bytes(const fs::path& Path) {
    std::ifstream file(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The file appears whole, being renamed into place once written.
bool wait_for_file(const fs::path& Path) {
    auto deadline = std::chrono::steady_clock::now() + Patience;
    while (!fs::exists(Path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace

TEST(SimProgram, PublishesItsPortAndSavesItsMemory) {
    fs::path folder = fs::path(::testing::TempDir()) / ("sim_program_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "PORTS");
    fs::path link = folder / "PORTS" / "COM7";
    fs::path image = folder / "memory.bin";

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> arguments = {SIM_PROGRAM, "--link",       link.string(),
                                          "--save",    image.string(), "--protection",
                                          "0xA7",      "--fault",      "drop-ack@1"};
    std::vector<char*> argv;
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t child = -1;
    ASSERT_EQ(::posix_spawn(&child, SIM_PROGRAM, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);

    std::string device = first_line(out[0]);
    ASSERT_FALSE(device.empty());
    EXPECT_EQ(fs::read_symlink(link), device);
    {
        TTestPort port(link.string());
        ASSERT_GE(port.Fd(), 0);
        ASSERT_TRUE(port.Send(read_request(0x3F000)));
        EXPECT_EQ(port.Receive(8), "000000A7");
        port.Receive(250);
        // The first write's ack is dropped by the fault, the second one's comes.
        ASSERT_TRUE(port.Send(write_frame(0x24000, {1, 0, 2, 1}) + write_frame(0x4000, pattern(128, 9))));
        EXPECT_EQ(port.Receive(7).substr(3), "O.K.");
    }

    ::kill(child, SIGUSR1);
    ASSERT_TRUE(wait_for_file(image));
    auto saved = file_bytes(image);
    ASSERT_EQ(saved.size(), TSimMemory::Size);
    EXPECT_EQ(std::vector<std::uint8_t>(saved.begin() + 0x24000, saved.begin() + 0x24004),
              (std::vector<std::uint8_t>{1, 0, 2, 1}));
    EXPECT_EQ(std::vector<std::uint8_t>(saved.begin() + 0x4000, saved.begin() + 0x4080), pattern(128, 9));
    fs::remove(image);

    ::kill(child, SIGTERM);
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(file_bytes(image).size(), TSimMemory::Size);
    EXPECT_FALSE(fs::is_symlink(link));
    ::close(out[0]);
    fs::remove_all(folder);
}
