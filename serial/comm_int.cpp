// The platform-independent part of the serial port component: property rules, the order of Open
// and Close, and the error text format.

#include "comm_int.h"
#include "comm_event_wait.h"

#include <condition_variable>
#include <cstdio>

void RaiseCommError(const std::string& Message, std::int32_t Code) {
    char Suffix[32];
    std::snprintf(Suffix, sizeof Suffix, " (Error: %d) ", static_cast<int>(Code));
    throw ECommError(Message + Suffix, Code);
}

void TCommEventChars::Assign(const TCommEventChars& Source) {
    FXonChar = Source.FXonChar;
    FXoffChar = Source.FXoffChar;
    FErrorChar = Source.FErrorChar;
    FEofChar = Source.FEofChar;
    FEvtChar = Source.FEvtChar;
}

void TCommEventChars::SetEventChar(int Index, char Value) {
    switch (Index) {
    case 1:
        FXonChar = Value;
        break;
    case 2:
        FXoffChar = Value;
        break;
    case 3:
        FErrorChar = Value;
        break;
    case 4:
        FEofChar = Value;
        break;
    case 5:
        FEvtChar = Value;
        break;
    default:
        break;
    }
    if (FOwner) FOwner->UpdateDataControlBlock();
}

void TCustomComm::CheckClosed() const {
    if (Enabled()) RaiseCommError("Port already assigned (open)", -1);
}

void TCustomComm::Open() {
    CheckClosed();
    CreateHandle();
    if (!Enabled()) return;
    Start_Event_Monitor();
    UpdateCommTimeouts();
    UpdateDataControlBlock();
    Setup_Buffers();
}

void TCustomComm::Close() {
    if (!Enabled()) return;
    Stop_Event_Monitor();
    DestroyHandle();
}

void TCustomComm::Start_Event_Monitor() {
    {
        std::lock_guard<std::mutex> Lock(FClearLock);
        FHave_Cleared = Read_Line_Counters(FCleared);
    }
    FEventThread = std::make_unique<TCommEventThread>(
        FHandle, FMonitorEvents, FDispatcher,
        [this](TLine_Counters& Counters) { return Read_Line_Counters(Counters); });
    FEventThread->SetOnSignal(
        [this](TCommEventThread* Sender, std::uint32_t Status) { HandleSignal(Sender, Status); });
}

// The monitor is waited for, so that once the handle is closed (and the component perhaps
// destroyed) nothing of the monitor reaches either.
void TCustomComm::Stop_Event_Monitor() {
    if (!FEventThread) return;
    FEventThread->Stop();
    // Stopped from one of the nine events on the monitor's own thread, the monitor still has to
    // return from this dispatch: the next Open or the destructor waits for it.
    if (FEventThread->Ended()) FEventThread.reset();
}

bool TCustomComm::Read_Line_Counters(TLine_Counters& Counters) {
    return Enabled() && (FLineCounterReader ? FLineCounterReader(Counters) : Driver_Line_Counters(Counters));
}

void TCustomComm::HandleSignal(TCommEventThread*, std::uint32_t Status) {
    std::uint32_t Errors = 0;
    TComStat Stat;
    ClearCommError(Errors, Stat);
    // A handler that closes the port ends the dispatch: the rest would report on a closed port.
    auto wanted = [&](std::uint32_t Bit, bool Assigned) {
        return (Status & Bit) != 0 && Assigned && Enabled();
    };
    if (wanted(EV_BREAK, bool(FOnBreak))) FOnBreak(this);
    if (wanted(EV_CTS, bool(FOnCts))) FOnCts(this);
    if (wanted(EV_DSR, bool(FOnDsr))) FOnDsr(this);
    if (wanted(EV_ERR, bool(FOnError))) FOnError(this, static_cast<std::int32_t>(Errors));
    if (wanted(EV_RING, bool(FOnRing))) FOnRing(this);
    if (wanted(EV_RLSD, bool(FOnRlsd))) FOnRlsd(this);
    if (wanted(EV_RXCHAR, bool(FOnRxChar)) && Stat.cbInQue > 0)
        FOnRxChar(this, static_cast<std::int32_t>(Stat.cbInQue));
    if (wanted(EV_RXFLAG, bool(FOnRxFlag))) FOnRxFlag(this);
    if (wanted(EV_TXEMPTY, bool(FOnTxEmpty))) FOnTxEmpty(this);
}

std::uint32_t Event_Mask(TCommEventTypes Events) {
    std::uint32_t Mask = 0;
    for (std::size_t Type = 0; Type < std::size(Event_Mask_Bit); ++Type)
        if (Events.Contains(static_cast<TCommEventType>(Type))) Mask |= Event_Mask_Bit[Type];
    return Mask;
}

std::uint32_t Line_Error_Flags(const TLine_Counters& Before, const TLine_Counters& After) {
    std::uint32_t Flags = 0;
    if (After.Buf_Overrun != Before.Buf_Overrun) Flags |= CE_RXOVER;
    if (After.Overrun != Before.Overrun) Flags |= CE_OVERRUN;
    if (After.Parity != Before.Parity) Flags |= CE_RXPARITY;
    if (After.Frame != Before.Frame) Flags |= CE_FRAME;
    if (After.Break != Before.Break) Flags |= CE_BREAK;
    return Flags;
}

std::uint32_t Line_Counter_Events(const TLine_Counters& Before, const TLine_Counters& After) {
    std::uint32_t Events = 0;
    if (After.Break != Before.Break) Events |= EV_BREAK;
    // As elsewhere, a line error is a framing, overrun or parity error; a full receive queue is
    // only reported among the error flags.
    if (After.Frame != Before.Frame || After.Overrun != Before.Overrun || After.Parity != Before.Parity)
        Events |= EV_ERR;
    if (After.Cts != Before.Cts) Events |= EV_CTS;
    if (After.Dsr != Before.Dsr) Events |= EV_DSR;
    if (After.Ring != Before.Ring) Events |= EV_RING;
    if (After.Rlsd != Before.Rlsd) Events |= EV_RLSD;
    return Events;
}

// What the monitor's thread and the calls it posts share. A posted call keeps it alive, so a
// call that runs after Stop, even after the monitor is gone, finds Stopping and does nothing.
struct TCommEventThread::TShared {
    enum TCall { clNone, clPending, clRunning, clDone };

    std::unique_ptr<TComm_Event_Wait> Wait;
    TCommDispatcher Dispatcher;
    TCommEventThread* Sender = nullptr;

    std::mutex Lock;
    std::condition_variable Changed;
    TCommEvent OnSignal;
    bool Stopping = false;
    bool Released = false; // Stop ran on the monitor's own thread and did its last duties
    TCall Call = clNone;
    std::uint64_t Serial = 0; // the dispatch the pending call belongs to
    std::thread::id Runner;
    bool Failed = false; // OnSignal raised: the monitor ends

    void Run(std::uint64_t Call_Serial, std::uint32_t Status) {
        TCommEvent Handler;
        {
            std::lock_guard<std::mutex> Guard(Lock);
            if (Stopping || Call != clPending || Serial != Call_Serial) return;
            Call = clRunning;
            Runner = std::this_thread::get_id();
            Handler = OnSignal; // the monitor may be destroyed by the handler itself
        }
        bool Raised = false;
        try {
            if (Handler) Handler(Sender, Status);
        } catch (...) {
            Raised = true;
        }
        {
            std::lock_guard<std::mutex> Guard(Lock);
            Call = clDone;
            Runner = std::thread::id();
            Failed = Failed || Raised;
        }
        Changed.notify_all();
    }
};

TCommEventThread::TCommEventThread(THandle Handle, TCommEventTypes Events, TCommDispatcher Dispatcher,
                                   TLine_Counter_Reader Counters)
    : FShared(std::make_shared<TShared>()) {
    FShared->Wait = TComm_Event_Wait::Create(Handle, Event_Mask(Events), std::move(Counters));
    FShared->Dispatcher = std::move(Dispatcher);
    FShared->Sender = this;
    FThread = std::thread(Execute, FShared);
    Name_Monitor_Thread(FThread);
}

TCommEventThread::~TCommEventThread() {
    Stop();
    if (!FThread.joinable()) return;
    // Destroyed by OnSignal on the monitor's own thread: the rest of its run touches only what it shares.
    if (FThread.get_id() == std::this_thread::get_id())
        FThread.detach();
    else
        FThread.join();
}

void TCommEventThread::SetOnSignal(TCommEvent Value) {
    std::lock_guard<std::mutex> Guard(FShared->Lock);
    FShared->OnSignal = std::move(Value);
}

void TCommEventThread::Output_Queued() {
    FShared->Wait->Output_Queued();
}

void TCommEventThread::Input_Taken(std::uint64_t Count) {
    FShared->Wait->Input_Taken(Count);
}

void TCommEventThread::Execute(std::shared_ptr<TShared> Shared) {
    TShared& S = *Shared;
    for (;;) {
        const std::uint32_t Status = S.Wait->Wait();
        std::unique_lock<std::mutex> Guard(S.Lock);
        if (S.Stopping) break;
        if (Status == 0) continue;
        const std::uint64_t Serial = ++S.Serial;
        S.Call = TShared::clPending;
        Guard.unlock();

        auto Call = [Shared, Serial, Status] { Shared->Run(Serial, Status); };
        if (S.Dispatcher) {
            try {
                S.Dispatcher(std::move(Call));
            } catch (...) {
                Guard.lock();
                S.Failed = true;
                return;
            }
        } else {
            Call();
        }

        Guard.lock();
        S.Changed.wait(Guard, [&] { return S.Stopping || S.Call == TShared::clDone; });
        if (S.Failed) return; // ends where the exception left it, without the purge
        if (S.Stopping) break;
    }
    if (!S.Released) S.Wait->Purge();
}

void TCommEventThread::Stop() {
    TShared& S = *FShared;
    const std::thread::id Self = std::this_thread::get_id();
    {
        std::unique_lock<std::mutex> Guard(S.Lock);
        if (S.Stopping) return;
        S.Stopping = true;
        S.Changed.notify_all();
        // A call under way on another thread still uses the component; one on this thread is the
        // caller itself.
        S.Changed.wait(Guard, [&] { return S.Call != TShared::clRunning || S.Runner == Self; });
    }
    S.Wait->Wake();
    if (Self == FThread.get_id()) {
        // Called from OnSignal on the monitor's own thread, which cannot wait for itself: its last
        // duties happen here, while the handle is still open. The thread ends once OnSignal
        // returns and is joined when this object goes.
        S.Wait->Purge();
        {
            std::lock_guard<std::mutex> Guard(S.Lock);
            S.Released = true;
        }
        S.Wait->Release();
        return;
    }
    if (FThread.joinable()) FThread.join();
    S.Wait->Release();
}

bool TCommEventThread::Ended() const {
    return !FThread.joinable();
}

// Every reader of the queues clears the error state, as the driver's ClearCommError does.
std::int32_t TCustomComm::InQueCount() {
    std::uint32_t Errors;
    TComStat Stat;
    return ClearCommError(Errors, Stat) ? static_cast<std::int32_t>(Stat.cbInQue) : -1;
}

std::int32_t TCustomComm::OutQueCount() {
    std::uint32_t Errors;
    TComStat Stat;
    return ClearCommError(Errors, Stat) ? static_cast<std::int32_t>(Stat.cbOutQue) : -1;
}

// Flags 1 to 5 of the hold state: CTS, DSR, RLSD, XOFF received, XOFF sent.
bool TCustomComm::GetComStateFlag(int Index) {
    std::uint32_t Errors;
    TComStat Stat;
    if (Index < 1 || Index > 5 || !ClearCommError(Errors, Stat)) return false;
    return (Stat.Flags & (1u << (Index - 1))) != 0;
}

void TCustomComm::SetDeviceName(const std::string& Value) {
    if (Value == FDeviceName) return;
    CheckClosed();
    FDeviceName = Value;
}

void TCustomComm::SetMonitorEvents(TCommEventTypes Value) {
    if (Value == FMonitorEvents) return;
    CheckClosed();
    FMonitorEvents = Value;
}

void TCustomComm::SetReadBufSize(std::int32_t Value) {
    if (Value == FReadBufSize) return;
    CheckClosed();
    FReadBufSize = Value;
}

void TCustomComm::SetWriteBufSize(std::int32_t Value) {
    if (Value == FWriteBufSize) return;
    CheckClosed();
    FWriteBufSize = Value;
}

namespace {

// Stores Value and applies it to an open port; an unchanged value leaves the driver alone.
template <typename T, typename TApply> void store_and_apply(T& Field, T Value, TApply Apply) {
    if (Value == Field) return;
    Field = Value;
    Apply();
}

} // namespace

void TCustomComm::SetBaudRate(TBaudrate Value) {
    store_and_apply(FBaudRate, Value, [this] { UpdateDataControlBlock(); });
}

void TCustomComm::SetParity(TParity Value) {
    store_and_apply(FParity, Value, [this] { UpdateDataControlBlock(); });
}

void TCustomComm::SetStopbits(TStopbits Value) {
    store_and_apply(FStopbits, Value, [this] { UpdateDataControlBlock(); });
}

void TCustomComm::SetDatabits(TDatabits Value) {
    store_and_apply(FDatabits, Value, [this] { UpdateDataControlBlock(); });
}

void TCustomComm::SetOptions(TCommOptions Value) {
    store_and_apply(FOptions, Value, [this] { UpdateDataControlBlock(); });
}

void TCustomComm::SetFlowControl(TFlowControl Value) {
    store_and_apply(FFlowControl, Value, [this] { UpdateDataControlBlock(); });
}

void TCustomComm::SetDTRState(bool State) {
    EscapeComm(State ? SETDTR : CLRDTR);
}

void TCustomComm::SetRTSState(bool State) {
    EscapeComm(State ? SETRTS : CLRRTS);
}

void TCustomComm::SetXONState(bool State) {
    EscapeComm(State ? SETXON : SETXOFF);
}

void TCustomComm::SetBREAKState(bool State) {
    EscapeComm(State ? SETBREAK : CLRBREAK);
    PurgeIn();
    PurgeOut();
}
