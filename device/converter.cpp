#include "converter.h"

#include "frames.h"

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

template <std::size_t N>
std::string_view text_of(const std::array<std::string_view, N>& Table, std::uint8_t Code) {
    return Code < N ? Table[Code] : Code_Error_Text;
}

constexpr int Answer_Wait_Polls = 200;
// A write is acknowledged within the acknowledgement time-out; a late answer's grace may come first.
constexpr int Write_Wait_Polls = Ack_Silent_Polls + (Late_Answer_Grace_ms + 1000) / 10;

bool wait_for_answer(Tarm_SER& Arm, int Polls, const TProcessEvents& Events, TLinkClock& Clock) {
    for (int Pauses = 0;; ++Pauses) {
        if (Arm.fReceiveAnswer.load(std::memory_order_acquire) == 1) return true;
        if (Pauses == Polls) return false;
        Clock.Sleep_ms(10);
        if (Events) Events();
    }
}

TCmdResult item_result(std::int32_t Request, bool Answered, const Tarm_SER& Arm) {
    if (Request == Req_Busy) return TCmdResult::Busy;
    if (Request != Req_Accepted) return TCmdResult::Refused;
    if (!Answered) return TCmdResult::Timed_Out;
    return Arm.fErrorLastCommand.load(std::memory_order_acquire) != 0 ? TCmdResult::Failed : TCmdResult::Done;
}

} // namespace

std::string_view Serial_Baud_Text(std::uint8_t Code) {
    return text_of(Serial_Baud_Texts, Code);
}
std::string_view MBus_Baud_Text(std::uint8_t Code) {
    return text_of(MBus_Baud_Texts, Code);
}
std::string_view Parity_Text(std::uint8_t Code) {
    return text_of(Parity_Texts, Code);
}

bool Answer_Wait(Tarm_SER& Arm, const TProcessEvents& Events, TLinkClock& Clock) {
    return wait_for_answer(Arm, Answer_Wait_Polls, Events, Clock);
}

TGate Protection_Gate(Tarm_SER& Arm, const TProcessEvents& Events, TLinkClock& Clock) {
    // A busy worker would leave the word of an earlier read to be judged.
    if (Arm.read_protection() != Req_Accepted) return TGate::Busy;
    if (!Answer_Wait(Arm, Events, Clock) || Arm.fErrorLastCommand.load(std::memory_order_acquire) != 0)
        return TGate::No_Answer;
    const auto Word = static_cast<std::uint32_t>(Arm.Protection.load());
    return Word == 0 || Word == Protection_Code ? TGate::Passed : TGate::Refused;
}

TCmdResult Read_Params(Tarm_SER& Arm, TLineParams& Params, const TProcessEvents& Events, TLinkClock& Clock) {
    const std::int32_t Request = Arm.read_Data();
    const bool Answered = Request == Req_Accepted && Answer_Wait(Arm, Events, Clock);
    const TCmdResult Result = item_result(Request, Answered, Arm);
    if (Result == TCmdResult::Done)
        Params = {Arm.Read_Dati[0], Arm.Read_Dati[1], Arm.Read_Dati[2], Arm.Read_Dati[3]};
    return Result;
}

TCmdResult Write_Params(Tarm_SER& Arm, std::uint8_t MBus_Baud, std::uint8_t MBus_Par,
                        const TProcessEvents& Events, TLinkClock& Clock) {
    // The worker reads Write_Data while it serves a request: leave it alone while busy.
    if (Arm.stato.load(std::memory_order_acquire) != St_Idle) return TCmdResult::Busy;
    std::memset(Arm.Write_Data, 255, sizeof Arm.Write_Data);
    Arm.Write_Data[0] = Serial_Baud_Fixed;
    Arm.Write_Data[1] = Serial_Parity_Fixed;
    Arm.Write_Data[2] = MBus_Baud;
    Arm.Write_Data[3] = MBus_Par;
    const std::int32_t Request = Arm.Write_Internal_Data(4, 0, 1);
    const bool Answered = Request == Req_Accepted && wait_for_answer(Arm, Write_Wait_Polls, Events, Clock);
    return item_result(Request, Answered, Arm);
}

std::string Firmware_Image_Path(const std::string& Path_Master) {
    return (fs::path(Path_Master) / Firmware_Image_Name).string();
}

std::string Readback_File_Name(const std::string& Image_Path, std::chrono::system_clock::time_point When) {
    const std::time_t Seconds = std::chrono::system_clock::to_time_t(When);
    const auto Millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(When.time_since_epoch()).count() % 1000;
    std::tm T{};
    localtime_r(&Seconds, &T);
    return Readback_File_Name(Image_Path, T, static_cast<int>(Millis));
}

std::string Readback_File_Name(const std::string& Image_Path, const std::tm& Local, int Millis) {
    const fs::path Image(Image_Path);
    std::string Name = Image.stem().string();
    for (int V : {Local.tm_year + 1900, Local.tm_mon + 1, Local.tm_mday, Local.tm_hour, Local.tm_min,
                  Local.tm_sec, Millis})
        Name += std::to_string(V);
    Name += Readback_Extension;
    return (Image.parent_path() / Name).string();
}

int Transfer_Position(const Tarm_SER& Arm) {
    const std::uint32_t Start = Arm.indice_memoria_start.load();
    const std::uint32_t Done = Arm.indice_memoria.load() - Start;
    const std::uint32_t Total = Arm.indice_memoria_end.load() - Start;
    if (Done == 0 || Total == 0) return 0;
    // The last block takes the address past the end, so the quotient passes 100 there.
    const auto Position = static_cast<long long>(static_cast<double>(Done) / Total * 100.0);
    return Position > 100 ? 100 : static_cast<int>(Position);
}

std::int32_t Start_Firmware_Write(Tarm_SER& Arm, const std::string& Image_Path, std::int32_t& Dim) {
    Arm.filename = Image_Path;
    return Arm.write_mem_prg(0, Dim);
}

std::int32_t Start_Firmware_Readback(Tarm_SER& Arm, const std::string& Readback_Path, std::int32_t Dim) {
    Arm.filename = Readback_Path;
    return Arm.read_mem_prg(0, Dim);
}

bool Confronta_File(const std::string& Firm_File, const std::string& FWrite) {
    bool Same = false;
    {
        std::ifstream Image(Firm_File, std::ios::binary);
        std::ifstream Back(FWrite, std::ios::binary);
        if (Image && Back) {
            Same = true;
            char A[200];
            char B[200];
            while (Same) {
                Image.read(A, sizeof A);
                const std::streamsize N = Image.gcount();
                if (N == 0) break;
                Back.read(B, N);
                Same = Back.gcount() == N && std::memcmp(A, B, static_cast<std::size_t>(N)) == 0;
            }
            if (Image.bad()) Same = false;
        }
    }
    std::error_code Ignored;
    fs::remove(FWrite, Ignored);
    return Same;
}
