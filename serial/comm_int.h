#pragma once
// The serial port component (unit CommInt). The platform's realisation lives in its own source
// file; this header holds no operating-system types.

#include "comm_objs.h"
#include "comm_types.h"
#include "serial_port.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TCustomComm;
class TCommEventThread;
class TComm_Event_Wait;

// Appends " (Error: <Code>) " to Message and raises it as an ECommError carrying Code.
[[noreturn]] void RaiseCommError(const std::string& Message, std::int32_t Code);

// True when the platform refused the device for lack of permission. The caller adds the advice
// (on Linux: membership of the group that owns the device).
bool Is_Permission_Error(const ECommError& Error);

// Event mask bits, as the monitor reports them in Status.
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;

// The mask bit of each TCommEventType, by ordinal.
inline constexpr std::uint32_t Event_Mask_Bit[] = {EV_BREAK, EV_CTS,    EV_DSR,    EV_ERR,    EV_RING,
                                                   EV_RLSD,  EV_RXCHAR, EV_RXFLAG, EV_TXEMPTY};

std::uint32_t Event_Mask(TCommEventTypes Events);

// Error flags of ClearCommError: what went wrong on the line since the last clear.
inline constexpr std::uint32_t CE_RXOVER = 0x0001; // the receive queue overflowed
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;
inline constexpr std::uint32_t CE_FRAME = 0x0008;
inline constexpr std::uint32_t CE_BREAK = 0x0010;

// Queue state of ClearCommError. Flags: bit 0 CtsHold, 1 DsrHold, 2 RlsdHold, 3 XoffHold, 4 XOffSent.
struct TComStat {
    std::uint32_t Flags = 0;
    std::uint32_t cbInQue = 0;
    std::uint32_t cbOutQue = 0;
};

// Line events the driver has counted since the device was opened. Only changes mean anything.
struct TLine_Counters {
    std::uint32_t Cts = 0, Dsr = 0, Ring = 0, Rlsd = 0;
    std::uint32_t Frame = 0, Overrun = 0, Parity = 0, Break = 0, Buf_Overrun = 0;
};
// Reads the counters; false when the driver keeps none.
using TLine_Counter_Reader = std::function<bool(TLine_Counters& Counters)>;

// Runs Call once on the thread that owns the port's events (the interface thread) and returns
// without waiting for it. Call may run late, even after the port has closed: it then does nothing.
// Unset, the monitor runs its calls on its own thread.
using TCommDispatcher = std::function<void(std::function<void()> Call)>;

using TCommEvent = std::function<void(TCommEventThread* Sender, std::uint32_t Status)>;

// The name the monitor's threads carry (at most 15 characters, the kernel's limit).
inline constexpr char Monitor_Thread_Name[] = "sw-comm-monitor";

// The line-event monitor of one opening of a port: a thread that waits for the events of its mask
// and hands each Status to OnSignal through the dispatcher, waiting until that call has run.
class TCommEventThread {
public:
    // Starts the monitor on Handle; Counters tells line errors and breaks apart.
    TCommEventThread(THandle Handle, TCommEventTypes Events, TCommDispatcher Dispatcher,
                     TLine_Counter_Reader Counters);
    // Stops the monitor first when it still runs.
    ~TCommEventThread();
    TCommEventThread(const TCommEventThread&) = delete;
    TCommEventThread& operator=(const TCommEventThread&) = delete;

    // Ends the monitor. On return no call of OnSignal is under way on another thread, none will
    // start, and the monitor no longer uses Handle; the queues were purged unless the monitor had
    // already ended after an exception from OnSignal. Safe from inside OnSignal; on the monitor's
    // own thread it cannot wait for the thread, which then ends when OnSignal returns.
    void Stop();
    // True once the thread has been waited for; false after a Stop from the monitor's own thread.
    bool Ended() const;

    // Set before the first event can matter: right after construction, on the creating thread.
    void SetOnSignal(TCommEvent Value);

    // Tells a monitor waiting for EV_TXEMPTY that output was queued. Never blocks.
    void Output_Queued();
    void Input_Taken(std::uint64_t Count);

private:
    struct TShared;
    static void Execute(std::shared_ptr<TShared> Shared);

    std::shared_ptr<TShared> FShared;
    std::thread FThread;
};

using TNotifyEvent = std::function<void(TCustomComm* Sender)>;
using TCommRxCharEvent = std::function<void(TCustomComm* Sender, std::int32_t Count)>;
using TCommErrorEvent = std::function<void(TCustomComm* Sender, std::int32_t Errors)>;

// The five special characters of the port. Writing one applies it at once to the owner's open port.
class TCommEventChars {
public:
    explicit TCommEventChars(TCustomComm* Owner) : FOwner(Owner) {}
    TCommEventChars(const TCommEventChars&) = delete;
    TCommEventChars& operator=(const TCommEventChars&) = delete;

    // Copies the characters only; an open port of this object's owner is not updated.
    void Assign(const TCommEventChars& Source);

    char XonChar() const { return FXonChar; }
    char XoffChar() const { return FXoffChar; }
    char ErrorChar() const { return FErrorChar; }
    char EofChar() const { return FEofChar; }
    char EvtChar() const { return FEvtChar; }
    void SetXonChar(char Value) { SetEventChar(1, Value); }
    void SetXoffChar(char Value) { SetEventChar(2, Value); }
    void SetErrorChar(char Value) { SetEventChar(3, Value); }
    void SetEofChar(char Value) { SetEventChar(4, Value); }
    void SetEvtChar(char Value) { SetEventChar(5, Value); }

    // Index 1..5 in the order above; any other index stores nothing. The owner's port is updated
    // even when the character did not change.
    void SetEventChar(int Index, char Value);

private:
    TCustomComm* FOwner;
    char FXonChar = 17;
    char FXoffChar = 19;
    char FErrorChar = 0;
    char FEofChar = 0;
    char FEvtChar = 0;
};

class TCustomComm : public TSerialPort {
public:
    TCustomComm();
    TCustomComm(const TCustomComm&) = delete;
    TCustomComm& operator=(const TCustomComm&) = delete;
    ~TCustomComm() override;

    void Open() override;
    void Close() override;
    bool Enabled() const { return FHandle != Invalid_Handle; }

    std::int32_t Write(const void* Buf, std::int32_t Count) override;
    std::int32_t Read(void* Buf, std::int32_t Count) override;
    std::int32_t InQueCount() override;
    std::int32_t OutQueCount();
    bool WaitForInput(std::int32_t Milliseconds) override;
    void PurgeIn() override;
    void PurgeOut() override;

    void SetDTRState(bool State) override;
    void SetRTSState(bool State);
    void SetBREAKState(bool State);
    void SetXONState(bool State);

    THandle Handle() const { return FHandle; }
    bool CTS() { return GetModemState(1); }
    bool DSR() { return GetModemState(2); }
    bool RING() { return GetModemState(3); }
    bool RLSD() { return GetModemState(4); }
    bool CtsHold() { return GetComStateFlag(1); }
    bool DsrHold() { return GetComStateFlag(2); }
    bool RlsdHold() { return GetComStateFlag(3); }
    bool XoffHold() { return GetComStateFlag(4); }
    bool XOffSent() { return GetComStateFlag(5); }

    // The line's error flags (CE_) since the last clear, and the queue state; clears the error
    // state. False while the port is closed or its queues cannot be read (device gone).
    bool ClearCommError(std::uint32_t& Errors, TComStat& Stat);

    // The monitor's events go through Dispatcher from the next Open on.
    void SetDispatcher(TCommDispatcher Value) { FDispatcher = std::move(Value); }

    const std::string& DeviceName() const { return FDeviceName; }
    std::int32_t ReadTimeout() const { return FReadTimeout; }
    std::int32_t WriteTimeout() const { return FWriteTimeout; }
    std::int32_t ReadBufSize() const { return FReadBufSize; }
    std::int32_t WriteBufSize() const { return FWriteBufSize; }
    TCommEventTypes MonitorEvents() const { return FMonitorEvents; }
    TBaudrate BaudRate() const { return FBaudRate; }
    TParity Parity() const { return FParity; }
    TStopbits Stopbits() const { return FStopbits; }
    TDatabits Databits() const { return FDatabits; }
    TCommEventChars& EventChars() { return *FEventChars; }
    TCommOptions Options() const { return FOptions; }
    TFlowControl FlowControl() const { return FFlowControl; }

    // Refused with "Port already assigned (open)" while the port is open.
    void SetDeviceName(const std::string& Value) override;
    void SetMonitorEvents(TCommEventTypes Value);
    void SetReadBufSize(std::int32_t Value);
    void SetWriteBufSize(std::int32_t Value);
    // Applied at once while the port is open; stored although the driver refuses them.
    void SetBaudRate(TBaudrate Value) override;
    void SetParity(TParity Value) override;
    void SetStopbits(TStopbits Value) override;
    void SetDatabits(TDatabits Value) override;
    void SetOptions(TCommOptions Value);
    void SetFlowControl(TFlowControl Value) override;
    // Used from the next transfer.
    void SetReadTimeout(std::int32_t Value) { FReadTimeout = Value; }
    void SetWriteTimeout(std::int32_t Value) { FWriteTimeout = Value; }

    const TNotifyEvent& OnBreak() const { return FOnBreak; }
    const TNotifyEvent& OnCts() const { return FOnCts; }
    const TNotifyEvent& OnDsr() const { return FOnDsr; }
    const TCommErrorEvent& OnError() const { return FOnError; }
    const TNotifyEvent& OnRing() const { return FOnRing; }
    const TNotifyEvent& OnRlsd() const { return FOnRlsd; }
    const TCommRxCharEvent& OnRxChar() const { return FOnRxChar; }
    const TNotifyEvent& OnRxFlag() const { return FOnRxFlag; }
    const TNotifyEvent& OnTxEmpty() const { return FOnTxEmpty; }
    void SetOnBreak(TNotifyEvent Value) { FOnBreak = std::move(Value); }
    void SetOnCts(TNotifyEvent Value) { FOnCts = std::move(Value); }
    void SetOnDsr(TNotifyEvent Value) { FOnDsr = std::move(Value); }
    void SetOnError(TCommErrorEvent Value) { FOnError = std::move(Value); }
    void SetOnRing(TNotifyEvent Value) { FOnRing = std::move(Value); }
    void SetOnRlsd(TNotifyEvent Value) { FOnRlsd = std::move(Value); }
    void SetOnRxChar(TCommRxCharEvent Value) { FOnRxChar = std::move(Value); }
    void SetOnRxFlag(TNotifyEvent Value) { FOnRxFlag = std::move(Value); }
    void SetOnTxEmpty(TNotifyEvent Value) { FOnTxEmpty = std::move(Value); }

protected:
    // Opens DeviceName exclusively and checks that it is a terminal device; the port stays closed
    // when this raises.
    virtual void CreateHandle();
    void DestroyHandle();
    // Replaces the driver as the source of the line counters (a driver whose counters the kernel
    // does not offer, or a test). Set while the port is closed. The reader must not depend on
    // anything a derived class destroys: the monitor may read until the base class has closed.
    void SetLineCounterReader(TLine_Counter_Reader Reader) { FLineCounterReader = std::move(Reader); }
    // Dispatches one Status of the monitor to the nine events, on the dispatching thread.
    void HandleSignal(TCommEventThread* Sender, std::uint32_t Status);

private:
    friend class TCommEventChars;

    // The platform's device control block: the settings last read from and written to the
    // driver, and what Close restores.
    struct TDCB;

    enum TEscapeCode { SETXOFF = 1, SETXON, SETRTS, CLRRTS, SETDTR, CLRDTR, SETBREAK = 8, CLRBREAK };

    void CheckClosed() const;
    void Start_Event_Monitor();
    void Stop_Event_Monitor();
    void UpdateCommTimeouts();
    void UpdateDataControlBlock();
    void Setup_Buffers();
    void EscapeComm(TEscapeCode Code);
    bool GetModemState(int Index);
    bool GetComStateFlag(int Index);
    bool Read_Line_Counters(TLine_Counters& Counters);
    bool Driver_Line_Counters(TLine_Counters& Counters);

    THandle FHandle = Invalid_Handle;
    std::unique_ptr<TDCB> FDCB;
    std::string FDeviceName = "Com2";
    TSimpleEvent FEvent;
    TCriticalSection FCriticalSection;
    std::int32_t FReadTimeout = 1000;
    std::int32_t FWriteTimeout = 1000;
    std::int32_t FReadBufSize = 4096;
    std::int32_t FWriteBufSize = 2048;
    TCommEventTypes FMonitorEvents{evBreak, evCts,    evDsr,    evError,  evRing,
                                   evRlsd,  evRxChar, evRxFlag, evTxEmpty};
    TBaudrate FBaudRate = br9600;
    TParity FParity = paNone;
    TStopbits FStopbits = sb10;
    TDatabits FDatabits = da8;
    std::unique_ptr<TCommEventThread> FEventThread;
    std::unique_ptr<TCommEventChars> FEventChars;
    TCommOptions FOptions;
    TFlowControl FFlowControl = fcDefault;
    TNotifyEvent FOnBreak, FOnCts, FOnDsr;
    TCommErrorEvent FOnError;
    TNotifyEvent FOnRing, FOnRlsd;
    TCommRxCharEvent FOnRxChar;
    TNotifyEvent FOnRxFlag, FOnTxEmpty;
    TCommDispatcher FDispatcher;
    TLine_Counter_Reader FLineCounterReader;
    // The counters at the last clear: ClearCommError reports what changed since. The monitor's
    // dispatch and the link worker's queue counts clear from different threads.
    std::mutex FClearLock;
    TLine_Counters FCleared;
    bool FHave_Cleared = false;
};

class TComm : public TCustomComm {};
