#pragma once
// The serial port component (unit CommInt). The platform's realisation lives in its own source
// file; this header holds no operating-system types.

#include "comm_objs.h"
#include "comm_types.h"
#include "serial_port.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TCustomComm;
class TCommEventThread;

// Appends " (Error: <Code>) " to Message and raises it as an ECommError carrying Code.
[[noreturn]] void RaiseCommError(const std::string& Message, std::int32_t Code);

// True when the platform refused the device for lack of permission. The caller adds the advice
// (on Linux: membership of the group that owns the device).
bool Is_Permission_Error(const ECommError& Error);

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
    TCommEventThread* FEventThread = nullptr;
    std::unique_ptr<TCommEventChars> FEventChars;
    TCommOptions FOptions;
    TFlowControl FFlowControl = fcDefault;
    TNotifyEvent FOnBreak, FOnCts, FOnDsr;
    TCommErrorEvent FOnError;
    TNotifyEvent FOnRing, FOnRlsd;
    TCommRxCharEvent FOnRxChar;
    TNotifyEvent FOnRxFlag, FOnTxEmpty;
};

class TComm : public TCustomComm {};
