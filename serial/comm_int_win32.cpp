// The serial port component on the Windows serial interface: an overlapped device handle, the
// device control block, and transfers that wait on the component's completion event.

// Before <windows.h>, whose macros carry the names of the escape codes.
#include "comm_int.h"

#include "comm_dcb_win32.h"
#include "comm_event_wait.h"
#include "wide_text_win32.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include <pthread.h>
#include <windows.h>

struct TCustomComm::TDCB {
    DCB Dcb{}; // last read from and written to the driver
};

namespace {

HANDLE handle_of(THandle Handle) {
    return reinterpret_cast<HANDLE>(Handle);
}

// The one place where a Windows error becomes an ECommError.
[[noreturn]] void raise_os_error(const char* Message, DWORD Err) {
    RaiseCommError(Message, static_cast<std::int32_t>(Err));
}

// The COMSTAT hold flags as one word, bit 0 fCtsHold to bit 4 fXoffSent.
DWORD hold_flags_of(const COMSTAT& Stat) {
    DWORD Flags;
    std::memcpy(&Flags, &Stat, sizeof Flags);
    return Flags;
}

// Error flags that a polling monitor took from the driver and keeps for the component's next clear.
void keep_taken_errors(HANDLE Device, DWORD Errors);
DWORD take_kept_errors(HANDLE Device);

} // namespace

// On Windows ERROR_ACCESS_DENIED from a COM port means that another program holds it, which no
// permission can change.
bool Is_Permission_Error(const ECommError&) {
    return false;
}

TCustomComm::TCustomComm()
    : FDCB(std::make_unique<TDCB>()), FEventChars(std::make_unique<TCommEventChars>(this)) {}

TCustomComm::~TCustomComm() {
    Close();
}

void TCustomComm::CreateHandle() {
    const std::wstring Path = Wide_Text(FDeviceName);
    HANDLE Device = ::CreateFileW(Path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
    if (Device == INVALID_HANDLE_VALUE) raise_os_error("Error accessing specified device", ::GetLastError());
    FHandle = reinterpret_cast<THandle>(Device);
    if (::GetFileType(Device) != FILE_TYPE_CHAR) {
        DestroyHandle();
        RaiseCommError("Invalid device handle, access denied", -1);
    }
}

void TCustomComm::DestroyHandle() {
    if (FHandle == Invalid_Handle) return;
    ::CloseHandle(handle_of(FHandle));
    FHandle = Invalid_Handle;
}

void TCustomComm::UpdateCommTimeouts() {
    // A read completes at once with what has arrived, even nothing; writes are not timed by the
    // driver but by the wait in Write.
    COMMTIMEOUTS Timeouts{};
    Timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!::SetCommTimeouts(handle_of(FHandle), &Timeouts))
        raise_os_error("Error updating CommTimeouts", ::GetLastError());
}

void TCustomComm::UpdateDataControlBlock() {
    if (!Enabled()) return;
    DCB& Dcb = FDCB->Dcb;
    Dcb.DCBlength = sizeof(DCB);
    ::GetCommState(handle_of(FHandle), &Dcb); // fields not set below keep the driver's values
    Apply_Line_Settings(Dcb, {FBaudRate, FParity, FStopbits, FDatabits, FFlowControl, FOptions,
                              FEventChars->XonChar(), FEventChars->XoffChar(), FEventChars->ErrorChar(),
                              FEventChars->EofChar(), FEventChars->EvtChar(), FReadBufSize});
    if (!::SetCommState(handle_of(FHandle), &Dcb))
        raise_os_error("Error updating DataControlBlock", ::GetLastError());
}

void TCustomComm::Setup_Buffers() {
    if (!::SetupComm(handle_of(FHandle), static_cast<DWORD>(FReadBufSize), static_cast<DWORD>(FWriteBufSize)))
        raise_os_error("Error initializing Read/Write Buffers", ::GetLastError());
}

namespace {

// Starts one overlapped transfer and waits for it at most Timeout ms. A transfer that has not
// finished by then is cancelled, and its cancellation waited for, before -1 is returned: the
// record and the count live on this call's stack.
template <class TStart>
std::int32_t overlapped_transfer(HANDLE Device, TSimpleEvent& Done, std::int32_t Timeout, const char* Message,
                                 TStart Start) {
    OVERLAPPED Record{};
    Record.hEvent = handle_of(Done.Handle());
    DWORD Count = 0;
    if (!Start(&Count, &Record)) {
        const DWORD Err = ::GetLastError();
        if (Err != ERROR_IO_PENDING) raise_os_error(Message, Err);
    }
    if (Done.WaitFor(static_cast<std::uint32_t>(Timeout)) != wrSignaled) {
        ::CancelIoEx(Device, &Record); // fails when the transfer has finished meanwhile
        ::GetOverlappedResult(Device, &Record, &Count, TRUE);
        Done.ResetEvent();
        return -1;
    }
    ::GetOverlappedResult(Device, &Record, &Count, FALSE);
    Done.ResetEvent();
    return static_cast<std::int32_t>(Count);
}

} // namespace

std::int32_t TCustomComm::Write(const void* Buf, std::int32_t Count) {
    TLock Lock(FCriticalSection);
    HANDLE Device = handle_of(FHandle);
    const std::int32_t Written = overlapped_transfer(
        Device, FEvent, FWriteTimeout, "Write error", [&](DWORD* Done, OVERLAPPED* Record) {
            return ::WriteFile(Device, Buf, static_cast<DWORD>(Count), Done, Record);
        });
    // A monitor that polls the driver watches the queue run empty; a timed-out write may have
    // queued part of its bytes.
    if (Written != 0 && FEventThread) FEventThread->Output_Queued();
    return Written;
}

std::int32_t TCustomComm::Read(void* Buf, std::int32_t Count) {
    TLock Lock(FCriticalSection);
    HANDLE Device = handle_of(FHandle);
    const std::int32_t Got =
        overlapped_transfer(Device, FEvent, FReadTimeout, "Read error", [&](DWORD* Done, OVERLAPPED* Record) {
            return ::ReadFile(Device, Buf, static_cast<DWORD>(Count), Done, Record);
        });
    // A monitor that polls the driver tells arrivals from the queue's length, which a read shortens.
    if (Got > 0 && FEventThread) FEventThread->Input_Taken(static_cast<std::uint64_t>(Got));
    return Got;
}

bool TCustomComm::Driver_Line_Counters(TLine_Counters&) {
    return false; // the Windows driver reports errors and breaks as flags, not counts
}

bool TCustomComm::ClearCommError(std::uint32_t& Errors, TComStat& Stat) {
    Errors = 0;
    Stat = TComStat{};
    DWORD Flags = 0;
    COMSTAT Driver{};
    if (!Enabled() || !::ClearCommError(handle_of(FHandle), &Flags, &Driver)) return false;
    Errors = static_cast<std::uint32_t>(Flags | take_kept_errors(handle_of(FHandle)));
    // Counters set in place of the driver's (a test's) add what moved since the last clear.
    TLine_Counters Now;
    if (FLineCounterReader && FLineCounterReader(Now)) {
        std::lock_guard<std::mutex> Lock(FClearLock);
        if (FHave_Cleared) Errors |= Line_Error_Flags(FCleared, Now);
        FCleared = Now;
        FHave_Cleared = true;
    }
    Stat.Flags = static_cast<std::uint32_t>(hold_flags_of(Driver) & 0x1F);
    Stat.cbInQue = static_cast<std::uint32_t>(Driver.cbInQue);
    Stat.cbOutQue = static_cast<std::uint32_t>(Driver.cbOutQue);
    return true;
}

bool TCustomComm::WaitForInput(std::int32_t Milliseconds) {
    // The receive queue is polled: a read on an empty queue must not be left pending, and the
    // line-event wait belongs to the event monitor.
    const ULONGLONG End = ::GetTickCount64() + static_cast<ULONGLONG>(Milliseconds < 0 ? 0 : Milliseconds);
    for (;;) {
        const std::int32_t Waiting = InQueCount();
        if (Waiting != 0) return Waiting > 0;
        if (::GetTickCount64() >= End) return false;
        ::Sleep(1);
    }
}

void TCustomComm::PurgeIn() {
    if (!Enabled()) return;
    ::PurgeComm(handle_of(FHandle), PURGE_RXABORT | PURGE_RXCLEAR);
    if (FEventThread) FEventThread->Input_Taken(TComm_Event_Wait::All_Input);
}

void TCustomComm::PurgeOut() {
    if (Enabled()) ::PurgeComm(handle_of(FHandle), PURGE_TXABORT | PURGE_TXCLEAR);
}

void TCustomComm::EscapeComm(TEscapeCode Code) {
    if (!Enabled()) RaiseCommError("Port not open, unable to complete operation", -1);
    // The escape codes are the driver's own numbers.
    if (!::EscapeCommFunction(handle_of(FHandle), static_cast<DWORD>(Code)))
        raise_os_error("EscapeCommFunction failure", ::GetLastError());
}

bool TCustomComm::GetModemState(int Index) {
    static constexpr DWORD Line_Bit[] = {MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON};
    DWORD Status = 0;
    if (!Enabled() || Index < 1 || Index > 4 || !::GetCommModemStatus(handle_of(FHandle), &Status))
        return false;
    return (Status & Line_Bit[Index - 1]) != 0;
}

namespace {

// How the monitor waits on Windows: WaitCommEvent, overlapped, on the monitor's own event, next to
// the wake-up event of Stop. Some drivers refuse the wait or end it at once with an error (Wine on
// a pseudo-terminal: error 50 when the mask holds a modem line, 995 after a few milliseconds
// otherwise). A failed wait is retried after a pause, so a refusing driver never makes the monitor
// spin; after Max_Failures failures in a row the monitor polls the driver instead:
//   EV_RXCHAR           the receive queue is longer than the last poll left it, less what reads
//                       and purges took since (Input_Taken). A read that ends while a poll runs
//                       may be counted by the next poll only: then bytes still waiting can be
//                       reported once more, but no arrival goes unreported.
//   EV_TXEMPTY          after Write queued output, the transmit queue reads 0.
//   EV_BREAK, EV_ERR    the error flags of the poll's ClearCommError. The poll clears the error
//                       state, so the flags it saw are kept for the component's next clear.
//   EV_CTS, EV_DSR,     GetCommModemStatus changed, where the driver answers it.
//   EV_RING, EV_RLSD
//   EV_RXFLAG           never: the queue cannot be read ahead for the event character.
// A driver that no longer answers the poll has lost its device: the monitor then waits for Stop.
constexpr DWORD Retry_Pause_Ms = 20;
constexpr int Max_Failures = 3;
constexpr DWORD Poll_Ms = 20;
constexpr DWORD Line_Error_Flags_Mask = CE_FRAME | CE_OVERRUN | CE_RXPARITY;

// Error flags a monitor's poll took from the driver, by device, until the component clears them.
std::mutex Taken_Lock;
struct TTaken {
    HANDLE Device;
    DWORD Errors;
};
std::vector<TTaken> Taken;

void keep_taken_errors(HANDLE Device, DWORD Errors) {
    std::lock_guard<std::mutex> Lock(Taken_Lock);
    for (TTaken& Each : Taken)
        if (Each.Device == Device) {
            Each.Errors |= Errors;
            return;
        }
    Taken.push_back({Device, Errors});
}

DWORD take_kept_errors(HANDLE Device) {
    std::lock_guard<std::mutex> Lock(Taken_Lock);
    for (auto It = Taken.begin(); It != Taken.end(); ++It)
        if (It->Device == Device) {
            const DWORD Errors = It->Errors;
            Taken.erase(It);
            return Errors;
        }
    return 0;
}

class TWin32_Event_Wait final : public TComm_Event_Wait {
public:
    TWin32_Event_Wait(HANDLE Device, std::uint32_t Mask, TLine_Counter_Reader Counters)
        : FDevice(Device), FMask(Mask), FCounters(std::move(Counters)),
          FDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          FWake(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        ::SetCommMask(FDevice, static_cast<DWORD>(FMask)); // a refusal leaves the driver's mask
        FHave_Counters = FCounters && FCounters(FLast);
        // Bytes that arrived before do not count.
        DWORD Errors = 0;
        COMSTAT Stat{};
        if (::ClearCommError(FDevice, &Errors, &Stat)) {
            FLast_In = Stat.cbInQue;
            if (Errors) keep_taken_errors(FDevice, Errors);
        }
        DWORD Lines = 0;
        FHave_Lines = ::GetCommModemStatus(FDevice, &Lines) != 0;
        FLast_Lines = Lines;
    }

    ~TWin32_Event_Wait() override { Release(); }

    std::uint32_t Wait() override {
        if (FDone == nullptr || FWake == nullptr) return Wait_For_Wake();
        while (!FStop.load(std::memory_order_acquire)) {
            if (FGone) return Wait_For_Wake();
            const std::uint32_t Status = FFailures >= Max_Failures ? Poll() : Wait_Driver();
            if (Status & FMask) return Status & FMask;
        }
        return 0;
    }

    void Wake() override {
        FStop.store(true, std::memory_order_release);
        if (FWake) ::SetEvent(FWake);
    }

    void Output_Queued() override { FOutput_Queued.store(true, std::memory_order_release); }

    void Input_Taken(std::uint64_t Count) override {
        std::uint64_t Now = FInput_Taken.load(std::memory_order_relaxed);
        while (!FInput_Taken.compare_exchange_weak(Now, std::min(Now + Count, All_Input),
                                                   std::memory_order_acq_rel))
            ;
    }

    void Purge() override {
        ::PurgeComm(FDevice, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    }

    void Release() override {
        if (FReleased) return;
        FReleased = true;
        take_kept_errors(FDevice);
        if (FDone) ::CloseHandle(FDone);
        if (FWake) ::CloseHandle(FWake);
        FDone = FWake = nullptr;
    }

private:
    std::uint32_t Wait_For_Wake() {
        if (FWake) ::WaitForSingleObject(FWake, INFINITE);
        return 0;
    }

    // One WaitCommEvent. A wait still pending when Stop wakes the monitor is ended and its end
    // waited for: the driver writes into the record and the mask until then.
    std::uint32_t Wait_Driver() {
        OVERLAPPED Record{};
        Record.hEvent = FDone;
        DWORD Events = 0;
        ::ResetEvent(FDone);
        bool Done = ::WaitCommEvent(FDevice, &Events, &Record) != 0;
        if (!Done) {
            if (::GetLastError() != ERROR_IO_PENDING) return Failed();
            const HANDLE Both[] = {FDone, FWake};
            const DWORD Which = ::WaitForMultipleObjects(2, Both, FALSE, INFINITE);
            DWORD Ignored = 0;
            if (Which != WAIT_OBJECT_0) {
                // A new mask ends a pending wait (Wine cancels no line-event wait by CancelIoEx);
                // the monitor is going, so its mask no longer matters.
                ::SetCommMask(FDevice, 0);
                ::CancelIoEx(FDevice, &Record); // fails when the wait has ended meanwhile
                ::GetOverlappedResult(FDevice, &Record, &Ignored, TRUE);
                return 0;
            }
            Done = ::GetOverlappedResult(FDevice, &Record, &Ignored, FALSE) != 0;
            if (!Done) return Failed();
        }
        FFailures = 0;
        return static_cast<std::uint32_t>(Events); // 0 when the mask was changed meanwhile
    }

    std::uint32_t Failed() {
        if (++FFailures < Max_Failures) ::WaitForSingleObject(FWake, Retry_Pause_Ms);
        return 0;
    }

    std::uint32_t Poll() {
        if (::WaitForSingleObject(FWake, Poll_Ms) != WAIT_TIMEOUT) return 0;
        std::uint32_t Status = 0;
        // Read before the queue: output queued from here on is seen by the next poll.
        const bool Output_Waits = FOutput_Queued.exchange(false, std::memory_order_acq_rel) || FOutput_Waits;
        const std::uint64_t Taken = FInput_Taken.exchange(0, std::memory_order_acq_rel);
        DWORD Errors = 0;
        COMSTAT Stat{};
        if (!::ClearCommError(FDevice, &Errors, &Stat)) {
            FGone = true;
            return 0;
        }
        if (Errors) keep_taken_errors(FDevice, Errors);
        if (Errors & CE_BREAK) Status |= EV_BREAK;
        if (Errors & Line_Error_Flags_Mask) Status |= EV_ERR;
        const std::uint64_t Left = FLast_In > Taken ? FLast_In - Taken : 0;
        if (Stat.cbInQue > Left) Status |= EV_RXCHAR;
        FLast_In = Stat.cbInQue;
        FOutput_Waits = Output_Waits && Stat.cbOutQue != 0;
        if (Output_Waits && Stat.cbOutQue == 0) Status |= EV_TXEMPTY;
        DWORD Lines = 0;
        if (FHave_Lines && ::GetCommModemStatus(FDevice, &Lines)) {
            static constexpr struct {
                DWORD Line;
                std::uint32_t Event;
            } Line_Event[] = {
                {MS_CTS_ON, EV_CTS}, {MS_DSR_ON, EV_DSR}, {MS_RING_ON, EV_RING}, {MS_RLSD_ON, EV_RLSD}};
            for (const auto& Each : Line_Event)
                if ((Lines ^ FLast_Lines) & Each.Line) Status |= Each.Event;
            FLast_Lines = Lines;
        }
        TLine_Counters Now;
        if (FHave_Counters && FCounters(Now)) {
            Status |= Line_Counter_Events(FLast, Now);
            FLast = Now;
        }
        return Status;
    }

    const HANDLE FDevice;
    const std::uint32_t FMask;
    TLine_Counter_Reader FCounters;
    HANDLE FDone;
    HANDLE FWake;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FOutput_Queued{false};
    std::atomic<std::uint64_t> FInput_Taken{0};
    bool FReleased = false;
    bool FGone = false;
    int FFailures = 0;
    bool FOutput_Waits = false;
    DWORD FLast_In = 0;
    bool FHave_Lines = false;
    DWORD FLast_Lines = 0;
    bool FHave_Counters = false;
    TLine_Counters FLast;
};

} // namespace

void Name_Monitor_Thread(std::thread& Thread) {
    ::pthread_setname_np(Thread.native_handle(), Monitor_Thread_Name);
}

std::unique_ptr<TComm_Event_Wait> TComm_Event_Wait::Create(THandle Handle, std::uint32_t Mask,
                                                           TLine_Counter_Reader Counters) {
    return std::make_unique<TWin32_Event_Wait>(handle_of(Handle), Mask, std::move(Counters));
}
