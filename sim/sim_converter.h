#pragma once
// A simulated SW40815 converter: it plays the converter's side of the line on a pseudo-terminal,
// so that the configurator, its command-line tool and their tests run without hardware.
//
//     TSimConverter sim;                       // or TSimConverter sim(options);
//     sim.Start();
//     ... open sim.Slave_Path() as a serial port and speak frames ...
//     sim.Wait_For([](const TSimCounters& c) { return c.Acks >= 8; }, std::chrono::seconds(10));
//     auto block = sim.Read_Memory(TSimMemory::Prg_Start, 128);
//
// It serves requests one at a time in the order they arrive, each exactly once; a line that is
// not a frame it serves gets no answer at all. A client may close and reopen the terminal any
// number of times: when the last client closes, whatever it left unanswered is dropped.

#include "sim_faults.h"
#include "sim_frame.h"
#include "sim_memory.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct TSimOptions {
    // Behave like a 115,200 baud line in both directions: a request counts as received when its
    // last character would have arrived (86.8 us a character), and answers leave at that rate.
    bool Pace = false;
    // Extra time a write to the program region takes before it is acknowledged.
    std::chrono::milliseconds Program_Delay{0};
    TSimFaultPlan Fault_Plan;
    // When not empty: a symbolic link to the terminal made here on Start (replacing what is
    // there) and removed on Stop, e.g. PORTS/COM7 beside the program, so it shows as a port.
    std::string Link;
};

// What the simulator has done so far. Every counter only grows; Wait_For wakes on each change.
struct TSimCounters {
    std::atomic<std::uint32_t> Reads{0};    // well-formed read requests taken, silent ones included
    std::atomic<std::uint32_t> Writes{0};   // well-formed write frames taken, stored unless silent
    std::atomic<std::uint32_t> Answers{0};  // read answers sent in full
    std::atomic<std::uint32_t> Acks{0};     // acknowledgements sent in full
    std::atomic<std::uint32_t> Rejected{0}; // lines refused: shape, digits, checksum, code or address
    std::atomic<std::uint32_t> Faults{0};   // faults injected
    // Times the last client closed the terminal. Once it has risen, the next client finds a
    // clean line, raw mode and no exclusive flag left by the one before.
    std::atomic<std::uint32_t> Closes{0};
    std::atomic<bool> Hung_Up{false}; // the hangup fault has closed the terminal
};

class TSimConverter {
public:
    explicit TSimConverter(TSimOptions Options = {});
    ~TSimConverter();
    TSimConverter(const TSimConverter&) = delete;
    TSimConverter& operator=(const TSimConverter&) = delete;

    // Opens the terminal and serves it on a thread of its own. Raises std::system_error when
    // the terminal or the link cannot be made, std::logic_error when called a second time.
    void Start();
    // Stops serving, closes the terminal and removes the link; the memory stays readable.
    void Stop();

    // The device path of the terminal's slave side, e.g. /dev/pts/3; empty before Start.
    const std::string& Slave_Path() const;

    // The memory, safe from any thread at any time. A range outside the address space raises
    // std::out_of_range.
    std::vector<std::uint8_t> Read_Memory(std::uint32_t Address, std::size_t Count) const;
    void Write_Memory(std::uint32_t Address, std::span<const std::uint8_t> Bytes);
    std::uint32_t Protection() const;
    void Set_Protection(std::uint32_t Word);
    // Writes the whole address space, byte N at offset N, through a temporary file beside Path
    // that then replaces it. False when that fails.
    bool Save_Memory(const std::string& Path) const;

    const TSimCounters& Counters() const;
    // Waits until Done holds or Timeout has passed; returns Done's last result.
    bool Wait_For(const std::function<bool(const TSimCounters&)>& Done,
                  std::chrono::milliseconds Timeout) const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};
