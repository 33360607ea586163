// The link worker on the real serial port component, talking to the simulated converter over a
// pseudo-terminal.

#include "arm_usb.h"
#include "converter.h"
#include "eventually.h"
#include "sim_converter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::vector<std::uint8_t> image_bytes(std::size_t N, unsigned Seed) {
    std::vector<std::uint8_t> V(N);
    for (std::size_t i = 0; i < N; ++i)
        V[i] = static_cast<std::uint8_t>((i * 131 + Seed * 7 + i / 97) & 0xFF);
    return V;
}

TSimFaultPlan plan(const char* Text) {
    TSimFaultPlan Plan;
    std::string Error;
    auto Fault = Parse_Fault(Text, Error);
    EXPECT_TRUE(Fault.has_value()) << Error;
    if (Fault) Plan.Faults.push_back(*Fault);
    return Plan;
}

class LinkE2E : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::temp_directory_path() / ("sw40815-e2e-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(Dir);
    }
    void TearDown() override {
        Arm.reset();
        if (Sim) Sim->Stop();
        fs::remove_all(Dir);
    }
    void Start_Sim(TSimOptions Options = {}) {
        Sim = std::make_unique<TSimConverter>(std::move(Options));
        Sim->Start();
    }
    void Connect() {
        Arm = std::make_unique<Tarm_SER>(true);
        Arm->Com_Port = Sim->Slave_Path();
        Arm->Start();
        ASSERT_TRUE(Eventually([&] { return Arm->InitDone() == 1; }));
        ASSERT_EQ(Arm->res_connessione(), 1) << Arm->Open_Error;
    }
    bool Idle() {
        return Eventually([&] { return Arm->stato.load() == St_Idle; });
    }
    std::string Write_Image(const std::vector<std::uint8_t>& Bytes) {
        const fs::path P = Dir / "Sim40815.sim";
        std::ofstream(P, std::ios::binary)
            .write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
        return P.string();
    }
    // Writes the image and reads it back; true when the read-back matches.
    bool Update(const std::vector<std::uint8_t>& Bytes) {
        const std::string Image = Write_Image(Bytes);
        std::int32_t Dim = 0;
        if (Start_Firmware_Write(*Arm, Image, Dim) != Req_Accepted || !Idle()) return false;
        const std::string Back = Readback_File_Name(Image, std::chrono::system_clock::now());
        if (Start_Firmware_Readback(*Arm, Back, Dim) != Req_Accepted || !Idle()) return false;
        return Confronta_File(Image, Back);
    }

    fs::path Dir;
    std::unique_ptr<TSimConverter> Sim;
    std::unique_ptr<Tarm_SER> Arm;
};

TEST_F(LinkE2E, ReadsAndWritesTheParameterBlock) {
    Start_Sim();
    Connect();
    EXPECT_EQ(Protection_Gate(*Arm), TGate::Passed);
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 0);
    TLineParams P;
    ASSERT_EQ(Read_Params(*Arm, P), TCmdResult::Done);
    EXPECT_EQ(Serial_Baud_Text(P.Ser_Baud), "115200");
    EXPECT_EQ(MBus_Baud_Text(P.MBus_Baud), "9600");

    ASSERT_EQ(Write_Params(*Arm, static_cast<std::uint8_t>(Code_Of(MBus_Baud_Texts, "19200")),
                           static_cast<std::uint8_t>(Code_Of(Parity_Texts, "EVEN"))),
              TCmdResult::Done);
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 0);
    EXPECT_EQ(Sim->Read_Memory(Addr_Data, 4), (std::vector<std::uint8_t>{9, 0, 6, 1}));

    Sim->Set_Protection(0x55);
    EXPECT_EQ(Protection_Gate(*Arm), TGate::Refused);
    Sim->Set_Protection(Protection_Code);
    EXPECT_EQ(Protection_Gate(*Arm), TGate::Passed);
}

TEST_F(LinkE2E, WritesAnImageAndReadsItBack) {
    Start_Sim();
    Connect();
    const auto Bytes = image_bytes(1000, 1);
    const std::string Image = Write_Image(Bytes);
    std::int32_t Dim = 0;
    ASSERT_EQ(Start_Firmware_Write(*Arm, Image, Dim), Req_Accepted);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 0);
    auto Expected = Bytes;
    Expected.resize(1024, 0);
    EXPECT_EQ(Sim->Read_Memory(Addr_Prg_Start, 1024), Expected);
    EXPECT_EQ(Sim->Read_Memory(Addr_Prg_Start + 1024, 1), std::vector<std::uint8_t>{0xFF});

    const std::string Back = Readback_File_Name(Image, std::chrono::system_clock::now());
    ASSERT_EQ(Start_Firmware_Readback(*Arm, Back, Dim), Req_Accepted);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(fs::file_size(Back), 1024u);
    EXPECT_TRUE(Confronta_File(Image, Back));
    EXPECT_FALSE(fs::exists(Back));
}

TEST_F(LinkE2E, RecoversFromEveryInjectedFault) {
    // The image is three blocks: frames 1 to 3 are writes, 4 to 6 the read-back. Each fault hits
    // a block of the read-back or the second block of the write; the block is repeated and the
    // image lands all the same. An answer 1.2 s late must not be taken for a later block.
    const char* Faults[] = {"drop-ack@2", "split-ack=50@2", "corrupt@2",    "spaces@2", "crlf@2",
                            "noise@2",    "delay=700@5",    "delay=1200@4", "silent@5"};
    unsigned Seed = 0;
    for (const char* Fault : Faults) {
        SCOPED_TRACE(Fault);
        Arm.reset();
        if (Sim) Sim->Stop();
        TSimOptions Options;
        Options.Fault_Plan = plan(Fault);
        Start_Sim(Options);
        Connect();
        const auto Bytes = image_bytes(3 * 128, ++Seed);
        EXPECT_TRUE(Update(Bytes));
        EXPECT_GE(Sim->Counters().Faults.load(), 1u);
        EXPECT_EQ(Arm->LinkLost(), 0);
    }
}

TEST_F(LinkE2E, TerminalThatHangsUpEndsTheTransfer) {
    TSimOptions Options;
    Options.Fault_Plan = plan("hangup@3");
    Start_Sim(Options);
    Connect();
    const std::string Image = Write_Image(image_bytes(4096, 3));
    std::int32_t Dim = 0;
    ASSERT_EQ(Start_Firmware_Write(*Arm, Image, Dim), Req_Accepted);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Arm->LinkLost(), 1);
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 1);
    EXPECT_LT(Arm->nciclo.load(), 32);
    ASSERT_EQ(Arm->read_protection(), Req_Accepted);
    EXPECT_TRUE(Answer_Wait(*Arm));
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 1);
}

TEST_F(LinkE2E, ConnectDisconnectConnectAndDisconnectDuringATransfer) {
    TSimOptions Options;
    Options.Program_Delay = 20ms;
    Start_Sim(Options);
    for (int Round = 0; Round < 3; ++Round) {
        SCOPED_TRACE(Round);
        Connect();
        TLineParams P;
        ASSERT_EQ(Read_Params(*Arm, P), TCmdResult::Done);
        EXPECT_EQ(P.Ser_Baud, 9);
        const std::string Image = Write_Image(image_bytes(128 * 1024, 4));
        std::int32_t Dim = 0;
        ASSERT_EQ(Start_Firmware_Write(*Arm, Image, Dim), Req_Accepted);
        ASSERT_TRUE(Eventually([&] { return Arm->nciclo.load() >= 2; }));
        Arm.reset(); // Disconnect in the middle of the transfer
    }
    Connect();
    EXPECT_EQ(Protection_Gate(*Arm), TGate::Passed);
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 0);
}

} // namespace
