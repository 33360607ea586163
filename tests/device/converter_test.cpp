#include "converter.h"
#include "mini_converter.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

TEST(CodeTables, ParameterBytesReadAsTheirTexts) {
    const struct {
        std::uint8_t Bytes[4];
        const char* Texts[4];
    } Cases[] = {
        {{9, 0, 5, 0}, {"115200", "NONE", "9600", "NONE"}},
        {{10, 3, 8, 255}, {"Error", "Error", "Error", "Error"}},
        {{8, 1, 9, 2}, {"57600", "EVEN", "Error", "ODD"}},
        {{0, 2, 7, 1}, {"300", "ODD", "38400", "EVEN"}},
    };
    for (const auto& C : Cases) {
        EXPECT_EQ(Serial_Baud_Text(C.Bytes[0]), C.Texts[0]);
        EXPECT_EQ(Parity_Text(C.Bytes[1]), C.Texts[1]);
        EXPECT_EQ(MBus_Baud_Text(C.Bytes[2]), C.Texts[2]);
        EXPECT_EQ(Parity_Text(C.Bytes[3]), C.Texts[3]);
    }
    EXPECT_EQ(Code_Of(MBus_Baud_Texts, "19200"), 6);
    EXPECT_EQ(Code_Of(Parity_Texts, "EVEN"), 1);
    EXPECT_EQ(Code_Of(MBus_Baud_Texts, "115200"), -1);
}

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        Arm = std::make_unique<Tarm_SER>(
            true, [this] { return Link.Make_Port(); }, Link);
        Arm->Start();
        ASSERT_TRUE(Eventually([&] { return Arm->res_connessione() == 1; }));
    }
    void Set_Protection(std::uint32_t Word) {
        std::lock_guard<std::mutex> L(Conv.M);
        for (int i = 0; i < 4; ++i)
            Conv.Mem[Addr_Protection + i] = static_cast<std::uint8_t>(Word >> (24 - 8 * i));
    }

    TMiniConverter Conv;
    TScriptedLink Link{std::ref(Conv)};
    std::unique_ptr<Tarm_SER> Arm;
};

TEST_F(Commands, ProtectionGate) {
    enum TAnswer { Good, Silent, Garbled, Short };
    const struct {
        std::uint32_t Word;
        TAnswer Answer;
        TGate Result;
    } Cases[] = {
        {0, Good, TGate::Passed},
        {0xA7, Good, TGate::Passed},
        {1, Good, TGate::Refused},
        {0xA700, Good, TGate::Refused},
        {0xFFFFFFFF, Good, TGate::Refused},
        // Only a good answer is judged: silence is no pass, a garbled word no refusal.
        {1, Silent, TGate::No_Answer},
        {0x12345678, Garbled, TGate::No_Answer},
        {0x00A70000, Short, TGate::No_Answer},
    };
    for (const auto& C : Cases) {
        Set_Protection(C.Word);
        Conv.Silent = C.Answer == Silent;
        if (C.Answer == Garbled) Conv.Corrupt_Once = {Addr_Protection};
        if (C.Answer == Short) Conv.Noise_Once = {Addr_Protection};
        EXPECT_EQ(Protection_Gate(*Arm), C.Result) << std::hex << C.Word;
        EXPECT_EQ(Arm->fErrorLastCommand.load(), C.Answer == Good ? 0 : 1);
    }
}

TEST_F(Commands, GateOnABusyWorkerDoesNotJudgeAnOldWord) {
    Set_Protection(0x55);
    Link.Hold();
    ASSERT_EQ(Arm->read_Data(), Req_Accepted);
    ASSERT_TRUE(Eventually([&] { return Link.Worker_Held(); }));
    EXPECT_EQ(Protection_Gate(*Arm), TGate::Busy);
    Link.Release();
}

TEST_F(Commands, ParameterBlockReadAndWrite) {
    const auto M_Baud = static_cast<std::uint8_t>(Code_Of(MBus_Baud_Texts, "19200"));
    const auto M_Par = static_cast<std::uint8_t>(Code_Of(Parity_Texts, "EVEN"));
    // The write returns once the converter has acknowledged it.
    ASSERT_EQ(Write_Params(*Arm, M_Baud, M_Par), TCmdResult::Done);
    EXPECT_EQ(Arm->stato.load(), St_Idle);
    EXPECT_EQ(Conv.Bytes(Addr_Data, 5), (std::vector<std::uint8_t>{9, 0, 6, 1, 0xFF}));
    EXPECT_EQ(Arm->Write_Data[4], 255);

    TLineParams P;
    ASSERT_EQ(Read_Params(*Arm, P), TCmdResult::Done);
    EXPECT_EQ(Serial_Baud_Text(P.Ser_Baud), "115200");
    EXPECT_EQ(MBus_Baud_Text(P.MBus_Baud), "19200");
    EXPECT_EQ(Parity_Text(P.MBus_Par), "EVEN");

    // Failed reads leave the values alone: no answer, and an answer one byte short whose
    // checksum still matches (it would show every value shifted by one place).
    for (int Round = 0; Round < 2; ++Round) {
        Conv.Silent = Round == 0;
        if (Round == 1) Conv.Noise_Once = {Addr_Data};
        TLineParams Unchanged = P;
        EXPECT_EQ(Read_Params(*Arm, Unchanged), TCmdResult::Failed) << Round;
        EXPECT_EQ(Unchanged.MBus_Baud, P.MBus_Baud) << Round;
        EXPECT_EQ(Unchanged.MBus_Par, P.MBus_Par) << Round;
    }
}

TEST_F(Commands, WriteThatIsNotAcknowledgedOrNotPlacedIsNoSuccess) {
    Conv.Drop_Ack_Once = {Addr_Data};
    EXPECT_EQ(Write_Params(*Arm, 3, 2), TCmdResult::Failed);
    EXPECT_EQ(Write_Params(*Arm, 3, 2), TCmdResult::Done);

    Link.Hold();
    ASSERT_EQ(Arm->read_protection(), Req_Accepted);
    ASSERT_TRUE(Eventually([&] { return Link.Worker_Held(); }));
    EXPECT_EQ(Write_Params(*Arm, 4, 1), TCmdResult::Busy);
    Link.Release();
    ASSERT_TRUE(Answer_Wait(*Arm));
    EXPECT_EQ(Conv.Bytes(Addr_Data, 4), (std::vector<std::uint8_t>{9, 0, 3, 2}));
}

TEST_F(Commands, ReadWhoseWaitRunsOutShowsNothing) {
    TLineParams Before;
    ASSERT_EQ(Read_Params(*Arm, Before), TCmdResult::Done);
    Link.Hold();
    TScriptedLink Clock;
    TLineParams P = {1, 2, 3, 4};
    EXPECT_EQ(Read_Params(*Arm, P, {}, Clock), TCmdResult::Timed_Out);
    EXPECT_EQ(P.Ser_Baud, 1);
    EXPECT_EQ(P.MBus_Par, 4);
    Link.Release();
    EXPECT_TRUE(Answer_Wait(*Arm));
}

TEST_F(Commands, AnswerWaitRunsEventsAndGivesUpAfterTwoHundredPauses) {
    Link.Hold();
    ASSERT_EQ(Arm->read_protection(), Req_Accepted);
    ASSERT_TRUE(Eventually([&] { return Link.Worker_Held(); }));
    TScriptedLink Clock;
    int Events = 0;
    EXPECT_FALSE(Answer_Wait(
        *Arm, [&] { ++Events; }, Clock));
    EXPECT_EQ(Events, 200);
    EXPECT_EQ(Clock.Now(), 2000);
    Link.Release();
    EXPECT_TRUE(Answer_Wait(*Arm));
}

TEST(Firmware, ReadbackNameHasNoLeadingZeros) {
    std::tm T{};
    T.tm_year = 2015 - 1900;
    T.tm_mon = 0;
    T.tm_mday = 30;
    T.tm_hour = 9;
    T.tm_min = 5;
    T.tm_sec = 7;
    const fs::path Image = fs::path("master") / "Sim40815.sim";
    EXPECT_EQ(Readback_File_Name(Image.string(), T, 45),
              (fs::path("master") / "Sim40815201513095745.b79").string());

    // From a point in time: the local fields depend on the machine's time zone, which moves
    // whole quarter hours, so the second and the millisecond are known.
    const auto When = std::chrono::system_clock::from_time_t(1422608707) + std::chrono::milliseconds(45);
    const std::string Name = fs::path(Readback_File_Name(Image.string(), When)).filename().string();
    EXPECT_TRUE(Name.starts_with("Sim408152015")) << Name;
    EXPECT_TRUE(Name.ends_with("745.b79")) << Name;
}

TEST(Firmware, ProgressFollowsTheAddressesAndStopsAtAHundred) {
    Tarm_SER Arm(true, [] { return std::unique_ptr<TSerialPort>(); });
    const struct {
        std::uint32_t Size, Done;
        int Position;
    } Cases[] = {{1000, 0, 0},      {1000, 512, 51}, {1000, 896, 89},
                 {1000, 1024, 100}, {0, 0, 0},       {131072, 131072, 100}};
    for (const auto& C : Cases) {
        Arm.indice_memoria_start = Addr_Prg_Start;
        Arm.indice_memoria_end = Addr_Prg_Start + C.Size - 1;
        Arm.indice_memoria = Addr_Prg_Start + C.Done;
        EXPECT_EQ(Transfer_Position(Arm), C.Position) << C.Size << "/" << C.Done;
    }
}

TEST(Firmware, ComparisonCoversTheImageAndDeletesTheReadback) {
    const fs::path Dir = fs::temp_directory_path() / ("sw40815-compare-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    auto write = [&](const char* Name, std::string Bytes) {
        std::ofstream(Dir / Name, std::ios::binary) << Bytes;
        return (Dir / Name).string();
    };
    std::string Image(1000, '\0');
    for (std::size_t i = 0; i < Image.size(); ++i)
        Image[i] = static_cast<char>(i * 13);
    std::string Off_By_One = Image + std::string(24, '\0');
    Off_By_One[999] ^= 1;
    const struct {
        const char* Name;
        std::string Image, Readback;
        bool Missing_Readback;
        bool Same;
    } Cases[] = {
        {"identical", Image, Image, false, true},
        {"read-back longer by the rest of its block", Image, Image + std::string(24, '\x55'), false, true},
        {"last image byte differs", Image, Off_By_One, false, false},
        {"read-back shorter", Image, Image.substr(0, 999), false, false},
        {"empty image", "", std::string(128, '\xFF'), false, true},
        {"read-back missing", Image, "", true, false},
    };
    for (const auto& C : Cases) {
        const std::string Firm = write("image.sim", C.Image);
        const std::string Back =
            C.Missing_Readback ? (Dir / "none.b79").string() : write("back.b79", C.Readback);
        EXPECT_EQ(Confronta_File(Firm, Back), C.Same) << C.Name;
        EXPECT_FALSE(fs::exists(Back)) << C.Name;
        EXPECT_TRUE(fs::exists(Firm)) << C.Name;
    }
    fs::remove_all(Dir);
}

} // namespace
