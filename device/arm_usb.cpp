#include "arm_usb.h"

#include "comm_int.h"
#include "frames.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t Ack_Buffer = 259;
// Large enough for a whole driver receive queue, so an answer with separators between its
// digits is read in one piece.
constexpr std::size_t Answer_Buffer = 4096;

} // namespace

Tarm_SER::Tarm_SER(bool CreateSuspended)
    : Tarm_SER(CreateSuspended, [] { return std::make_unique<TComm>(); }) {}

Tarm_SER::Tarm_SER(bool CreateSuspended, TPortFactory Factory, TLinkClock& Clock)
    : FFactory(std::move(Factory)), FClock(Clock) {
    if (CreateSuspended) return;
    FCreated_Running = true;
    Start();
}

Tarm_SER::~Tarm_SER() {
    {
        std::lock_guard<std::mutex> Lock(FWakeMutex);
        FTerminated.store(true, std::memory_order_release);
    }
    FWake.notify_all();
    Com_Port.Wake();
    if (FThread.joinable()) FThread.join();
    // A transfer abandoned by the stop leaves its file open; it is ours to close.
    if (FileHandle) {
        std::fclose(FileHandle);
        FileHandle = nullptr;
    }
    try {
        if (Comm1) Comm1->Close();
    } catch (...) {
    }
    deinit_SER();
}

void Tarm_SER::Start() {
    if (FThread.joinable()) return;
    FThread = std::thread([this] { Execute(); });
}

void Tarm_SER::Execute() {
    init_SER();
    nciclo = 0;
    while (!Terminated()) {
        if (stato.load(std::memory_order_acquire) == St_Read_Mem) St_Read_Mem_Block();
        if (stato.load(std::memory_order_acquire) == St_Write_Mem) St_Write_Mem_Block();
        if (stato.load(std::memory_order_acquire) == St_Read_Item) St_Read_Item_Serve();
        if (stato.load(std::memory_order_acquire) == St_Write_Item) St_Write_Item_Serve();
        // Idle: sleep until a request or the end request arrives, instead of spinning.
        std::unique_lock<std::mutex> Lock(FWakeMutex);
        FWake.wait(Lock, [this] { return Terminated() || stato.load(std::memory_order_acquire) != St_Idle; });
    }
}

void Tarm_SER::init_SER() {
    FClock.Sleep_ms(200);
    // A worker started by Start() finds the name stored before it; one created running has to
    // wait for the creator, who can only store the name once the constructor has returned.
    const std::string Port_Name =
        FCreated_Running ? Com_Port.Wait_Stored([this] { return Terminated(); }) : Com_Port.Get();
    if (Terminated()) {
        fInitDone.store(1, std::memory_order_release);
        return;
    }
    try {
        Comm1 = FFactory();
        if (Comm1) {
            Comm1->SetBaudRate(br115200);
            Comm1->SetDatabits(da8);
            Comm1->SetDeviceName(Port_Name);
            Comm1->SetFlowControl(fcNone);
            Comm1->SetParity(paNone);
            Comm1->SetStopbits(sb10);
            Comm1->Open();
            Comm1->SetDTRState(true);
            res_connessione_.store(1, std::memory_order_release);
        }
    } catch (const ECommError& E) {
        Open_Error = E.what();
        Open_Error_Code = E.ErrorCode;
    } catch (const std::exception& E) {
        Open_Error = E.what();
        Open_Error_Code = -1;
    }
    fInitDone.store(1, std::memory_order_release);
}

void Tarm_SER::deinit_SER() {
    try {
        Comm1.reset();
    } catch (...) {
    }
}

void Tarm_SER::Post(std::unique_lock<std::mutex>& Lock, std::int32_t State) {
    stato.store(State, std::memory_order_release);
    Lock.unlock();
    FWake.notify_one();
}

// ---- request operations (owner's thread) ----

std::int32_t Tarm_SER::Accept_Item_Read(std::uint32_t Address) {
    if (stato.load(std::memory_order_acquire) != St_Idle) return Req_Busy;
    std::unique_lock<std::mutex> Lock(FWakeMutex);
    fErrorLastCommand.store(0, std::memory_order_relaxed);
    fReceiveAnswer.store(0, std::memory_order_relaxed);
    tipo_memoria = 0;
    indice_memoria_start = Address;
    indice_memoria = Address;
    nciclo = 0;
    Post(Lock, St_Read_Item);
    return Req_Accepted;
}

std::int32_t Tarm_SER::read_protection() {
    return Accept_Item_Read(Addr_Protection);
}
std::int32_t Tarm_SER::read_MACAddress() {
    return Accept_Item_Read(Addr_MacAdd);
}
std::int32_t Tarm_SER::read_Data() {
    return Accept_Item_Read(Addr_Data);
}

std::int32_t Tarm_SER::Write_Internal_Data(std::int32_t NByte, std::int32_t offset, std::int32_t Type_data) {
    if (stato.load(std::memory_order_acquire) != St_Idle) return Req_Busy;
    if ((Type_data != 0 && Type_data != 1) || NByte < 1 || NByte > static_cast<std::int32_t>(Block_Size))
        return Req_Refused;
    // The bytes must stay inside the item's area; a negative offset would reach the program
    // region, and an address past 24 bits would be cut short by the frame.
    const std::uint32_t Base = Type_data == 0 ? Addr_Internal_Data : Addr_Data;
    const std::uint32_t Last = Type_data == 0 ? Addr_Internal_End : Addr_Data_End;
    const long long First_Byte = static_cast<long long>(Base) + offset;
    const long long Last_Byte = First_Byte + NByte - 1;
    if (offset < 0 || Last_Byte > static_cast<long long>(Last) || Last_Byte > Max_Frame_Address)
        return Req_Refused;
    std::unique_lock<std::mutex> Lock(FWakeMutex);
    fErrorLastCommand.store(0, std::memory_order_relaxed);
    fReceiveAnswer.store(0, std::memory_order_relaxed);
    tipo_memoria = 0;
    indice_memoria_start = static_cast<std::uint32_t>(First_Byte);
    Type_request = Type_data;
    indice_memoria = indice_memoria_start.load();
    N_PP = NByte;
    nciclo = 0;
    Post(Lock, St_Write_Item);
    return Req_Accepted;
}

std::int32_t Tarm_SER::Write_Protection(std::uint32_t DW) {
    if (stato.load(std::memory_order_acquire) != St_Idle) return Req_Busy;
    std::unique_lock<std::mutex> Lock(FWakeMutex);
    fErrorLastCommand.store(0, std::memory_order_relaxed);
    fReceiveAnswer.store(0, std::memory_order_relaxed);
    tipo_memoria = 1;
    indice_memoria_start = Addr_Internal_Data;
    indice_memoria = Addr_Internal_Data;
    for (int i = 0; i < 4; ++i)
        Protected_Param[i] = static_cast<std::uint8_t>(DW >> (24 - 8 * i));
    N_PP = 4;
    Type_request = 0;
    nciclo = 0;
    Post(Lock, St_Write_Item);
    return Req_Accepted;
}

std::int32_t Tarm_SER::write_mem_prg(std::uint8_t section, std::int32_t& Dim) {
    if (stato.load(std::memory_order_acquire) != St_Idle) return Req_Busy;
    std::FILE* F = std::fopen(filename.c_str(), "rb");
    if (!F) return Req_File_Error;
    long Size = -1;
    if (std::fseek(F, 0, SEEK_END) == 0) Size = std::ftell(F);
    if (Size < 0 || std::fseek(F, 0, SEEK_SET) != 0) {
        std::fclose(F);
        return Req_File_Error;
    }
    const std::uint32_t Start = section == 0 ? Addr_Prg_Start : indice_memoria_start.load();
    // Every block must land inside the program region; the next block up is the parameter block.
    // An empty image would write nothing and then pass any comparison: it is no firmware.
    const unsigned long long Blocks_End =
        Start + (static_cast<unsigned long long>(Size) + Block_Size - 1) / Block_Size * Block_Size;
    if (Size == 0 || Start < Addr_Prg_Start || Blocks_End > Addr_Prg_End + 1ULL) {
        std::fclose(F);
        return Req_Refused;
    }
    std::unique_lock<std::mutex> Lock(FWakeMutex);
    fErrorLastCommand.store(0, std::memory_order_relaxed);
    fTransferFailed.store(0, std::memory_order_relaxed);
    tipo_memoria = 0;
    indice_memoria_start = Start;
    indice_memoria = Start;
    Dim = static_cast<std::int32_t>(Size);
    indice_memoria_end = Start + static_cast<std::uint32_t>(Size) - 1;
    FileHandle = F;
    FFile_Left = Size;
    Prev_Write_Error = 0;
    nciclo = 0;
    Post(Lock, St_Write_Mem);
    return Req_Accepted;
}

std::int32_t Tarm_SER::read_mem_prg(std::uint8_t section, std::int32_t Dim) {
    if (stato.load(std::memory_order_acquire) != St_Idle) return Req_Busy;
    std::FILE* F = std::fopen(filename.c_str(), "wb");
    if (!F) return Req_File_Error;
    std::unique_lock<std::mutex> Lock(FWakeMutex);
    fErrorLastCommand.store(0, std::memory_order_relaxed);
    fTransferFailed.store(0, std::memory_order_relaxed);
    tipo_memoria = 0;
    if (section == 0) {
        indice_memoria_start = Addr_Prg_Start;
        indice_memoria_end = Dim == 0 ? Addr_Prg_End : Addr_Prg_Start + static_cast<std::uint32_t>(Dim) - 1;
    }
    indice_memoria = indice_memoria_start.load();
    FileHandle = F;
    nciclo = 0;
    Post(Lock, St_Read_Mem);
    return Req_Accepted;
}

// ---- state handlers (worker thread) ----

bool Tarm_SER::Block_End() {
    if (indice_memoria.load() <= indice_memoria_end.load()) return false;
    End_Transfer();
    return true;
}

void Tarm_SER::End_Transfer() {
    if (FileHandle) {
        // A read-back whose last bytes cannot reach the disk is not complete.
        if (std::fclose(FileHandle) != 0) {
            fErrorLastCommand.store(1, std::memory_order_relaxed);
            fTransferFailed.store(1, std::memory_order_relaxed);
        }
        FileHandle = nullptr;
    }
    stato.store(St_Idle, std::memory_order_release);
}

void Tarm_SER::Fail_Transfer() {
    fErrorLastCommand.store(1, std::memory_order_relaxed);
    fTransferFailed.store(1, std::memory_order_relaxed);
    End_Transfer();
}

void Tarm_SER::Complete_Item() {
    std::lock_guard<std::mutex> Lock(FWakeMutex);
    stato.store(St_Idle, std::memory_order_release);
    fReceiveAnswer.store(1, std::memory_order_release);
}

void Tarm_SER::St_Read_Mem_Block() {
    if (Block_End()) return;
    send_read_request(static_cast<std::uint8_t>(tipo_memoria), indice_memoria, Req_Read, Block_Size);
    const bool Good = receive_read_answer();
    if (Terminated()) return; // abandoned where it stands
    if (FLinkDown) {
        Fail_Transfer();
        return;
    }
    if (!Good) {
        fErrorLastCommand.store(1, std::memory_order_relaxed);
        FClock.Sleep_ms(Poll_ms);
        return;
    }
    if (std::fwrite(buf_rd, 1, buf_count, FileHandle) != buf_count) {
        Fail_Transfer();
        return;
    }
    ++nciclo;
    indice_memoria += Block_Size;
    Block_End();
}

void Tarm_SER::St_Write_Mem_Block() {
    if (Block_End()) return;
    if (Prev_Write_Error != 1) {
        // A short last block goes out filled up with zero bytes; a short read anywhere else is a
        // file that changed or failed under us, and nothing of it may go out as firmware.
        std::memset(buf_rd, 0, Block_Size);
        const auto Expected = static_cast<std::size_t>(std::min<std::int64_t>(FFile_Left, Block_Size));
        if (std::fread(buf_rd, 1, Expected, FileHandle) != Expected || std::ferror(FileHandle)) {
            Fail_Transfer();
            return;
        }
        FFile_Left -= static_cast<std::int64_t>(Expected);
    }
    Prev_Write_Error = 0;
    send_write_frame(static_cast<std::uint8_t>(tipo_memoria), indice_memoria, Req_Write, Block_Size);
    const bool Acked = wait_write_ack();
    if (Terminated()) return;
    if (FLinkDown) {
        Fail_Transfer();
        return;
    }
    if (Acked) {
        ++nciclo;
        indice_memoria += Block_Size;
    } else {
        // The next pass sends the same bytes again without reading the file.
        fErrorLastCommand.store(1, std::memory_order_relaxed);
        Prev_Write_Error = 1;
    }
    Block_End();
}

void Tarm_SER::St_Read_Item_Serve() {
    const std::uint32_t Address = indice_memoria;
    send_read_request(static_cast<std::uint8_t>(tipo_memoria), Address, Req_Read, Block_Size);
    if (!receive_read_answer()) fErrorLastCommand.store(1, std::memory_order_relaxed);
    // The item is copied also after a failure: a time-out leaves zeros, a bad checksum the bytes
    // as decoded.
    if (Address == Addr_Protection)
        Protection = static_cast<std::int32_t>(static_cast<std::uint32_t>(buf_rd[0]) << 24 |
                                               static_cast<std::uint32_t>(buf_rd[1]) << 16 |
                                               static_cast<std::uint32_t>(buf_rd[2]) << 8 | buf_rd[3]);
    else if (Address == Addr_MacAdd)
        std::memcpy(MacAdd, buf_rd, sizeof MacAdd);
    else if (Address == Addr_Data)
        std::memcpy(Read_Dati, buf_rd, 5);
    Complete_Item();
}

void Tarm_SER::St_Write_Item_Serve() {
    if (tipo_memoria == 1)
        std::memcpy(buf_rd, Protected_Param, sizeof Protected_Param);
    else
        std::memcpy(buf_rd, Write_Data, static_cast<std::size_t>(N_PP));
    send_write_frame(static_cast<std::uint8_t>(tipo_memoria), indice_memoria,
                     Type_request == 1 ? Req_Write : Req_Write_Internal, static_cast<std::uint32_t>(N_PP));
    // A single write is never repeated.
    if (!wait_write_ack()) fErrorLastCommand.store(1, std::memory_order_relaxed);
    Complete_Item();
}

// ---- frame routines (worker thread) ----

bool Tarm_SER::Port_Usable() {
    if (FLinkDown || !Comm1) Lose_Link();
    return !FLinkDown;
}

void Tarm_SER::Lose_Link() {
    FLinkDown = true;
    fLinkLost.store(1, std::memory_order_release);
}

std::int32_t Tarm_SER::Waiting() {
    std::int32_t N = -1;
    try {
        if (Comm1) N = Comm1->InQueCount();
    } catch (const ECommError&) {
        N = -1;
    }
    // Negative: the port is closed or the device has gone; waiting longer cannot help.
    if (N < 0) Lose_Link();
    return N;
}

void Tarm_SER::send_read_request(std::uint8_t Mem_Type, std::uint32_t Address, std::uint8_t Code,
                                 std::uint32_t Count) {
    if (!Port_Usable()) return;
    char Request[Read_Request_Len];
    const std::size_t N = Build_Read_Request(Request, Mem_Type, Address, Code, Count);
    Let_Late_Answer_Pass();
    try {
        Comm1->PurgeOut();
        Comm1->PurgeIn();
        for (std::size_t i = 0; i < N; ++i)
            Comm1->Write(&Request[i], 1);
    } catch (const ECommError&) {
        Lose_Link();
    }
}

void Tarm_SER::send_write_frame(std::uint8_t Mem_Type, std::uint32_t Address, std::uint8_t Code,
                                std::uint32_t Count) {
    if (!Port_Usable()) return;
    const std::size_t N = Build_Write_Frame(Buff_Ser, Mem_Type, Address, Code, buf_rd, Count);
    Let_Late_Answer_Pass();
    try {
        Comm1->PurgeOut();
        Comm1->PurgeIn();
        Comm1->Write(Buff_Ser, static_cast<std::int32_t>(N));
    } catch (const ECommError&) {
        Lose_Link();
    }
}

void Tarm_SER::Note_Failed_Exchange() {
    if (FLinkDown) return;
    FGrace_Due = true;
    FFailed_At = FClock.Now_ms();
}

// A slow converter stays silent until its late answer comes, so waiting for quiet would not
// catch it: the grace runs from the failure, and the purge that follows takes what came in it.
void Tarm_SER::Let_Late_Answer_Pass() {
    if (!FGrace_Due) return;
    FGrace_Due = false;
    for (;;) {
        const std::int64_t Left = FFailed_At + Late_Answer_Grace_ms - FClock.Now_ms();
        if (Left <= 0 || Exchange_Failed()) return;
        FClock.Sleep_ms(static_cast<std::int32_t>(std::min<std::int64_t>(Left, Poll_ms)));
    }
}

bool Tarm_SER::wait_write_ack() {
    std::int32_t Silent = 0;
    std::int32_t Last = 0;
    bool Result = false;
    while (!Exchange_Failed()) {
        const std::int32_t N = Waiting();
        if (N < 0) break;
        if (N == 0) {
            ++Silent;
            // Wakes as soon as the first character arrives instead of at the end of the step.
            try {
                Comm1->WaitForInput(Poll_ms);
            } catch (const ECommError&) {
                Lose_Link();
                break;
            }
        } else if (N != Last) {
            Last = N;
            FClock.Sleep_ms(Poll_ms);
        } else {
            // Nothing new for a whole step: the acknowledgement is complete. Later characters
            // stay queued and go with the next request's purge.
            char Ack[Ack_Buffer];
            std::int32_t Got = -1;
            try {
                Got = Comm1->Read(Ack, std::min<std::int32_t>(N, Ack_Buffer));
            } catch (const ECommError&) {
                Lose_Link();
            }
            Result = Got > 0 && Is_Write_Ack(Ack, static_cast<std::size_t>(Got));
            break;
        }
        if (Silent >= Ack_Silent_Polls) break;
    }
    if (!Result) Note_Failed_Exchange();
    return Result;
}

bool Tarm_SER::receive_read_answer() {
    std::memset(buf_rd, 0, Block_Size);
    buf_count = 0;
    bool Result = false;
    // What has arrived is taken out as it comes, so the wait below wakes on the next character
    // and the answer is judged the moment its 258th character is there.
    char Answer[Answer_Buffer];
    std::size_t Have = 0;
    const std::int64_t Deadline = FClock.Now_ms() + Read_Answer_Timeout_ms;
    while (!Exchange_Failed()) {
        const std::int32_t N = Waiting();
        if (N < 0) break;
        if (N > 0) {
            std::int32_t Got = -1;
            try {
                Got = Comm1->Read(Answer + Have,
                                  std::min<std::int32_t>(N, static_cast<std::int32_t>(Answer_Buffer - Have)));
            } catch (const ECommError&) {
                Lose_Link();
                break;
            }
            if (Got > 0) Have += static_cast<std::size_t>(Got);
            if (Have >= Read_Answer_Len) {
                Result = Decode_Read_Answer(Answer, Have, buf_rd, buf_count);
                break;
            }
        }
        const std::int64_t Left = Deadline - FClock.Now_ms();
        if (Left <= 0) break;
        try {
            Comm1->WaitForInput(static_cast<std::int32_t>(std::min<std::int64_t>(Left, Poll_ms)));
        } catch (const ECommError&) {
            Lose_Link();
            break;
        }
    }
    // Whatever else came is not part of this answer.
    const std::int32_t Rest = FLinkDown ? 0 : Waiting();
    if (Rest > 0) {
        char Discard[Answer_Buffer];
        try {
            Comm1->Read(Discard, std::min<std::int32_t>(Rest, Answer_Buffer));
        } catch (const ECommError&) {
            Lose_Link();
        }
    }
    if (!Result) Note_Failed_Exchange();
    return Result;
}
