// The serial port component on the Windows serial interface: an overlapped device handle, the
// device control block, and transfers that wait on the component's completion event.

// Before <windows.h>, whose macros carry the names of the escape codes.
#include "comm_int.h"

#include "comm_dcb_win32.h"
#include "wide_text_win32.h"

#include <cstring>

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

class TLock {
public:
    explicit TLock(TCriticalSection& Section) : FSection(Section) { FSection.Enter(); }
    ~TLock() { FSection.Leave(); }
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;

private:
    TCriticalSection& FSection;
};

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
    return overlapped_transfer(Device, FEvent, FWriteTimeout, "Write error",
                               [&](DWORD* Done, OVERLAPPED* Record) {
                                   return ::WriteFile(Device, Buf, static_cast<DWORD>(Count), Done, Record);
                               });
}

std::int32_t TCustomComm::Read(void* Buf, std::int32_t Count) {
    TLock Lock(FCriticalSection);
    HANDLE Device = handle_of(FHandle);
    return overlapped_transfer(Device, FEvent, FReadTimeout, "Read error",
                               [&](DWORD* Done, OVERLAPPED* Record) {
                                   return ::ReadFile(Device, Buf, static_cast<DWORD>(Count), Done, Record);
                               });
}

namespace {

// The driver's queue counts and hold flags; false when the driver no longer answers (the device
// has gone), in which case Stat holds nothing.
bool comm_status(THandle Handle, COMSTAT& Stat) {
    DWORD Errors = 0;
    Stat = COMSTAT{};
    return ::ClearCommError(handle_of(Handle), &Errors, &Stat) != 0;
}

} // namespace

std::int32_t TCustomComm::InQueCount() {
    COMSTAT Stat;
    if (!Enabled() || !comm_status(FHandle, Stat)) return -1;
    return static_cast<std::int32_t>(Stat.cbInQue);
}

std::int32_t TCustomComm::OutQueCount() {
    COMSTAT Stat;
    if (!Enabled() || !comm_status(FHandle, Stat)) return -1;
    return static_cast<std::int32_t>(Stat.cbOutQue);
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
    if (Enabled()) ::PurgeComm(handle_of(FHandle), PURGE_RXABORT | PURGE_RXCLEAR);
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

bool TCustomComm::GetComStateFlag(int Index) {
    COMSTAT Stat;
    if (!Enabled() || Index < 1 || Index > 5 || !comm_status(FHandle, Stat)) return false;
    return (hold_flags_of(Stat) & (DWORD{1} << (Index - 1))) != 0;
}
