// Faults as a client meets them, and the command-line form that selects them.

#include "sim_converter.h"
#include "sim_test_port.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

std::unique_ptr<TSimConverter> started_with(const std::vector<std::string>& Faults, std::uint64_t Seed = 1) {
    TSimOptions options;
    options.Fault_Plan.Seed = Seed;
    for (const auto& text : Faults) {
        std::string error;
        auto fault = Parse_Fault(text, error);
        EXPECT_TRUE(fault) << text << ": " << error;
        if (fault) options.Fault_Plan.Faults.push_back(*fault);
    }
    auto sim = std::make_unique<TSimConverter>(std::move(options));
    sim->Start();
    return sim;
}

std::string spaced_erased_answer() {
    std::string answer;
    for (int group = 0; group < 32; ++group)
        answer += "FFFFFFFF ";
    return answer + "00";
}

std::string lined_erased_answer() {
    std::string answer;
    for (int line = 0; line < 8; ++line)
        answer += std::string(32, 'F') + "\r\n";
    return answer + "00";
}

const std::string Ack(Sim_Ack);
const std::vector<std::uint8_t> Parameters = {1, 0, 2, 1};
const std::string Parameter_Write = write_frame(0x24000, Parameters);

} // namespace

TEST(SimFaults, ParseTheCommandLineForm) {
    struct TGood {
        const char* Text;
        TSimFaultKind Kind;
        std::uint32_t First, Last;
        double Probability;
        std::chrono::milliseconds Pause;
    };
    const TGood good[] = {
        {"drop-ack@3", TSimFaultKind::fkDropAck, 3, 3, 0, 0ms},
        {"split-ack@1", TSimFaultKind::fkSplitAck, 1, 1, 0, 50ms},
        {"split-ack=20@2-5", TSimFaultKind::fkSplitAck, 2, 5, 0, 20ms},
        {"delay=2000@4", TSimFaultKind::fkDelay, 4, 4, 0, 2000ms},
        {"delay@1", TSimFaultKind::fkDelay, 1, 1, 0, 1000ms},
        {"silent@7-", TSimFaultKind::fkSilent, 7, TSimFault::No_End, 0, 0ms},
        {"corrupt@random:0.1", TSimFaultKind::fkCorrupt, 1, 1, 0.1, 0ms},
        {"spaces@2", TSimFaultKind::fkSpaces, 2, 2, 0, 0ms},
        {"crlf@random:1", TSimFaultKind::fkCrLf, 1, 1, 1.0, 0ms},
        {"noise@2", TSimFaultKind::fkNoise, 2, 2, 0, 0ms},
        {"hangup@5", TSimFaultKind::fkHangUp, 5, 5, 0, 0ms},
    };
    for (const auto& g : good) {
        SCOPED_TRACE(g.Text);
        std::string error;
        auto fault = Parse_Fault(g.Text, error);
        ASSERT_TRUE(fault) << error;
        EXPECT_EQ(fault->Kind, g.Kind);
        EXPECT_EQ(fault->Probability, g.Probability);
        if (g.Probability == 0) {
            EXPECT_EQ(fault->First, g.First);
            EXPECT_EQ(fault->Last, g.Last);
        }
        EXPECT_EQ(fault->Pause, g.Pause);
    }
    const char* bad[] = {"",
                         "drop-ack",
                         "bogus@1",
                         "drop-ack=5@1",
                         "delay=@1",
                         "delay=x@1",
                         "silent@0",
                         "silent@4-2",
                         "silent@-3",
                         "delay@1-x",
                         "corrupt@",
                         "corrupt@random:0",
                         "corrupt@random:1.5",
                         "corrupt@random:",
                         "Delay@1"};
    for (const char* text : bad) {
        std::string error;
        EXPECT_FALSE(Parse_Fault(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

// Each fault hits the first frame of its kind; a plain read follows it, whose answer must come
// right after the faulted reply: so the reply is exactly as shown and the simulator serves on.
TEST(SimFaults, EachFaultShowsOnTheLine) {
    struct TCase {
        const char* Fault;
        std::string Request;
        std::string Reply;
        bool Stored; // writes: whether the bytes reached memory
        std::chrono::milliseconds At_Least;
    };
    const TCase cases[] = {
        {"drop-ack@1", Parameter_Write, "", true, 0ms},
        {"silent@1", Parameter_Write, "", false, 0ms},
        {"silent@1", read_request(0x24000), "", false, 0ms},
        {"corrupt@1", read_request(0x4000), std::string(256, 'F') + "FF", false, 0ms},
        {"spaces@1", read_request(0x4000), spaced_erased_answer(), false, 0ms},
        {"crlf@1", read_request(0x4000), lined_erased_answer(), false, 0ms},
        // The first zero byte of 09 00 05 00 FF ... arrives as two NULs; the checksum stays 0C.
        {"noise@1", read_request(0x24000),
         std::string("09\0\0"
                     "0500",
                     8) +
             std::string(248, 'F') + "0C",
         false, 0ms},
        {"split-ack=60@1", Parameter_Write, Ack, true, 60ms},
        {"delay=150@1", read_request(0x4000), Erased_Answer, false, 150ms},
        {"delay=150@1", Parameter_Write, Ack, true, 150ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Fault) + " on " + c.Request.substr(0, 14));
        auto sim = started_with({c.Fault});
        TTestPort port(sim->Slave_Path());
        auto sent = std::chrono::steady_clock::now();
        ASSERT_TRUE(port.Send(c.Request + read_request(0x4000)));
        EXPECT_EQ(port.Receive(c.Reply.size()), c.Reply);
        EXPECT_GE(std::chrono::steady_clock::now() - sent, c.At_Least);
        EXPECT_EQ(port.Receive(258), Erased_Answer);
        EXPECT_EQ(sim->Counters().Faults.load(), 1u);
        if (c.Request == Parameter_Write) {
            EXPECT_EQ(sim->Read_Memory(0x24000, 4) == Parameters, c.Stored);
        }
    }
}

// Reads and writes are numbered apart for the faults that touch only one kind, together for the
// others; a range keeps hitting until its end.
TEST(SimFaults, FramesAreNumberedPerKindOrAllTogether) {
    struct TCase {
        const char* Fault;
        std::string Expected; // the replies to: write, read, write, read, write, read
    };
    const TCase cases[] = {
        {"drop-ack@2", "W R _ R W R"}, {"corrupt@2", "W R W C W R"},   {"silent@2", "W _ W R W R"},
        {"silent@3-4", "W R _ _ W R"}, {"drop-ack@2-", "W R _ R _ R"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Fault);
        auto sim = started_with({c.Fault});
        TTestPort port(sim->Slave_Path());
        std::string expected;
        for (std::size_t i = 0; i < 6; ++i) {
            char reply = c.Expected[2 * i];
            bool write = i % 2 == 0;
            ASSERT_TRUE(port.Send(write ? Parameter_Write : read_request(0x4000)));
            if (reply == 'W') expected += Ack;
            if (reply == 'R') expected += Erased_Answer;
            if (reply == 'C') expected += std::string(256, 'F') + "FF";
        }
        // A last, unfaulted read closes the stream: nothing may come between.
        ASSERT_TRUE(port.Send(read_request(0x4000)));
        EXPECT_EQ(port.Receive(expected.size() + 258), expected + Erased_Answer);
    }
}

// The same seed picks the same frames; another seed picks others.
TEST(SimFaults, RandomPicksFollowTheSeed) {
    auto corrupted = [](std::uint64_t Seed) {
        auto sim = started_with({"corrupt@random:0.5"}, Seed);
        TTestPort port(sim->Slave_Path());
        std::string picks;
        for (int i = 0; i < 24; ++i) {
            EXPECT_TRUE(port.Send(read_request(0x4000)));
            picks += port.Receive(258) == Erased_Answer ? '.' : 'X';
        }
        EXPECT_EQ(static_cast<std::size_t>(std::count(picks.begin(), picks.end(), 'X')),
                  sim->Counters().Faults.load());
        return picks;
    };
    std::string first = corrupted(7);
    EXPECT_EQ(corrupted(7), first);
    EXPECT_NE(corrupted(8), first);
    EXPECT_NE(first.find('X'), std::string::npos);
    EXPECT_NE(first.find('.'), std::string::npos);
}

TEST(SimFaults, HangUpClosesTheTerminalAfterFrameN) {
    auto sim = started_with({"hangup@2"});
    TTestPort port(sim->Slave_Path());
    ASSERT_TRUE(port.Send(read_request(0x4000)));
    EXPECT_EQ(port.Receive(258), Erased_Answer);
    ASSERT_TRUE(port.Send(Parameter_Write));
    EXPECT_EQ(port.Receive(7), Ack);
    EXPECT_TRUE(port.Wait_Hang_Up());
    EXPECT_TRUE(sim->Wait_For([](const TSimCounters& c) { return c.Hung_Up.load(); }, Patience));
    char byte;
    EXPECT_LE(::read(port.Fd(), &byte, 1), 0);
}
