#include "arm_usb.h"
#include "mini_converter.h"
#include "scripted_link.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> pattern(std::size_t N) {
    std::vector<std::uint8_t> V(N);
    for (std::size_t i = 0; i < N; ++i)
        V[i] = static_cast<std::uint8_t>(i * 31 + i / 256 + 1);
    return V;
}

std::vector<std::uint8_t> file_bytes(const fs::path& P) {
    std::ifstream In(P, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

// Whether the worker still holds File. Linux counts the process's descriptors; Windows (and Wine,
// whose own descriptors come and go) refuses to delete a file that is open.
#ifdef _WIN32
std::size_t open_descriptors() {
    return 0;
}
bool file_released(const fs::path& File) {
    std::error_code Error;
    fs::remove(File, Error);
    return !Error && !fs::exists(File);
}
#else
std::size_t open_descriptors() {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}
bool file_released(const fs::path&) {
    return true;
}
#endif

class Worker : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::temp_directory_path() / ("sw40815-worker-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(Dir);
    }
    void TearDown() override {
        Arm.reset();
        fs::remove_all(Dir);
    }

    void Start() {
        Arm = std::make_unique<Tarm_SER>(
            true, [this] { return Link.Make_Port(); }, Link);
        Arm->Com_Port = "/dev/ttyTEST0";
        Arm->Start();
    }
    void Connect() {
        Start();
        ASSERT_TRUE(Eventually([&] { return Arm->res_connessione() == 1; }));
    }
    bool Answered() {
        return Eventually([&] { return Arm->fReceiveAnswer.load() == 1; });
    }
    bool Idle() {
        return Eventually([&] { return Arm->stato.load() == St_Idle; });
    }
    fs::path Write_File(const std::string& Name, const std::vector<std::uint8_t>& Bytes) {
        const fs::path P = Dir / Name;
        std::ofstream(P, std::ios::binary)
            .write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
        return P;
    }
    std::vector<std::string> Requests_Of_Kind(const std::string& Code) {
        std::vector<std::string> Out;
        for (auto& R : Link.Requests())
            if (R.substr(8, 2) == Code) Out.push_back(R);
        return Out;
    }

    fs::path Dir;
    TMiniConverter Conv;
    TScriptedLink Link{std::ref(Conv)};
    std::unique_ptr<Tarm_SER> Arm;
};

TEST_F(Worker, OpensThePortAt115200_8N1WithDtrRaised) {
    Connect();
    const TPortSettings S = Link.Settings();
    EXPECT_EQ(S.Baud, br115200);
    EXPECT_EQ(S.Data, da8);
    EXPECT_EQ(S.Parity, paNone);
    EXPECT_EQ(S.Stop, sb10);
    EXPECT_EQ(S.Flow, fcNone);
    EXPECT_EQ(S.Device, "/dev/ttyTEST0");
    EXPECT_TRUE(S.Dtr);
    EXPECT_EQ(Arm->LinkLost(), 0);
}

TEST_F(Worker, PortThatDoesNotOpenLeavesNoConnectionAndRequestsFailAtOnce) {
    Link.Fail_Open(true);
    Start();
    ASSERT_TRUE(Eventually([&] { return Arm->InitDone() == 1; }));
    EXPECT_EQ(Arm->res_connessione(), 0);
    EXPECT_EQ(Arm->Open_Error_Code, 2);
    EXPECT_EQ(Arm->Open_Error, "Error accessing specified device (Error: 2) ");
    ASSERT_EQ(Arm->read_protection(), Req_Accepted);
    ASSERT_TRUE(Answered());
    EXPECT_EQ(Arm->res_connessione(), 0);
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 1);
    EXPECT_TRUE(Link.Requests().empty());
}

TEST_F(Worker, ReadsTheThreeItems) {
    Conv.Mem = {{0x3F000, 0x00}, {0x3F001, 0x00}, {0x3F002, 0x00}, {0x3F003, 0xA7}, {0x3F004, 0x00},
                {0x3F005, 0x1B}, {0x3F006, 0x2C}, {0x3F007, 0x3D}, {0x3F008, 0x4E}, {0x3F009, 0x5F},
                {0x24000, 9},    {0x24001, 0},    {0x24002, 5},    {0x24003, 0}};
    Connect();

    ASSERT_EQ(Arm->read_protection(), Req_Accepted);
    ASSERT_TRUE(Answered());
    EXPECT_EQ(Arm->Protection.load(), 0xA7);
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 0);

    ASSERT_EQ(Arm->read_MACAddress(), Req_Accepted);
    ASSERT_TRUE(Answered());
    EXPECT_EQ(std::vector<std::uint8_t>(Arm->MacAdd, Arm->MacAdd + 6),
              (std::vector<std::uint8_t>{0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}));

    ASSERT_EQ(Arm->read_Data(), Req_Accepted);
    ASSERT_TRUE(Answered());
    EXPECT_EQ(std::vector<std::uint8_t>(Arm->Read_Dati, Arm->Read_Dati + 5),
              (std::vector<std::uint8_t>{9, 0, 5, 0, 0xFF}));
    EXPECT_EQ(Arm->stato.load(), St_Idle);

    EXPECT_EQ(Link.Requests(),
              (std::vector<std::string>{"0003F000030080\r", "0003F004030080\r", "00024000030080\r"}));
    // A read request goes out one character per write.
    for (auto N : Link.Write_Sizes())
        EXPECT_EQ(N, 1u);
}

TEST_F(Worker, ProtectionReadWithoutAnswerTimesOutAfterHalfASecond) {
    Conv.Silent = true;
    Connect();
    Arm->Protection = 0x1234;
    const std::int64_t T0 = Link.Now();
    ASSERT_EQ(Arm->read_protection(), Req_Accepted);
    ASSERT_TRUE(Answered());
    EXPECT_EQ(Link.Now() - T0, 50 * 10);
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 1);
    EXPECT_EQ(Arm->Protection.load(), 0);
    EXPECT_EQ(Arm->stato.load(), St_Idle);
}

TEST_F(Worker, ReadAnswerIsTakenOnceAWholeAnswerWaitsAtAPoll) {
    std::vector<std::uint8_t> Block(128);
    for (int i = 0; i < 128; ++i)
        Block[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 37 + 11);
    Block[1] = 0;
    const std::string Good = answer_for(Block); // 258 characters
    std::string Noisy = Good;                   // byte 1's digits lost to noise: the checksum still matches
    Noisy[2] = Noisy[3] = '\0';
    std::string Spaced; // a blank after every 8 digits: 290 characters
    for (std::size_t i = 0; i < 256; i += 8)
        Spaced += Good.substr(i, 8) + " ";
    Spaced += Good.substr(256);
    std::string Lower = Good;
    Lower[5] = 'a'; // a lowercase digit is skipped, which shifts every later digit

    // Taken: when the answer is judged, counted from the request.
    const struct {
        const char* Name;
        std::vector<TChunk> Chunks;
        bool Error;
        std::int64_t Taken;
    } Cases[] = {
        {"whole answer", {{23, Good}}, false, 23},
        {"257 characters never read", {{25, Good.substr(0, 257)}}, true, 500},
        {"in two parts within the time-out", {{12, Good.substr(0, 100)}, {24, Good.substr(100)}}, false, 24},
        {"spaced answer all waiting at the poll", {{25, Spaced}}, false, 25},
        {"spaced answer with its tail still on the line",
         {{15, Spaced.substr(0, 260)}, {45, Spaced.substr(260)}},
         true,
         15},
        {"CR after the checksum already waiting", {{25, Good + "\r"}}, true, 25},
        {"CR after the checksum arriving later", {{25, Good}, {45, "\r"}}, false, 25},
        {"lowercase digit", {{25, Lower}}, true, 25},
        {"a zero byte lost to noise", {{25, Noisy}}, true, 25},
        {"bad checksum", {{25, Good.substr(0, 256) + "FF"}}, true, 25},
        {"answer after the time-out", {{600, Good}}, true, 500},
    };
    Connect();
    for (const auto& C : Cases) {
        Link.Sleep_ms(2000); // let anything late from the previous case arrive, and the grace pass
        Link.Set_Responder([&](const std::string&) { return C.Chunks; });
        const std::int64_t T0 = Link.Now();
        ASSERT_EQ(Arm->read_Data(), Req_Accepted) << C.Name;
        ASSERT_TRUE(Answered()) << C.Name;
        EXPECT_EQ(Arm->fErrorLastCommand.load(), C.Error ? 1 : 0) << C.Name;
        EXPECT_EQ(Link.Request_Times().back(), T0) << C.Name;
        // The answer is judged the moment its 258th character is there, not at the next poll.
        EXPECT_EQ(Link.Now() - T0, C.Taken) << C.Name;
        if (!C.Error) {
            EXPECT_EQ(Arm->Read_Dati[4], Block[4]) << C.Name;
        }
    }
}

TEST_F(Worker, LateAnswerIsNotTakenForTheNextRequest) {
    for (std::uint32_t i = 0; i < 64 * 128; ++i)
        Conv.Mem[Addr_Prg_Start + i] = static_cast<std::uint8_t>(i * 7 + i / 128);
    Conv.Mem[Addr_Protection + 3] = 0x55;
    Connect();

    // A protection word that comes just after the time-out, while the parameter block is asked.
    Conv.Late_Once = {{Addr_Protection, 510}};
    ASSERT_EQ(Arm->read_protection(), Req_Accepted);
    ASSERT_TRUE(Answered());
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 1);
    ASSERT_EQ(Arm->read_Data(), Req_Accepted);
    ASSERT_TRUE(Answered());
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(Arm->Read_Dati, Arm->Read_Dati + 5), Conv.Bytes(Addr_Data, 5));
    // The request after the failure waited out the grace from the failure; none other waits.
    auto Times = Link.Request_Times();
    ASSERT_EQ(Times.size(), 2u);
    EXPECT_EQ(Times[1] - Times[0], 500 + 1000);

    // A read-back whose first block is answered 1.2 s late: that answer must not become a later block.
    Conv.Late_Once = {{Addr_Prg_Start, 1200}};
    const fs::path Out = Dir / "readback.b79";
    Arm->filename = Out.string();
    ASSERT_EQ(Arm->read_mem_prg(0, 64 * 128), Req_Accepted);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(file_bytes(Out), Conv.Bytes(Addr_Prg_Start, 64 * 128));
    Times = Link.Request_Times();
    ASSERT_EQ(Times.size(), 2u + 65u);
    EXPECT_EQ(Times[3] - Times[2], 500 + 1000);
    EXPECT_EQ(Times[4] - Times[3], 25);
}

TEST_F(Worker, CompletionOfOneRequestIsNeverSeenByTheNext) {
    Connect();
    // A single write clears the completion flag that an earlier read left raised, so an owner
    // waiting on it sees this write's completion and no other.
    ASSERT_EQ(Arm->read_protection(), Req_Accepted);
    ASSERT_TRUE(Answered());
    Link.Hold();
    Arm->Write_Data[0] = 7;
    ASSERT_EQ(Arm->Write_Internal_Data(1, 0, 1), Req_Accepted);
    EXPECT_EQ(Arm->fReceiveAnswer.load(), 0);
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 0);
    Link.Release();
    ASSERT_TRUE(Answered());

    // An owner that places its next request the moment stato reads 0 after a write never has
    // that request's completion flag raised by the end of the write.
    for (int Round = 0; Round < 300; ++Round) {
        ASSERT_EQ(Arm->Write_Internal_Data(1, 0, 1), Req_Accepted);
        while (Arm->stato.load(std::memory_order_acquire) != St_Idle) {
        }
        Link.Hold();
        ASSERT_EQ(Arm->read_protection(), Req_Accepted) << Round;
        ASSERT_TRUE(Eventually([&] { return Link.Worker_Held(); }));
        ASSERT_EQ(Arm->fReceiveAnswer.load(), 0) << Round;
        Link.Release();
        ASSERT_TRUE(Answered());
    }
}

TEST_F(Worker, ImageThatShrinksDuringTheWriteEndsTheTransferWithNothingMoreSent) {
    Connect();
    const auto Image = pattern(64 * 1024);
    Arm->filename = Write_File("image.sim", Image).string();
    Link.Hold(); // the first block is read and sent; the worker then waits for its acknowledgement
    std::int32_t Dim = 0;
    ASSERT_EQ(Arm->write_mem_prg(0, Dim), Req_Accepted);
    ASSERT_TRUE(Eventually([&] { return Link.Worker_Held(); }));
    fs::resize_file(Arm->filename, 10000);
    Link.Release();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Arm->TransferFailed(), 1);
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 1);
    EXPECT_EQ(Arm->LinkLost(), 0);
    // Whole blocks came from the file up to where it ends; no block of it went out filled up.
    const auto Frames = Requests_Of_Kind("02");
    ASSERT_FALSE(Frames.empty());
    EXPECT_LE(Frames.size(), 10000u / 128);
    for (std::size_t b = 0; b < Frames.size(); ++b)
        EXPECT_EQ(field(Frames[b], 2, 6), Addr_Prg_Start + b * 128);
    EXPECT_EQ(
        Conv.Bytes(Addr_Prg_Start, Frames.size() * 128),
        std::vector<std::uint8_t>(Image.begin(), Image.begin() + static_cast<long>(Frames.size() * 128)));
    EXPECT_LE(Arm->indice_memoria.load(), Arm->indice_memoria_end.load());

    // The next transfer starts afresh.
    Arm->filename = Write_File("small.sim", pattern(200)).string();
    ASSERT_EQ(Arm->write_mem_prg(0, Dim), Req_Accepted);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Arm->TransferFailed(), 0);
}

TEST_F(Worker, CreatedRunningItOpensThePortStoredAfterCreation) {
    Tarm_SER W(
        false, [this] { return Link.Make_Port(); }, Link);
    // The name comes only after the worker's start-up pause has passed.
    ASSERT_TRUE(Eventually([&] { return Link.Now() >= 200; }));
    W.Com_Port = "/dev/ttyTEST7";
    ASSERT_TRUE(Eventually([&] { return W.InitDone() == 1; }));
    EXPECT_EQ(W.res_connessione(), 1);
    EXPECT_EQ(Link.Settings().Device, "/dev/ttyTEST7");
}

TEST_F(Worker, BadChecksumLeavesTheBytesAsDecoded) {
    Link.Set_Responder([](const std::string&) {
        return std::vector<TChunk>{{25, hex({9, 0, 5, 0}) + std::string(248, 'F') + "77"}};
    });
    Connect();
    ASSERT_EQ(Arm->read_Data(), Req_Accepted);
    ASSERT_TRUE(Answered());
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 1);
    EXPECT_EQ(std::vector<std::uint8_t>(Arm->Read_Dati, Arm->Read_Dati + 5),
              (std::vector<std::uint8_t>{9, 0, 5, 0, 0xFF}));
    EXPECT_EQ(Arm->buf_count, 128);
}

TEST_F(Worker, AcknowledgementIsJudgedOnWhatArrivedBeforeTenQuietMilliseconds) {
    const struct {
        const char* Name;
        std::vector<TChunk> Chunks;
        bool Error;
        std::int64_t Elapsed_At_Least;
    } Cases[] = {
        {"three characters and O.K.", {{3, "ABCO.K."}}, false, 0},
        {"exactly O.K.", {{3, "O.K."}}, true, 0},
        {"two parts 4 ms apart", {{3, "ABC"}, {7, "O.K."}}, false, 0},
        {"two parts 15 ms apart: judged on the first", {{3, "ABC"}, {18, "O.K."}}, true, 0},
        {"late but within the time-out", {{10000, "ABCO.K."}}, false, 10000},
        {"no acknowledgement", {}, true, 1100 * 10},
    };
    Connect();
    Arm->Write_Data[0] = 0x42;
    for (const auto& C : Cases) {
        Link.Sleep_ms(1000); // let anything late from the previous case arrive, so the purge takes it
        Link.Set_Responder([&](const std::string&) { return C.Chunks; });
        Arm->fErrorLastCommand = 0;
        Arm->fReceiveAnswer = 0;
        const std::int64_t T0 = Link.Now();
        ASSERT_EQ(Arm->Write_Internal_Data(1, 0, 1), Req_Accepted) << C.Name;
        ASSERT_TRUE(Idle()) << C.Name;
        EXPECT_EQ(Arm->fReceiveAnswer.load(), 1) << C.Name;
        EXPECT_EQ(Arm->fErrorLastCommand.load(), C.Error ? 1 : 0) << C.Name;
        EXPECT_GE(Link.Now() - T0, C.Elapsed_At_Least) << C.Name;
        EXPECT_LE(Link.Now() - T0, 1100 * 10 + 50) << C.Name;
    }
}

TEST_F(Worker, SingleWriteFrames) {
    Connect();
    const std::uint8_t Params[] = {0x09, 0x00, 0x05, 0x00};
    std::copy(std::begin(Params), std::end(Params), Arm->Write_Data);
    ASSERT_EQ(Arm->Write_Internal_Data(4, 0, 1), Req_Accepted);
    ASSERT_TRUE(Idle());
    ASSERT_EQ(Arm->Write_Protection(0xA7), Req_Accepted);
    ASSERT_TRUE(Idle());
    ASSERT_EQ(Arm->Write_Internal_Data(2, 4, 0), Req_Accepted);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Link.Requests(),
              (std::vector<std::string>{"00024000020004090005000C\r", "0103F0000B0004000000A7A7\r",
                                        "0003F0040B0002090009\r"}));
    // A write frame goes out in one piece.
    EXPECT_EQ(Link.Write_Sizes(), (std::vector<std::size_t>{25, 25, 21}));
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 0);
    EXPECT_EQ(Conv.Bytes(0x24000, 4), (std::vector<std::uint8_t>{9, 0, 5, 0}));
}

TEST_F(Worker, SingleWritesStayInsideTheItemsArea) {
    Connect();
    // Address: where the frame goes, or 0 when the write is refused with nothing sent.
    const struct {
        std::int32_t NByte, offset, Type_data;
        std::uint32_t Address;
    } Cases[] = {
        {4, 0, 2, 0},           {4, 0, -1, 0},
        {0, 0, 1, 0},           {129, 0, 0, 0},
        {-5, 0, 0, 0},          {4, -0x20000, 1, 0}, // would land in the program region
        {1, -1, 0, 0},          {4, 0xFFD, 1, 0},    // its last byte would pass the parameter block's page
        {4, 0xFFC, 1, 0x24FFC}, {1, 0xFFF, 0, 0x3FFFF},
        {2, 0xFFF, 0, 0},       {4, 0x7FFFFFFF, 0, 0}, // no six-digit address
        {128, 0, 1, 0x24000},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(testing::Message() << C.NByte << "/" << C.offset << "/" << C.Type_data);
        const std::size_t Before = Link.Requests().size();
        const std::int32_t Result = Arm->Write_Internal_Data(C.NByte, C.offset, C.Type_data);
        if (C.Address == 0) {
            EXPECT_EQ(Result, Req_Refused);
            EXPECT_EQ(Arm->stato.load(), St_Idle);
            EXPECT_EQ(Link.Requests().size(), Before);
        } else {
            ASSERT_EQ(Result, Req_Accepted);
            ASSERT_TRUE(Idle());
            ASSERT_EQ(Link.Requests().size(), Before + 1);
            EXPECT_EQ(field(Link.Requests().back(), 2, 6), C.Address);
        }
    }
}

TEST_F(Worker, BusyWorkerRefusesEveryRequestAndChangesNothing) {
    Connect();
    const fs::path Image = Write_File("image.sim", pattern(300));
    const fs::path Readback = Dir / "readback.b79";
    Link.Hold();
    ASSERT_EQ(Arm->read_protection(), Req_Accepted);
    ASSERT_TRUE(Eventually([&] { return Link.Worker_Held(); }));

    const auto Start_Before = Arm->indice_memoria_start.load();
    const auto End_Before = Arm->indice_memoria_end.load();
    std::int32_t Dim = -7;
    Arm->filename = Image.string();
    EXPECT_EQ(Arm->read_protection(), Req_Busy);
    EXPECT_EQ(Arm->read_MACAddress(), Req_Busy);
    EXPECT_EQ(Arm->read_Data(), Req_Busy);
    EXPECT_EQ(Arm->Write_Internal_Data(4, 0, 1), Req_Busy);
    EXPECT_EQ(Arm->Write_Protection(1), Req_Busy);
    EXPECT_EQ(Arm->write_mem_prg(0, Dim), Req_Busy);
    Arm->filename = Readback.string();
    EXPECT_EQ(Arm->read_mem_prg(0, 0), Req_Busy);

    EXPECT_EQ(Dim, -7);
    EXPECT_FALSE(fs::exists(Readback));
    EXPECT_EQ(Arm->stato.load(), St_Read_Item);
    EXPECT_EQ(Arm->indice_memoria_start.load(), Start_Before);
    EXPECT_EQ(Arm->indice_memoria_end.load(), End_Before);
    EXPECT_EQ(Arm->fReceiveAnswer.load(), 0);

    Link.Release();
    ASSERT_TRUE(Answered());
    EXPECT_EQ(Link.Requests().size(), 1u);
}

TEST_F(Worker, WritesAnImageInBlocksFilledUpWithZeros) {
    const struct {
        std::size_t Size;
        std::size_t Blocks;
    } Cases[] = {{1000, 8}, {1024, 8}, {128 * 1024, 1024}};
    Connect();
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Size);
        const auto Image = pattern(C.Size);
        const std::size_t Before = Requests_Of_Kind("02").size();
        Arm->filename = Write_File("image.sim", Image).string();
        std::int32_t Dim = -1;
        ASSERT_EQ(Arm->write_mem_prg(0, Dim), Req_Accepted);
        EXPECT_EQ(Dim, static_cast<std::int32_t>(C.Size));
        EXPECT_EQ(Arm->indice_memoria_end.load(), Addr_Prg_Start + C.Size - 1);
        ASSERT_TRUE(Idle());
        EXPECT_EQ(Arm->fErrorLastCommand.load(), 0);
        EXPECT_EQ(Arm->indice_memoria.load(), Addr_Prg_Start + C.Blocks * 128);
        EXPECT_EQ(Arm->nciclo.load(), static_cast<std::int32_t>(C.Blocks));

        const auto Frames = Requests_Of_Kind("02");
        ASSERT_EQ(Frames.size() - Before, C.Blocks);
        for (std::size_t b = 0; b < C.Blocks; ++b) {
            const std::string& F = Frames[Before + b];
            ASSERT_EQ(F.size(), 273u);
            EXPECT_EQ(field(F, 2, 6), Addr_Prg_Start + b * 128);
            EXPECT_NE(F.substr(14, 256), std::string(256, '0')) << "block " << b << " is all zero";
        }
        auto Expected = Image;
        Expected.resize(C.Blocks * 128, 0);
        EXPECT_EQ(Conv.Bytes(Addr_Prg_Start, Expected.size()), Expected);
    }
}

TEST_F(Worker, ImageThatCannotBeWrittenIsRefusedBeforeAnything) {
    Connect();
    std::int32_t Dim = 0;
    Arm->filename = (Dir / "missing.sim").string();
    EXPECT_EQ(Arm->write_mem_prg(0, Dim), Req_File_Error);
    EXPECT_EQ(Arm->stato.load(), St_Idle);

    // One byte more than the program region would put a block onto the parameter block; an
    // empty image would write nothing and then pass any comparison.
    for (std::size_t Size : {std::size_t{128 * 1024 + 1}, std::size_t{0}}) {
        Arm->filename = Write_File("refused.sim", pattern(Size)).string();
        Dim = -7;
        EXPECT_EQ(Arm->write_mem_prg(0, Dim), Req_Refused) << Size;
        EXPECT_EQ(Dim, -7) << Size;
        EXPECT_EQ(Arm->stato.load(), St_Idle);
    }

    Arm->filename = (Dir / "no-such-dir" / "readback.b79").string();
    EXPECT_EQ(Arm->read_mem_prg(0, 0), Req_File_Error);
    EXPECT_EQ(Arm->stato.load(), St_Idle);
    EXPECT_TRUE(Link.Requests().empty());
}

TEST_F(Worker, ReadsBackTheProgramRegion) {
    const auto Firmware = pattern(128 * 1024);
    for (std::uint32_t i = 0; i < Firmware.size(); ++i)
        Conv.Mem[Addr_Prg_Start + i] = Firmware[i];
    Conv.Corrupt_Once = {Addr_Prg_Start + 128};
    const struct {
        std::int32_t Dim;
        std::size_t Blocks;
    } Cases[] = {{1000, 8}, {0, 1024}};
    Connect();
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Dim);
        const std::size_t Before = Requests_Of_Kind("03").size();
        const fs::path Out = Dir / "readback.b79";
        Arm->filename = Out.string();
        ASSERT_EQ(Arm->read_mem_prg(0, C.Dim), Req_Accepted);
        ASSERT_TRUE(Idle());
        const auto Got = file_bytes(Out);
        EXPECT_EQ(Got, std::vector<std::uint8_t>(Firmware.begin(), Firmware.begin() + C.Blocks * 128));
        EXPECT_EQ(Arm->nciclo.load(), static_cast<std::int32_t>(C.Blocks));
        const auto Reads = Requests_Of_Kind("03");
        // The first run repeats its second block once, after the corrupted answer.
        const bool Repeated = C.Dim == 1000;
        EXPECT_EQ(Reads.size() - Before, C.Blocks + (Repeated ? 1 : 0));
        EXPECT_EQ(Arm->fErrorLastCommand.load(), Repeated ? 1 : 0);
        EXPECT_EQ(field(Reads.back(), 2, 6), Addr_Prg_Start + (C.Blocks - 1) * 128);
    }
}

TEST_F(Worker, UnacknowledgedBlockIsSentAgainWithTheSameBytes) {
    const auto Image = pattern(3 * 128);
    Conv.Drop_Ack_Once = {Addr_Prg_Start + 128};
    Connect();
    Arm->filename = Write_File("image.sim", Image).string();
    std::int32_t Dim = 0;
    ASSERT_EQ(Arm->write_mem_prg(0, Dim), Req_Accepted);
    ASSERT_TRUE(Idle());

    const auto Frames = Requests_Of_Kind("02");
    ASSERT_EQ(Frames.size(), 4u);
    EXPECT_EQ(field(Frames[1], 2, 6), Addr_Prg_Start + 128);
    EXPECT_EQ(Frames[1], Frames[2]);
    // Had the file been read again for the repeat, the last block would carry other bytes.
    EXPECT_EQ(field(Frames[3], 2, 6), Addr_Prg_Start + 256);
    EXPECT_EQ(Conv.Bytes(Addr_Prg_Start, Image.size()), Image);
    EXPECT_EQ(Arm->fErrorLastCommand.load(), 1);
    EXPECT_EQ(Arm->nciclo.load(), 3);
}

TEST_F(Worker, VanishedDeviceEndsTheTransferAndMarksTheLinkLost) {
    const struct {
        const char* Name;
        bool Write;
    } Cases[] = {{"write", true}, {"read-back", false}};
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        TMiniConverter Local;
        TScriptedLink Gone_Link{std::ref(Local)};
        Gone_Link.Vanish_After(3);
        Tarm_SER W(
            true, [&] { return Gone_Link.Make_Port(); }, Gone_Link);
        W.Start();
        ASSERT_TRUE(Eventually([&] { return W.res_connessione() == 1; }));
        W.filename =
            C.Write ? Write_File("image.sim", pattern(1000)).string() : (Dir / "readback.b79").string();
        std::int32_t Dim = 0;
        ASSERT_EQ(C.Write ? W.write_mem_prg(0, Dim) : W.read_mem_prg(0, 0), Req_Accepted);
        ASSERT_TRUE(Eventually([&] { return W.stato.load() == St_Idle; }));
        EXPECT_EQ(W.fErrorLastCommand.load(), 1);
        EXPECT_EQ(W.LinkLost(), 1);
        EXPECT_EQ(Gone_Link.Requests().size(), 3u);

        // Later requests fail at once instead of waiting on a dead port.
        ASSERT_EQ(W.read_protection(), Req_Accepted);
        ASSERT_TRUE(Eventually([&] { return W.fReceiveAnswer.load() == 1; }));
        EXPECT_EQ(W.fErrorLastCommand.load(), 1);
        EXPECT_EQ(W.Protection.load(), 0);
        EXPECT_EQ(Gone_Link.Requests().size(), 3u);
    }
}

TEST_F(Worker, StoppingDuringATransferClosesItsFile) {
    Conv.Silent = true;
    Connect();
    const std::size_t Descriptors = open_descriptors();
    Arm->filename = (Dir / "readback.b79").string();
    ASSERT_EQ(Arm->read_mem_prg(0, 0), Req_Accepted);
    ASSERT_TRUE(Eventually([&] { return Link.Requests().size() >= 2; }));
    Arm.reset();
    EXPECT_EQ(open_descriptors(), Descriptors);
    EXPECT_TRUE(file_released(Dir / "readback.b79"));
}

} // namespace
