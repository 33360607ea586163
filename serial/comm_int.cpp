// The platform-independent part of the serial port component: property rules, the order of Open
// and Close, and the error text format.

#include "comm_int.h"

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

// The line-event monitor is not built yet. Open starts it once the handle is valid and before the
// settings are written; Close stops it, and waits for its end, before the handle is closed.
void TCustomComm::Start_Event_Monitor() {}
void TCustomComm::Stop_Event_Monitor() {}

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
