#pragma once
// The serial port as the device link uses it. The link worker holds one of these, so it runs on
// the real TComm, on a port of the simulated converter, or on an in-memory double in tests.

#include "comm_types.h"

#include <cstdint>
#include <string>

class TSerialPort {
public:
    virtual ~TSerialPort() = default;

    // While closed a setting is only stored; Open applies them all.
    virtual void SetBaudRate(TBaudrate Value) = 0;
    virtual void SetDatabits(TDatabits Value) = 0;
    virtual void SetDeviceName(const std::string& Value) = 0;
    virtual void SetFlowControl(TFlowControl Value) = 0;
    virtual void SetParity(TParity Value) = 0;
    virtual void SetStopbits(TStopbits Value) = 0;

    // Opens DeviceName exclusively and applies the settings; raises ECommError on failure,
    // and after a failure to open the device the port is closed.
    virtual void Open() = 0;
    // Closes the device; nothing on a closed port.
    virtual void Close() = 0;

    // Raises ECommError when the port is closed (code -1) or the line cannot be changed.
    virtual void SetDTRState(bool State) = 0;

    // Drop pending output / received input; nothing on a closed port.
    virtual void PurgeIn() = 0;
    virtual void PurgeOut() = 0;

    // Returns once the driver has taken all Count bytes; -1 when that takes longer than
    // WriteTimeout. Raises ECommError when the transfer cannot start (device gone).
    virtual std::int32_t Write(const void* Buf, std::int32_t Count) = 0;
    // Takes at most Count bytes that have already arrived and returns at once (0 when none).
    // Raises ECommError when the transfer cannot start (device gone).
    virtual std::int32_t Read(void* Buf, std::int32_t Count) = 0;
    // Received bytes waiting; negative while the port is closed or once the device has gone away.
    virtual std::int32_t InQueCount() = 0;

    // Waits at most Milliseconds for a received byte to be waiting; returns at once when one
    // already is, or when the port is closed or gone. True when input is waiting.
    virtual bool WaitForInput(std::int32_t Milliseconds) = 0;
};
