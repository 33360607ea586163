#pragma once
// The link worker: the one object that talks to the converter. It owns the serial port, runs
// one request at a time on its own thread and reports through its public fields and flags.
//
// Hand-over between the owner's thread and the worker: a request operation stores its
// parameters and then `stato` (release); the worker stores its results, then `stato` := 0 and,
// for a single item, `fReceiveAnswer` := 1 (release). Readers acquire those two first. The
// worker's two completion stores and a request operation's acceptance exclude each other, so an
// owner that places its next request as soon as `stato` reads 0 never has that request's cleared
// `fReceiveAnswer` raised again by the end of the previous one.

#include "link_clock.h"
#include "memory_map.h"
#include "serial_port.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Worker states.
inline constexpr std::int32_t St_Idle = 0;
inline constexpr std::int32_t St_Read_Mem = 5;
inline constexpr std::int32_t St_Write_Mem = 6;
inline constexpr std::int32_t St_Read_Item = 10;
inline constexpr std::int32_t St_Write_Item = 11;

// Results of the request operations.
inline constexpr std::int32_t Req_Accepted = 1;
inline constexpr std::int32_t Req_Busy = -1;
inline constexpr std::int32_t Req_File_Error = -2;
inline constexpr std::int32_t Req_Refused = -3; // arguments out of range, or an image too large

// A text that the creator may store while the worker thread reads it.
class TSharedText {
public:
    TSharedText& operator=(std::string Value) {
        {
            std::lock_guard<std::mutex> Lock(FMutex);
            FValue = std::move(Value);
            FStored = true;
        }
        FCond.notify_all();
        return *this;
    }
    std::string Get() const {
        std::lock_guard<std::mutex> Lock(FMutex);
        return FValue;
    }
    // Waits until a value has been stored or Stop holds; Stop's changes must be followed by Wake.
    template <class F> std::string Wait_Stored(F Stop) {
        std::unique_lock<std::mutex> Lock(FMutex);
        FCond.wait(Lock, [&] { return FStored || Stop(); });
        return FValue;
    }
    void Wake() {
        { std::lock_guard<std::mutex> Lock(FMutex); }
        FCond.notify_all();
    }

private:
    mutable std::mutex FMutex;
    std::condition_variable FCond;
    std::string FValue;
    bool FStored = false;
};

class Tarm_SER {
public:
    using TPortFactory = std::function<std::unique_ptr<TSerialPort>()>;

    // The worker on the serial port component. Created running, the worker waits after its
    // start-up pause until the creator has stored Com_Port, and opens that port.
    explicit Tarm_SER(bool CreateSuspended);
    // The worker on any port the factory makes, sleeping through Clock (which must outlive it).
    Tarm_SER(bool CreateSuspended, TPortFactory Factory, TLinkClock& Clock = System_Clock());
    // Asks the thread to end, waits for it, then closes and releases the port.
    ~Tarm_SER();
    Tarm_SER(const Tarm_SER&) = delete;
    Tarm_SER& operator=(const Tarm_SER&) = delete;

    // Starts a worker created suspended; does nothing once started.
    void Start();

    // Request operations: 1 accepted, -1 busy, -2 file error, -3 refused. Every accepted single
    // item, write or read, clears fErrorLastCommand and fReceiveAnswer, so its completion can be
    // awaited on fReceiveAnswer. write_mem_prg refuses an empty image and one whose blocks would
    // leave the program region; Write_Internal_Data refuses bytes that would leave the item's
    // area (the parameter block's page, or the internal data area).
    std::int32_t read_protection();
    std::int32_t read_MACAddress();
    std::int32_t read_Data();
    std::int32_t Write_Internal_Data(std::int32_t NByte, std::int32_t offset, std::int32_t Type_data);
    std::int32_t Write_Protection(std::uint32_t DW);
    std::int32_t write_mem_prg(std::uint8_t section, std::int32_t& Dim);
    std::int32_t read_mem_prg(std::uint8_t section, std::int32_t Dim);

    std::int32_t res_connessione() const { return res_connessione_.load(std::memory_order_acquire); }
    // 1 once the port has been opened or has failed to open; Open_Error then holds the port's
    // message and Open_Error_Code its error number (0 when it opened).
    std::uint8_t InitDone() const { return fInitDone.load(std::memory_order_acquire); }
    std::string Open_Error;
    std::int32_t Open_Error_Code = 0;
    std::uint8_t ErrorLastCommand() const { return fErrorLastCommand.load(std::memory_order_acquire); }
    // 1 once the port reported that the device itself has gone (unplugged adapter, closed
    // terminal): every request since then has failed at once.
    std::uint8_t LinkLost() const { return fLinkLost.load(std::memory_order_acquire); }
    // 1 when the last block transfer ended before its last block: the link was lost, the image
    // could not be read in full, or the read-back file could not be written. Nothing more was
    // sent after the failure.
    std::uint8_t TransferFailed() const { return fTransferFailed.load(std::memory_order_acquire); }

    std::atomic<std::int32_t> stato{St_Idle};
    std::atomic<std::int32_t> nciclo{0};
    std::atomic<std::int32_t> Protection{0};
    std::uint8_t MacAdd[6] = {};
    std::uint8_t Write_Data[4096] = {};
    std::uint8_t Read_Dati[4096] = {};
    std::uint8_t buf_rd[129] = {};
    std::uint8_t buf_count = 0;
    TSharedText Com_Port;
    std::int32_t Type_request = 0;
    std::atomic<std::uint32_t> indice_memoria{0};
    std::atomic<std::uint32_t> indice_memoria_start{0};
    std::atomic<std::uint32_t> indice_memoria_end{0};
    std::int32_t tipo_memoria = 0;
    std::string filename;
    std::atomic<std::uint8_t> fErrorLastCommand{0};
    std::atomic<std::uint8_t> fReceiveAnswer{0};
    std::atomic<std::uint8_t> fLinkLost{0};
    std::atomic<std::uint8_t> fTransferFailed{0};
    std::int32_t Prev_Write_Error = 0;

protected:
    void Execute();

private:
    void init_SER();
    void deinit_SER();
    bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
    void Post(std::unique_lock<std::mutex>& Lock, std::int32_t State);
    std::int32_t Accept_Item_Read(std::uint32_t Address);
    void Complete_Item();
    bool Block_End();
    void End_Transfer();
    void Fail_Transfer();
    void St_Read_Mem_Block();
    void St_Write_Mem_Block();
    void St_Read_Item_Serve();
    void St_Write_Item_Serve();

    // Frame routines; they return false as well when the link is lost or the worker is ending.
    void send_read_request(std::uint8_t Mem_Type, std::uint32_t Address, std::uint8_t Code,
                           std::uint32_t Count);
    void send_write_frame(std::uint8_t Mem_Type, std::uint32_t Address, std::uint8_t Code,
                          std::uint32_t Count);
    bool wait_write_ack();
    bool receive_read_answer();
    std::int32_t Waiting();
    void Lose_Link();
    bool Port_Usable();
    bool Exchange_Failed() const { return FLinkDown || Terminated(); }
    void Note_Failed_Exchange();
    void Let_Late_Answer_Pass();

    std::atomic<std::int32_t> res_connessione_{0};
    std::atomic<std::uint8_t> fInitDone{0};
    std::unique_ptr<TSerialPort> Comm1;
    char Buff_Ser[321] = {};
    std::uint8_t Protected_Param[4] = {};
    std::int32_t N_PP = 0;
    std::FILE* FileHandle = nullptr;

    TPortFactory FFactory;
    TLinkClock& FClock;
    bool FCreated_Running = false;
    bool FLinkDown = false;  // worker thread only; published through fLinkLost
    bool FGrace_Due = false; // worker thread only: the last exchange failed at FFailed_At
    std::int64_t FFailed_At = 0;
    std::int64_t FFile_Left = 0; // bytes of the image not yet read
    std::atomic<bool> FTerminated{false};
    // Guards the idle wait and the hand-over of completion and acceptance.
    std::mutex FWakeMutex;
    std::condition_variable FWake;
    std::thread FThread;
};
