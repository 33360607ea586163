#pragma once
// The platform's half of the line-event monitor: how it waits on the device. The monitor's thread
// calls Wait, Purge and Release; Wake, Output_Queued and Input_Taken come from other threads.

#include "comm_int.h"

#include <cstdint>
#include <memory>
#include <thread>

// The CE_ flags of what changed between two readings of the line counters.
std::uint32_t Line_Error_Flags(const TLine_Counters& Before, const TLine_Counters& After);
// The EV_ bits of what changed between two readings of the line counters.
std::uint32_t Line_Counter_Events(const TLine_Counters& Before, const TLine_Counters& After);

// Names Thread as a port's monitor, so that tools and tests can tell it apart.
void Name_Monitor_Thread(std::thread& Thread);

class TComm_Event_Wait {
public:
    // Arms the wait for the events of Mask on Handle. Events that happened before are not reported.
    static std::unique_ptr<TComm_Event_Wait> Create(THandle Handle, std::uint32_t Mask,
                                                    TLine_Counter_Reader Counters);
    virtual ~TComm_Event_Wait() = default;

    // Blocks until at least one event of the mask happened and returns them, or returns 0 once Wake
    // was called (and then at once on every later call).
    virtual std::uint32_t Wait() = 0;
    virtual void Wake() = 0;
    virtual void Output_Queued() = 0;
    // Count bytes left the receive queue through a read or a purge (All_Input: the whole queue).
    virtual void Input_Taken(std::uint64_t Count) = 0;
    static constexpr std::uint64_t All_Input = ~std::uint64_t{0} >> 1;
    // Drops both queues of the device.
    virtual void Purge() = 0;
    // Lets go of the device: helper threads end, and nothing of the device is used afterwards.
    virtual void Release() = 0;
};
