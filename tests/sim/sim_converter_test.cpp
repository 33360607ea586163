// The simulator driven through its terminal as a client would: reads, writes, refused lines,
// line-rate pacing, and clients that come and go.

#include "sim_converter.h"
#include "sim_test_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace std::chrono_literals;

namespace {

std::unique_ptr<TSimConverter> started(TSimOptions Options = {}) {
    auto sim = std::make_unique<TSimConverter>(std::move(Options));
    sim->Start();
    return sim;
}

TSimOptions paced() {
    TSimOptions options;
    options.Pace = true;
    return options;
}

TSimOptions program_delay(std::chrono::milliseconds Delay) {
    TSimOptions options;
    options.Program_Delay = Delay;
    return options;
}

} // namespace

TEST(SimConverter, ReadsAnswerTheDefaultMemory) {
    struct TCase {
        const char* Name;
        std::uint32_t Address;
        std::vector<std::uint8_t> Starts_With;
        bool Rest_Erased;
    };
    const TCase cases[] = {
        {"protection word", 0x3F000, {0, 0, 0, 0}, false},
        {"parameter block", 0x24000, {9, 0, 5, 0}, true},
        {"first program block", 0x4000, {}, true},
        {"last program block", 0x23F80, {}, true},
    };
    auto sim = started();
    TTestPort port(sim->Slave_Path());
    ASSERT_GE(port.Fd(), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(port.Send(read_request(c.Address)));
        std::string answer = port.Receive(258);
        auto expected = sim->Read_Memory(c.Address, 128);
        EXPECT_EQ(answer, read_answer(expected));
        EXPECT_TRUE(std::equal(c.Starts_With.begin(), c.Starts_With.end(), expected.begin()));
        if (c.Rest_Erased) {
            EXPECT_TRUE(std::all_of(expected.begin() + static_cast<long>(c.Starts_With.size()),
                                    expected.end(), [](std::uint8_t b) { return b == 0xFF; }));
        }
    }
    // The answer for an erased block, as the converter sends it.
    ASSERT_TRUE(port.Send(read_request(0x4000)));
    EXPECT_EQ(port.Receive(258), Erased_Answer);
    EXPECT_EQ(sim->Protection(), 0u);
}

TEST(SimConverter, WritesAreAcknowledgedAndStored) {
    struct TCase {
        const char* Name;
        std::string Frame;
        std::uint32_t Address;
        std::vector<std::uint8_t> Bytes;
    };
    const std::vector<std::uint8_t> parameters = {9, 0, 5, 0};
    const std::vector<std::uint8_t> protection = {0, 0, 0, 0xA7};
    const TCase cases[] = {
        {"parameter bytes, frame as written by hand", "00024000020004090005000C\r", 0x24000, parameters},
        {"parameter bytes at an offset", write_frame(0x24002, {7, 1}), 0x24002, {7, 1}},
        {"first program block", write_frame(0x4000, pattern(128, 1)), 0x4000, pattern(128, 1)},
        {"last program block", write_frame(0x23F80, pattern(128, 2)), 0x23F80, pattern(128, 2)},
        {"protection word", write_frame(0x3F000, protection, 0x0B, 1), 0x3F000, protection},
        {"internal data", write_frame(0x3F010, {1, 2, 3}, 0x0B, 0), 0x3F010, {1, 2, 3}},
    };
    auto sim = started();
    TTestPort port(sim->Slave_Path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(port.Send(c.Frame));
        std::string ack = port.Receive(7);
        ASSERT_EQ(ack.size(), 7u);
        EXPECT_EQ(ack.substr(3), "O.K.");
        EXPECT_EQ(sim->Read_Memory(c.Address, c.Bytes.size()), c.Bytes);
        // And what a read of the same place answers now.
        ASSERT_TRUE(port.Send(read_request(c.Address)));
        EXPECT_EQ(port.Receive(258), read_answer(sim->Read_Memory(c.Address, 128)));
    }
    EXPECT_EQ(sim->Protection(), 0xA7u);
    EXPECT_EQ(sim->Counters().Writes.load(), std::size(cases));
    // Counted once written, which may be just after the client has read it.
    EXPECT_TRUE(sim->Wait_For([&](const TSimCounters& c) { return c.Acks == std::size(cases); }, Patience));
}

// Each refused line is followed by a good request, whose answer must be the very next thing on
// the line: so a refused line got no answer at all and did not disturb the next one.
TEST(SimConverter, RefusedLinesGetNoAnswerAndChangeNothing) {
    struct TCase {
        const char* Name;
        std::string Line; // without its CR
    };
    const TCase cases[] = {
        {"bad checksum", "00024000020004090005000D"},
        {"lowercase digits", "0003f000030080"},
        {"fewer data digits than the count", "000240000200040900050C"},
        {"more data digits than the count", "00024000020002090005000C"},
        {"write of no bytes", "0002400002000000"},
        {"write of more than a block", write_frame(0x4000, pattern(129, 3)).substr(0, 14 + 258 + 2)},
        {"read of other than a block", "00004000030040"},
        {"read carrying data", "00004000030080FF"},
        {"unknown request code", "00004000050080"},
        {"space inside", "00 024000030080"},
        {"empty line", ""},
        {"over-long line", std::string(400, 'F')},
        {"read with memory type 1", "0103F000030080"},
        {"code 02 with memory type 1", write_frame(0x24000, {9, 0, 5, 0}, 0x02, 1).substr(0, 24)},
        {"code 02 into the internal data area", write_frame(0x3F000, {0, 0, 0, 0xA7}).substr(0, 24)},
        {"code 02 below the program region", write_frame(0x3F80, pattern(128, 4)).substr(0, 272)},
        {"code 02 past the parameter page", write_frame(0x24FFE, {1, 2, 3, 4}).substr(0, 24)},
        {"code 0B into the parameter block", write_frame(0x24000, {9, 0, 5, 0}, 0x0B).substr(0, 24)},
        {"code 0B into the program region", write_frame(0x4000, {1}, 0x0B).substr(0, 18)},
        {"read past the end of memory", "0003FFC1030080"},
    };
    auto sim = started();
    auto before = sim->Read_Memory(0, TSimMemory::Size);
    TTestPort port(sim->Slave_Path());
    std::uint32_t refused = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(port.Send(c.Line + "\r" + read_request(0x4000)));
        EXPECT_EQ(port.Receive(258), Erased_Answer);
        EXPECT_EQ(sim->Counters().Rejected.load(), ++refused);
    }
    EXPECT_EQ(sim->Counters().Writes.load(), 0u);
    EXPECT_TRUE(sim->Read_Memory(0, TSimMemory::Size) == before);
}

// Lower bounds only: a paced line can be slow, never fast.
TEST(SimConverter, PacingAndProgramDelayTakeTheirTime) {
    struct TCase {
        const char* Name;
        TSimOptions Options;
        std::string Request;
        std::size_t Reply_Length;
        std::chrono::milliseconds At_Least;
    };
    const TCase cases[] = {
        // 273 characters arrive in 23.7 ms, then the 7 of the ack leave.
        {"block write at 115,200 baud", paced(), write_frame(0x4000, pattern(128, 5)), 7, 23ms},
        // 15 characters in, 258 out: 23.7 ms.
        {"block read at 115,200 baud", paced(), read_request(0x4000), 258, 23ms},
        {"program delay", program_delay(150ms), write_frame(0x4000, pattern(128, 6)), 7, 150ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        auto sim = started(c.Options);
        TTestPort port(sim->Slave_Path());
        auto sent = std::chrono::steady_clock::now();
        ASSERT_TRUE(port.Send(c.Request));
        ASSERT_EQ(port.Receive(c.Reply_Length).size(), c.Reply_Length);
        EXPECT_GE(std::chrono::steady_clock::now() - sent, c.At_Least);
    }
}

// Connect, Disconnect, Connect ...: each client locks the port as the configurator does, which
// works only while the simulator's own hold on the terminal takes no lock.
TEST(SimConverter, ServesClientsThatCloseAndReopen) {
    auto sim = started();
    for (std::uint32_t round = 1; round <= 5; ++round) {
        SCOPED_TRACE(round);
        {
            TTestPort port(sim->Slave_Path());
            ASSERT_GE(port.Fd(), 0);
            ASSERT_EQ(::flock(port.Fd(), LOCK_EX | LOCK_NB), 0) << std::strerror(errno);
            ASSERT_EQ(::ioctl(port.Fd(), TIOCEXCL), 0);
            ASSERT_TRUE(port.Send(read_request(0x24000)));
            EXPECT_EQ(port.Receive(258).substr(0, 8), "09000500");
            ASSERT_TRUE(port.Send(write_frame(0x4000 + 128 * round, pattern(128, 7))));
            EXPECT_EQ(port.Receive(7).substr(3), "O.K.");
        }
        ASSERT_TRUE(sim->Wait_For([&](const TSimCounters& c) { return c.Closes >= round; }, Patience));
    }
    EXPECT_EQ(sim->Counters().Answers.load(), 5u);
    EXPECT_EQ(sim->Counters().Acks.load(), 5u);
}

// The kernel keeps a terminal's exclusive flag while any descriptor of it is open, and the
// simulator holds one; the flag stops everyone but root, so this runs the clients as nobody.
TEST(SimConverter, ExclusiveFlagDoesNotOutliveItsClient) {
    auto sim = started();
    ASSERT_EQ(::chmod(sim->Slave_Path().c_str(), 0666), 0);
    auto client = [&]() {
        pid_t child = ::fork();
        if (child == 0) {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
            int fd = ::open(sim->Slave_Path().c_str(), O_RDWR | O_NOCTTY);
            if (fd < 0) ::_exit(1);
            if (::ioctl(fd, TIOCEXCL) != 0) ::_exit(3);
            int second = ::open(sim->Slave_Path().c_str(), O_RDWR | O_NOCTTY);
            ::_exit(second < 0 && errno == EBUSY ? 0 : 2);
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    for (std::uint32_t round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(client(), 0) << "1: cannot open, 2: not exclusive, 3: set-up failed";
        ASSERT_TRUE(sim->Wait_For([&](const TSimCounters& c) { return c.Closes >= round; }, Patience));
    }
}

// A request whose client has gone is never answered to the next client. The first client waits
// until its request has been taken, so that the answer is already on its way when it leaves.
TEST(SimConverter, DropsWhatALeavingClientLeftUnanswered) {
    TSimOptions options;
    std::string error;
    options.Fault_Plan.Faults.push_back(*Parse_Fault("delay=5000@1", error));
    auto sim = started(options);
    {
        TTestPort first(sim->Slave_Path());
        ASSERT_TRUE(first.Send(read_request(0x24000)));
        ASSERT_TRUE(sim->Wait_For([](const TSimCounters& c) { return c.Reads >= 1; }, Patience));
    }
    ASSERT_TRUE(sim->Wait_For([](const TSimCounters& c) { return c.Closes >= 1; }, Patience));
    TTestPort second(sim->Slave_Path());
    ASSERT_TRUE(second.Send(read_request(0x4000)));
    EXPECT_EQ(second.Receive(258), Erased_Answer);
    ASSERT_TRUE(sim->Wait_For([](const TSimCounters& c) { return c.Answers >= 1; }, Patience));
    EXPECT_EQ(sim->Counters().Answers.load(), 1u);
}

TEST(SimConverter, SavesItsMemoryAsAnImageOfTheAddressSpace) {
    TSimConverter sim;
    sim.Set_Protection(0xA7);
    const auto block = pattern(128, 8);
    sim.Write_Memory(0x4080, block);
    std::string path = ::testing::TempDir() + "sim_memory_image.bin";
    ASSERT_TRUE(sim.Save_Memory(path));

    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::vector<std::uint8_t> image(TSimMemory::Size + 1);
    std::size_t size = std::fread(image.data(), 1, image.size(), file);
    std::fclose(file);
    std::remove(path.c_str());
    ASSERT_EQ(size, TSimMemory::Size);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), image.begin() + 0x4080));
    EXPECT_EQ(image[0x3F003], 0xA7);
    EXPECT_EQ(image[0x24000], 9);
    EXPECT_EQ(image[0x4000], 0xFF);
}
